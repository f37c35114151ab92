#include "skype/SkypeTokens.h"

#include <limits>

namespace velantro::skype {

std::string NextToken(std::string& text, TDelimiters delimiters) {
    std::string_view rest = text;
    std::string word{NextToken(rest, delimiters)};
    text.erase(0, text.size() - rest.size());
    return word;
}

namespace {

int DigitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

int BaseAfterPrefix(std::string_view& digits) {
    std::size_t prefix = 0;
    if (!digits.empty() && (digits[0] == '$' || digits[0] == 'x' || digits[0] == 'X')) {
        prefix = 1;
    } else if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        prefix = 2;
    }
    digits.remove_prefix(prefix);
    return prefix == 0 ? 10 : 16;
}

} // namespace

std::optional<std::int32_t> ReadInteger(std::string_view word) {
    bool negative = false;
    if (!word.empty() && (word.front() == '+' || word.front() == '-')) {
        negative = word.front() == '-';
        word.remove_prefix(1);
    }
    const int base = BaseAfterPrefix(word);
    if (word.empty()) {
        return std::nullopt;
    }
    // The magnitude of INT32_MIN is the largest a negative value may reach.
    const std::uint64_t limit = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    std::uint64_t magnitude = 0;
    for (const char c : word) {
        unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
        if (digit > 9) {
            const int hex = base == 16 ? DigitValue(c, base) : -1;
            if (hex < 0) {
                return std::nullopt;
            }
            digit = static_cast<unsigned>(hex);
        }
        magnitude = magnitude * static_cast<unsigned>(base) + digit;
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    const auto value = static_cast<std::int64_t>(magnitude);
    return static_cast<std::int32_t>(negative ? -value : value);
}

} // namespace velantro::skype

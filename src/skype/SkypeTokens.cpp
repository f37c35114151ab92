#include "skype/SkypeTokens.h"

#include <limits>

namespace velantro::skype {

std::string_view NextToken(std::string_view& text, std::string_view delimiters) {
    const auto start = text.find_first_not_of(delimiters);
    if (start == std::string_view::npos) {
        text = {};
        return {};
    }
    auto end = text.find_first_of(delimiters, start);
    const auto word = text.substr(start, end == std::string_view::npos ? end : end - start);
    const auto rest = end == std::string_view::npos ? end : text.find_first_not_of(delimiters, end);
    text = rest == std::string_view::npos ? std::string_view{} : text.substr(rest);
    return word;
}

std::string NextToken(std::string& text, std::string_view delimiters) {
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
    for (std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (digits.starts_with(prefix)) {
            digits.remove_prefix(prefix.size());
            return 16;
        }
    }
    return 10;
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
    const std::int64_t limit =
        negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                 : std::numeric_limits<std::int32_t>::max();
    std::int64_t magnitude = 0;
    for (char c : word) {
        const int digit = DigitValue(c, base);
        if (digit < 0) {
            return std::nullopt;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

} // namespace velantro::skype

#include "common/IntegerText.h"

#include "common/AsciiText.h"

#include <algorithm>
#include <array>

namespace velantro::common {

namespace {

// The value of every byte as a hexadecimal digit; 0xFF for non-digits. A
// table, because the chat client's lines carry many numbers.
constexpr auto DigitValues = [] {
    std::array<std::uint8_t, 256> values{};
    for (std::size_t c = 0; c < values.size(); ++c) {
        const int digit = HexDigitValue(static_cast<unsigned char>(c));
        values[c] = static_cast<std::uint8_t>(digit < 0 ? 0xFF : digit);
    }
    return values;
}();

} // namespace

std::optional<std::int32_t> ReadInteger(std::string_view word) {
    const char* p = word.data();
    const char* const end = p + word.size();
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    unsigned base = 10;
    if (p != end && (*p == '$' || *p == 'x' || *p == 'X')) {
        base = 16;
        ++p;
    } else if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (p == end) {
        return std::nullopt;
    }
    if (base == 10 && end - p <= 9) {
        // The common case, an id of a few decimal digits: nine digits always
        // fit, so no range check is needed.
        std::int32_t value = 0;
        for (; p != end; ++p) {
            const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
            if (digit > 9) {
                return std::nullopt;
            }
            value = value * 10 + static_cast<std::int32_t>(digit);
        }
        return negative ? -value : value;
    }
    // The magnitude of INT32_MIN is the largest a negative value may reach.
    const std::uint64_t limit = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    std::uint64_t magnitude = 0;
    for (; p != end; ++p) {
        const unsigned digit = DigitValues[static_cast<unsigned char>(*p)];
        if (digit >= base) {
            return std::nullopt;
        }
        // Once past the limit, stay just past it: more digits cannot bring the
        // value back, and 64 bits never overflow this way.
        magnitude = std::min(magnitude * base + digit, limit + 1);
    }
    if (magnitude > limit) {
        return std::nullopt;
    }
    const auto value = static_cast<std::int64_t>(magnitude);
    return static_cast<std::int32_t>(negative ? -value : value);
}

} // namespace velantro::common

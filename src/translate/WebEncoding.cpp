#include "translate/WebEncoding.h"

#include "common/AsciiText.h"

#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>

namespace velantro::translate {

std::string WebEncode(std::u16string_view text) {
    try {
        std::string result;
        result.reserve(text.size() * 8);
        for (const char16_t unit : text) {
            result += "&#";
            result += std::to_string(static_cast<unsigned>(unit));
            result += ';';
        }
        return result;
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("WebEncode: ") + error.what());
    }
}

namespace {

constexpr char UpperHexDigits[] = "0123456789ABCDEF";

bool IsAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

std::string FormEncode(std::string_view value) {
    std::string result;
    result.reserve(value.size() * 3);
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsAsciiAlnum(byte)) {
            result += c;
        } else if (byte == ' ') {
            result += '+';
        } else {
            result += '%';
            result += UpperHexDigits[byte >> 4];
            result += UpperHexDigits[byte & 0x0F];
        }
    }
    return result;
}

std::string FormDecode(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c != '%') {
            result += c == '+' ? ' ' : c;
            ++i;
            continue;
        }
        // The escape consumes up to two characters after "%", whatever they are.
        const std::string_view digits = text.substr(i + 1, 2);
        i += 1 + digits.size();
        int value = 0;
        bool valid = !digits.empty();
        for (const char digit : digits) {
            const int nibble = common::HexDigitValue(digit);
            valid = valid && nibble >= 0;
            value = value * 16 + nibble;
        }
        if (valid && value >= 1 && value <= 255) {
            result += static_cast<char>(value);
        }
    }
    return result;
}

namespace {

void AppendCodePoint(std::u16string& out, char32_t value) {
    if (value <= 0xFFFF) {
        out += static_cast<char16_t>(value);
    } else {
        const char32_t offset = value - 0x10000;
        out += static_cast<char16_t>(0xD800 + (offset >> 10));
        out += static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
    }
}

} // namespace

namespace {

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

/// A high half followed by a low half is a character; any other half is
/// U+FFFD, so that the text is well-formed UTF-16.
void ReplaceLoneSurrogates(std::u16string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            ++i;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            text[i] = u'\uFFFD';
        }
    }
}

} // namespace

std::u16string Utf8Decode(std::string_view bytes) {
    std::u16string result;
    result.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i++]);
        if (lead < 0x80) {
            result += static_cast<char16_t>(lead);
            continue;
        }
        std::size_t continuations = 0;
        char32_t value = 0;
        if (lead >= 0xC0 && lead <= 0xDF) {
            continuations = 1;
            value = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            continuations = 2;
            value = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF7) {
            continuations = 3;
            value = lead & 0x07;
        } else {
            return {}; // a continuation byte, or F8 to FF: no sequence starts so
        }
        for (std::size_t n = 0; n < continuations; ++n, ++i) {
            if (i >= bytes.size()) {
                return {};
            }
            const auto next = static_cast<unsigned char>(bytes[i]);
            if ((next & 0xC0) != 0x80) {
                return {};
            }
            value = (value << 6) | (next & 0x3F);
        }
        // F4 90 80 80 and above name no character and have no UTF-16 form.
        if (value > 0x10FFFF) {
            return {};
        }
        AppendCodePoint(result, value);
    }
    ReplaceLoneSurrogates(result);
    return result;
}

namespace {

/// The well-formed character that starts at bytes[pos], moving pos past it;
/// nothing when there is none, pos then past the maximal subpart (at least
/// one byte). The ranges of the second byte are those of Unicode's table of
/// well-formed byte sequences.
std::optional<char32_t> NextCharacter(std::string_view bytes, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(bytes[pos++]);
    if (lead < 0x80) {
        return lead;
    }
    std::size_t continuations = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuations = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuations = 2;
        value = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuations = 3;
        value = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return std::nullopt;
    }
    for (std::size_t n = 0; n < continuations; ++n) {
        if (pos >= bytes.size()) {
            return std::nullopt;
        }
        const auto next = static_cast<unsigned char>(bytes[pos]);
        if (next < low || next > high) {
            return std::nullopt;
        }
        ++pos;
        value = (value << 6) | (next & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return value;
}

} // namespace

std::u16string Utf8DecodeReplacing(std::string_view bytes) {
    std::u16string result;
    result.reserve(bytes.size());
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::optional<char32_t> character = NextCharacter(bytes, pos);
        AppendCodePoint(result, character.value_or(U'\uFFFD'));
    }
    return result;
}

bool IsWellFormedUtf8(std::string_view bytes) {
    for (std::size_t pos = 0; pos < bytes.size();) {
        if (!NextCharacter(bytes, pos)) {
            return false;
        }
    }
    return true;
}

namespace {

struct NamedReference {
    std::u16string_view Name;
    std::u16string_view Result;
};

// Matched against the name exactly as received.
constexpr std::array<NamedReference, 24> CaseSensitiveNames = {{
    {u"uuml", u"\u00FC"},   {u"auml", u"\u00E4"},   {u"euml", u"\u00EB"},   {u"iuml", u"\u00EF"},
    {u"ouml", u"\u00F6"},   {u"szlig", u"\u00DF"},  {u"aacute", u"\u00E1"}, {u"eacute", u"\u00E9"},
    {u"iacute", u"\u00ED"}, {u"oacute", u"\u00F3"}, {u"uacute", u"\u00FA"}, {u"ntilde", u"\u00F1"},
    {u"yuml", u"\u00FF"},   {u"agrave", u"\u00E0"}, {u"egrave", u"\u00E8"}, {u"igrave", u"\u00EC"},
    {u"ograve", u"\u00F2"}, {u"ugrave", u"\u00F9"}, {u"acirc", u"\u00E2"},  {u"ecirc", u"\u00EA"},
    {u"icirc", u"\u00EE"},  {u"ocirc", u"\u00F4"},  {u"ucirc", u"\u00FB"},  {u"ccedil", u"\u00E7"},
}};

// Matched against the name in upper case, after the block above.
constexpr std::array<NamedReference, 5> UpperCaseNames = {{
    {u"ACUTE", u"'"},
    {u"AGRAVE", u"a"},
    {u"ECIRC", u"e"},
    {u"AELIG", u"AE"},
    {u"POUND", u"GBP"},
}};

/// The value of a numeric reference's text after "#": an optional sign, then
/// hexadecimal digits after "x", "X", "$", "0x" or "0X", else decimal ones,
/// up to the first character that is not a digit. Magnitudes are capped just
/// above the largest code point so that long digit runs cannot overflow.
/// Unlike common::ReadInteger, which rejects such a word, it reads what
/// digits there are: the service's references are taken as browsers take them.
std::int64_t ReadReferenceNumber(std::u16string_view text) {
    constexpr std::int64_t Cap = 0x110000;
    bool negative = false;
    if (!text.empty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text.remove_prefix(1);
    }
    int base = 10;
    for (std::u16string_view prefix : {u"0x", u"0X", u"x", u"X", u"$"}) {
        if (text.starts_with(prefix)) {
            text.remove_prefix(prefix.size());
            base = 16;
            break;
        }
    }
    std::int64_t value = 0;
    for (const char16_t c : text) {
        const int digit = common::HexDigitValue(c);
        if (digit < 0 || digit >= base) {
            break;
        }
        value = std::min(value * base + digit, Cap);
    }
    return negative ? -value : value;
}

void ResolveReference(std::u16string& out, std::u16string_view name) {
    if (name.size() >= 2) {
        if (name == u"#10063") {
            // The service marks list bullets with U+274F; a plain asterisk reads better.
            out += u'*';
            return;
        }
        if (name.front() == u'#') {
            const std::int64_t value = ReadReferenceNumber(name.substr(1));
            if (value > 0 && value <= 0x10FFFF) {
                AppendCodePoint(out, static_cast<char32_t>(value));
                return;
            }
        }
        for (const NamedReference& row : CaseSensitiveNames) {
            if (row.Name == name) {
                out += row.Result;
                return;
            }
        }
        const std::u16string upper = common::UpperAscii(name);
        for (const NamedReference& row : UpperCaseNames) {
            if (row.Name == upper) {
                out += row.Result;
                return;
            }
        }
    }
    out += u'&';
    out += name;
    out += u' ';
}

} // namespace

std::u16string WebDecode(std::u16string_view text) {
    std::u16string result;
    result.reserve(text.size());
    bool open = false;
    std::u16string name;
    for (const char16_t c : text) {
        if (c == u'&') {
            // A second "&" keeps the reference open and the name collected so far.
            open = true;
        } else if (!open) {
            result += c;
        } else if (c != u' ' && c != u';') {
            name += c;
        } else {
            open = false;
            ResolveReference(result, name);
            name.clear();
        }
    }
    return result;
}

} // namespace velantro::translate

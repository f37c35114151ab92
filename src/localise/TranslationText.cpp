#include "localise/TranslationText.h"

#include <limits>
#include <stdexcept>
#include <string>

namespace velantro::localise {

std::vector<std::string_view> SplitLines(std::string_view text, std::size_t maxLines) {
    if (const auto zero = text.find('\0'); zero != std::string_view::npos) {
        text = text.substr(0, zero);
    }
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size() && lines.size() < maxLines; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            continue;
        }
        lines.push_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        }
        start = i + 1;
    }
    if (start < text.size() && lines.size() < maxLines) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

namespace {

bool IsBlank(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x01 && byte <= 0x20;
}

/// Takes the fields of one line in turn.
class FieldReader {
public:
    explicit FieldReader(std::string_view line)
        : Line(line) {
        SkipBlanks();
    }

    /// Takes the next field; false when the line has no more. The field is a
    /// view of the line, or of Unquoted when doubled quotes had to be undone;
    /// it stays valid until the next call.
    bool Next(std::string_view& field) {
        field = {};
        if (EmptyFieldPending) {
            EmptyFieldPending = false;
            return true;
        }
        if (Pos >= Line.size()) {
            return false;
        }
        if (Line[Pos] == '"') {
            field = TakeQuoted();
        } else {
            const std::size_t start = Pos;
            while (Pos < Line.size() && Line[Pos] != ';' && !IsBlank(Line[Pos])) {
                ++Pos;
            }
            field = Line.substr(start, Pos - start);
        }
        SkipBlanks();
        if (Pos < Line.size() && Line[Pos] == ';') {
            // A ";" that ends the line is followed by one more, empty, field;
            // one followed by blanks only is not.
            EmptyFieldPending = Pos + 1 == Line.size();
            ++Pos;
            SkipBlanks();
        }
        return true;
    }

private:
    void SkipBlanks() {
        while (Pos < Line.size() && IsBlank(Line[Pos])) {
            ++Pos;
        }
    }

    /// A quoted field runs to the next quote that is not doubled; a doubled
    /// quote stands for one. Without its closing quote it runs to the end of
    /// the line.
    std::string_view TakeQuoted() {
        ++Pos;
        const std::size_t start = Pos;
        std::size_t quote = Line.find('"', Pos);
        if (quote == std::string_view::npos || quote + 1 >= Line.size() || Line[quote + 1] != '"') {
            // No doubled quote: the value is a plain slice of the line.
            Pos = quote == std::string_view::npos ? Line.size() : quote + 1;
            return Line.substr(start, std::min(quote, Line.size()) - start);
        }
        Unquoted.clear();
        for (;;) {
            if (quote == std::string_view::npos) {
                Unquoted.append(Line.substr(Pos));
                Pos = Line.size();
                return Unquoted;
            }
            Unquoted.append(Line.substr(Pos, quote - Pos));
            if (quote + 1 < Line.size() && Line[quote + 1] == '"') {
                Unquoted += '"';
                Pos = quote + 2;
                quote = Line.find('"', Pos);
            } else {
                Pos = quote + 1;
                return Unquoted;
            }
        }
    }

    std::string_view Line;
    std::size_t Pos = 0;
    bool EmptyFieldPending = false;
    std::string Unquoted;
};

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 99;
}

[[noreturn]] void ThrowMissingField(int index) {
    throw std::runtime_error("List index out of bounds (" + std::to_string(index) + ")");
}

} // namespace

std::optional<std::int32_t> ReadLanguageNumber(std::string_view field) {
    bool negative = false;
    if (!field.empty() && (field.front() == '+' || field.front() == '-')) {
        negative = field.front() == '-';
        field.remove_prefix(1);
    }
    int base = 10;
    for (std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (field.starts_with(prefix)) {
            field.remove_prefix(prefix.size());
            base = 16;
            break;
        }
    }
    if (field.empty()) {
        return std::nullopt;
    }
    // A negative value may reach the magnitude of INT32_MIN.
    const std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + negative;
    std::int64_t magnitude = 0;
    for (const char c : field) {
        const int digit = DigitValue(c);
        if (digit >= base) {
            return std::nullopt;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

void ReadTranslationLine(std::string_view line, TTranslation& entry) {
    FieldReader fields(line);
    std::string_view field;
    if (!fields.Next(field)) {
        ThrowMissingField(0);
    }
    entry.Key = field;
    if (!fields.Next(field)) {
        ThrowMissingField(1);
    }
    const auto lang = ReadLanguageNumber(field);
    if (!lang) {
        throw std::runtime_error("'" + std::string(field) + "' is not a valid integer value");
    }
    entry.Lang = *lang;
    if (!fields.Next(field)) {
        ThrowMissingField(2);
    }
    entry.Text = CyrillicToWide(field);
}

} // namespace velantro::localise

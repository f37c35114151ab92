#include "localise/TranslationText.h"

#include "common/IntegerText.h"

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

[[noreturn]] void ThrowMissingField(int index) {
    throw std::runtime_error("List index out of bounds (" + std::to_string(index) + ")");
}

} // namespace

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
    const auto lang = common::ReadInteger(field);
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

#include "JsonText.h"

#include "common/AsciiText.h"
#include "translate/WebEncoding.h"

#include <span>

namespace velantro::standins {

namespace {

using Path = std::span<const std::u16string_view>;

constexpr int MaxDepth = 64;

/// A recursive-descent reader that checks the whole text and keeps the
/// string at the path.
class JsonReader {
public:
    explicit JsonReader(std::string_view text)
        : Text(text) {}

    bool Document(Path path, std::optional<std::u16string>& found) {
        return Value(path, true, found, 0) && (SkipSpace(), At == Text.size());
    }

private:
    char Peek() const { return At < Text.size() ? Text[At] : '\0'; }

    bool Take(char c) {
        SkipSpace();
        if (Peek() != c) {
            return false;
        }
        ++At;
        return true;
    }

    void SkipSpace() {
        while (At < Text.size() &&
               (Text[At] == ' ' || Text[At] == '\t' || Text[At] == '\n' || Text[At] == '\r')) {
            ++At;
        }
    }

    bool Value(Path path, bool capture, std::optional<std::u16string>& found, int depth) {
        SkipSpace();
        if (depth > MaxDepth) {
            return false;
        }
        switch (Peek()) {
        case '"': {
            std::u16string text;
            if (!String(text)) {
                return false;
            }
            if (capture && path.empty() && !found) {
                found = std::move(text);
            }
            return true;
        }
        case '{':
            return Object(path, capture, found, depth);
        case '[':
            return Array(found, depth);
        case 't':
            return Word("true");
        case 'f':
            return Word("false");
        case 'n':
            return Word("null");
        default:
            return Number();
        }
    }

    bool Object(Path path, bool capture, std::optional<std::u16string>& found, int depth) {
        ++At;
        if (Take('}')) {
            return true;
        }
        do {
            std::u16string name;
            SkipSpace();
            if (!String(name) || !Take(':')) {
                return false;
            }
            const bool inPath = capture && !path.empty() && name == path.front();
            if (!Value(inPath ? path.subspan(1) : path, inPath, found, depth + 1)) {
                return false;
            }
        } while (Take(','));
        return Take('}');
    }

    bool Array(std::optional<std::u16string>& found, int depth) {
        ++At;
        if (Take(']')) {
            return true;
        }
        do {
            if (!Value({}, false, found, depth + 1)) {
                return false;
            }
        } while (Take(','));
        return Take(']');
    }

    bool Word(std::string_view word) {
        if (Text.substr(At, word.size()) != word) {
            return false;
        }
        At += word.size();
        return true;
    }

    bool Number() {
        const std::size_t start = At;
        while (At < Text.size() &&
               std::string_view("0123456789+-.eE").find(Text[At]) != std::string_view::npos) {
            ++At;
        }
        return At > start;
    }

    /// Reads a string at the current quote; raw bytes are UTF-8.
    bool String(std::u16string& text) {
        if (Peek() != '"') {
            return false;
        }
        ++At;
        while (At < Text.size()) {
            const std::size_t runEnd = Text.find_first_of("\"\\", At);
            if (runEnd == std::string_view::npos) {
                return false;
            }
            const std::string_view run = Text.substr(At, runEnd - At);
            for (const char c : run) {
                if (static_cast<unsigned char>(c) < 0x20) {
                    return false;
                }
            }
            const std::u16string decoded = translate::Utf8Decode(run);
            if (decoded.empty() && !run.empty()) {
                return false;
            }
            text += decoded;
            At = runEnd + 1;
            if (Text[runEnd] == '"') {
                return true;
            }
            if (!Escape(text)) {
                return false;
            }
        }
        return false;
    }

    /// The character after a backslash.
    bool Escape(std::u16string& text) {
        static constexpr std::string_view Simple = "\"\\/bfnrt";
        static constexpr std::u16string_view Meaning = u"\"\\/\b\f\n\r\t";
        const char c = Peek();
        ++At;
        if (const std::size_t index = Simple.find(c); index != std::string_view::npos) {
            text += Meaning[index];
            return true;
        }
        if (c != 'u' || At + 4 > Text.size()) {
            return false;
        }
        char16_t unit = 0;
        for (int i = 0; i < 4; ++i, ++At) {
            const char h = Text[At];
            const int digit = common::HexDigitValue(h);
            if (digit < 0) {
                return false;
            }
            unit = static_cast<char16_t>(unit * 16 + digit);
        }
        text += unit;
        return true;
    }

    std::string_view Text;
    std::size_t At = 0;
};

} // namespace

std::optional<std::u16string> JsonStringAt(std::string_view json,
                                           std::initializer_list<std::u16string_view> path) {
    std::optional<std::u16string> found;
    if (!JsonReader(json).Document(Path(path.begin(), path.size()), found)) {
        return std::nullopt;
    }
    return found;
}

} // namespace velantro::standins

#include "ApertiumText.h"

namespace velantro::standins {

namespace {

bool IsReserved(char c) {
    switch (c) {
    case '[':
    case ']':
    case '^':
    case '$':
    case '/':
    case '<':
    case '>':
    case '@':
    case '\\':
    case '{':
    case '}':
        return true;
    default:
        return false;
    }
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

/// One run of blanks: a single space travels as it is, anything else in a
/// superblank, which the pipeline passes through untouched.
void AppendBlank(std::string& stream, std::string_view blank) {
    if (blank == " ") {
        stream += ' ';
        return;
    }
    stream += '[';
    stream += blank;
    stream += ']';
}

} // namespace

std::string ToApertiumStream(std::string_view text) {
    std::string stream;
    stream.reserve(text.size() + text.size() / 8 + 4);
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\0') {
            ++i; // would end the text early for every tool of the pipeline
            continue;
        }
        if (!IsBlank(text[i])) {
            if (IsReserved(text[i])) {
                stream += '\\';
            }
            stream += text[i++];
            continue;
        }
        const std::size_t start = i;
        while (i < text.size() && IsBlank(text[i])) {
            ++i;
        }
        const std::string_view blank = text.substr(start, i - start);
        const bool paragraphBreak = blank.find('\n') != blank.rfind('\n');
        if (i == text.size() || paragraphBreak) {
            stream += ".[]";
        }
        AppendBlank(stream, blank);
    }
    if (text.empty() || !IsBlank(text.back())) {
        stream += ".[]";
    }
    return stream;
}

std::string FromApertiumStream(std::string_view stream) {
    std::string text;
    text.reserve(stream.size());
    bool inBlank = false;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        const char c = stream[i];
        if (c == '\\' && i + 1 < stream.size()) {
            text += stream[++i];
        } else if (!inBlank && c == '.' && stream.substr(i + 1, 2) == "[]") {
            i += 2; // a sentence end the stream's maker put there
        } else if (!inBlank && c == '[') {
            inBlank = true;
        } else if (inBlank && c == ']') {
            inBlank = false;
        } else {
            text += c;
        }
    }
    return text;
}

} // namespace velantro::standins

#include "platform/ini/ProfileText.h"

#include "common/AsciiText.h"

#include <algorithm>

namespace velantro::platform {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

/// Offsets into the text of [from, to) with the blanks around it left out.
std::pair<std::size_t, std::size_t> Trimmed(std::string_view text, std::size_t from,
                                            std::size_t to) {
    const std::string_view trimmed = common::TrimBlanks(text.substr(from, to - from));
    const auto begin = static_cast<std::size_t>(trimmed.data() - text.data());
    return {begin, begin + trimmed.size()};
}

/// One line of the text, by offsets: its contents (without "\r\n" or "\n"),
/// and where the next line starts.
struct Line {
    std::size_t Begin = 0;
    std::size_t End = 0;
    std::size_t Next = 0;
};

/// What a line is to the profile file.
struct Meaning {
    enum Kind { Other, Section, Key } What = Other;
    std::string_view Name;
    std::size_t ValueBegin = 0; // offsets of a key's value in the text
    std::size_t ValueEnd = 0;
};

Meaning Understand(std::string_view text, const Line& line) {
    const auto [begin, end] = Trimmed(text, line.Begin, line.End);
    if (begin == end || text[begin] == ';' || text[begin] == '#') {
        return {};
    }
    const std::string_view content = text.substr(begin, end - begin);
    if (content.front() == '[') {
        const std::size_t close = content.find(']');
        if (close == std::string_view::npos) {
            return {};
        }
        const auto [nameBegin, nameEnd] = Trimmed(text, begin + 1, begin + close);
        return {Meaning::Section, text.substr(nameBegin, nameEnd - nameBegin)};
    }
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        return {};
    }
    const auto [keyBegin, keyEnd] = Trimmed(text, begin, begin + equals);
    if (keyBegin == keyEnd) {
        return {};
    }
    auto [valueBegin, valueEnd] = Trimmed(text, begin + equals + 1, line.End);
    if (valueBegin == valueEnd) {
        valueBegin = valueEnd = begin + equals + 1; // an empty value goes right after "="
    }
    return {Meaning::Key, text.substr(keyBegin, keyEnd - keyBegin), valueBegin, valueEnd};
}

/// Calls visit(line, meaning, inSection) for each line until it gives true.
template <typename Visit>
void ForEachLine(std::string_view text, std::string_view section, Visit&& visit) {
    std::size_t position = text.starts_with(ByteOrderMark) ? ByteOrderMark.size() : 0;
    bool inSection = false;
    while (position < text.size()) {
        const std::size_t newline = text.find('\n', position);
        Line line{position, newline == std::string_view::npos ? text.size() : newline,
                  newline == std::string_view::npos ? text.size() : newline + 1};
        if (line.End > line.Begin && text[line.End - 1] == '\r') {
            --line.End;
        }
        const Meaning meaning = Understand(text, line);
        if (meaning.What == Meaning::Section) {
            inSection = common::EqualsNoCaseAscii(meaning.Name, section);
        }
        if (visit(line, meaning, inSection)) {
            return;
        }
        position = line.Next;
    }
}

std::string_view LineEnding(std::string_view text) {
    const std::size_t newline = text.find('\n');
    return newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r' ? "\r\n"
                                                                                         : "\n";
}

} // namespace

std::optional<std::string_view> FindProfileValue(std::string_view text, std::string_view section,
                                                 std::string_view key) {
    std::optional<std::string_view> value;
    ForEachLine(text, section, [&](const Line&, const Meaning& meaning, bool inSection) {
        if (inSection && meaning.What == Meaning::Key &&
            common::EqualsNoCaseAscii(meaning.Name, key)) {
            value = text.substr(meaning.ValueBegin, meaning.ValueEnd - meaning.ValueBegin);
            return true;
        }
        return false;
    });
    return value;
}

std::string WithProfileValue(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view value) {
    std::optional<std::pair<std::size_t, std::size_t>> replace;
    std::optional<Line> lastOfSection; // the first such section's header or last key
    bool sectionDone = false;
    ForEachLine(text, section, [&](const Line& line, const Meaning& meaning, bool inSection) {
        if (!inSection) {
            sectionDone = sectionDone || lastOfSection.has_value();
            return false;
        }
        if (meaning.What == Meaning::Key && common::EqualsNoCaseAscii(meaning.Name, key)) {
            replace = {meaning.ValueBegin, meaning.ValueEnd};
            return true;
        }
        if (!sectionDone && meaning.What != Meaning::Other) {
            lastOfSection = line;
        }
        return false;
    });
    std::string result(text);
    if (replace) {
        return result.replace(replace->first, replace->second - replace->first, value);
    }
    const std::string_view ending = LineEnding(text);
    const std::string keyLine = std::string(key) + "=" + std::string(value) + std::string(ending);
    std::size_t at = lastOfSection ? lastOfSection->Next : result.size();
    const std::size_t start = text.starts_with(ByteOrderMark) ? ByteOrderMark.size() : 0;
    if (at > start && result[at - 1] != '\n') {
        result.insert(at, ending); // the last line had no line ending yet
        at += ending.size();
    }
    return result.insert(at, lastOfSection ? keyLine
                                           : "[" + std::string(section) + "]" +
                                                 std::string(ending) + keyLine);
}

} // namespace velantro::platform

#include "platform/ini/ProfileText.h"

#include "common/AsciiText.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace velantro::platform {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

std::size_t TextStart(std::string_view text) {
    return text.starts_with(ByteOrderMark) ? ByteOrderMark.size() : 0;
}

bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}

/// Offsets into the text of [from, to) with the blanks around it left out.
std::pair<std::size_t, std::size_t> Trimmed(std::string_view text, std::size_t from,
                                            std::size_t to) {
    const std::string_view trimmed = common::TrimBlanks(text.substr(from, to - from));
    const auto begin = static_cast<std::size_t>(trimmed.data() - text.data());
    return {begin, begin + trimmed.size()};
}

/// One line of the text, by offsets: its contents (without its line end),
/// and where the next line starts.
struct Line {
    std::size_t Begin = 0;
    std::size_t End = 0;
    std::size_t Next = 0;
};

/// The lines of a text, after its byte order mark. The next CR and the next
/// LF are each looked for with memchr and remembered until passed, so a
/// text is scanned about twice whatever mix of line ends it has.
class LineReader {
public:
    explicit LineReader(std::string_view text)
        : Text(text)
        , Position(TextStart(text))
        , NextLf(Find('\n'))
        , NextCr(Find('\r')) {}

    bool AtEnd() const { return Position >= Text.size(); }

    Line Next() {
        const std::size_t end = std::min(Upcoming(NextLf, '\n'), Upcoming(NextCr, '\r'));
        Line line{Position, end, end};
        if (end < Text.size()) {
            const bool crLf = Text[end] == '\r' && end + 1 < Text.size() && Text[end + 1] == '\n';
            line.Next = end + (crLf ? 2 : 1);
        }
        Position = line.Next;
        return line;
    }

private:
    std::size_t Find(char c) const {
        const void* found = std::memchr(Text.data() + Position, c, Text.size() - Position);
        return found == nullptr
                   ? Text.size()
                   : static_cast<std::size_t>(static_cast<const char*>(found) - Text.data());
    }

    std::size_t Upcoming(std::size_t& remembered, char c) const {
        if (remembered < Position) {
            remembered = Find(c);
        }
        return remembered;
    }

    std::string_view Text;
    std::size_t Position;
    std::size_t NextLf;
    std::size_t NextCr;
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

/// The line end of the text's first line; LF when it has none.
std::string_view LineEnding(std::string_view text) {
    LineReader lines(text);
    if (lines.AtEnd()) {
        return "\n";
    }
    const Line first = lines.Next();
    return first.End < first.Next ? text.substr(first.End, first.Next - first.End) : "\n";
}

/// The edits of one section, each key once.
struct SectionEdits {
    struct Wanted {
        std::string_view Key;   // as first written
        std::string_view Value; // as last written
        bool Found = false;
    };
    std::string_view Section;
    std::vector<Wanted> Keys; // in the order first written, with the last value written
    bool In = false;          // the line being read is in the section
    bool FirstDone = false;   // the section's first stretch of lines has ended
    std::optional<Line> Last; // the first stretch's header or last key
    std::string Added;        // the lines for the keys not found
};

std::vector<SectionEdits> Grouped(std::span<const ProfileEdit> edits) {
    std::vector<SectionEdits> sections;
    for (const ProfileEdit& edit : edits) {
        auto section = std::find_if(sections.begin(), sections.end(), [&](const SectionEdits& s) {
            return common::EqualsNoCaseAscii(s.Section, edit.Section);
        });
        if (section == sections.end()) {
            section = sections.insert(sections.end(), SectionEdits{});
            section->Section = edit.Section;
        }
        auto& keys = section->Keys;
        const auto key = std::find_if(keys.begin(), keys.end(), [&](const SectionEdits::Wanted& k) {
            return common::EqualsNoCaseAscii(k.Key, edit.Key);
        });
        if (key == keys.end()) {
            keys.push_back({edit.Key, edit.Value});
        } else {
            key->Value = edit.Value;
        }
    }
    return sections;
}

/// A change to the text: Erase bytes at At give way to Insert. Where several
/// come at one place, replaced values go first, then keys added to a
/// section, then new sections, as edits made one after the other would.
struct Splice {
    std::size_t At = 0;
    std::size_t Erase = 0;
    int Order = 0;
    std::string_view Insert;
};

/// Finds each wanted key's first occurrence, which gets its new value, and
/// the line after which a section's missing keys go.
void Scan(std::string_view text, std::vector<SectionEdits>& sections,
          std::vector<Splice>& splices) {
    std::size_t missing = 0;
    for (const SectionEdits& section : sections) {
        missing += section.Keys.size();
    }
    for (LineReader lines(text); !lines.AtEnd() && missing > 0;) {
        const Line line = lines.Next();
        const Meaning meaning = Understand(text, line);
        for (SectionEdits& section : sections) {
            if (meaning.What == Meaning::Section) {
                section.In = common::EqualsNoCaseAscii(meaning.Name, section.Section);
            }
            if (!section.In) {
                section.FirstDone = section.FirstDone || section.Last.has_value();
                continue;
            }
            if (meaning.What == Meaning::Key) {
                for (SectionEdits::Wanted& wanted : section.Keys) {
                    if (!wanted.Found && common::EqualsNoCaseAscii(meaning.Name, wanted.Key)) {
                        wanted.Found = true;
                        --missing;
                        splices.push_back({meaning.ValueBegin,
                                           meaning.ValueEnd - meaning.ValueBegin, 0, wanted.Value});
                        break;
                    }
                }
            }
            if (!section.FirstDone && meaning.What != Meaning::Other) {
                section.Last = line;
            }
        }
    }
}

} // namespace

std::optional<std::string_view> FindProfileValue(std::string_view text, std::string_view section,
                                                 std::string_view key) {
    bool inSection = false;
    for (LineReader lines(text); !lines.AtEnd();) {
        const Meaning meaning = Understand(text, lines.Next());
        if (meaning.What == Meaning::Section) {
            inSection = common::EqualsNoCaseAscii(meaning.Name, section);
        } else if (inSection && meaning.What == Meaning::Key &&
                   common::EqualsNoCaseAscii(meaning.Name, key)) {
            return text.substr(meaning.ValueBegin, meaning.ValueEnd - meaning.ValueBegin);
        }
    }
    return std::nullopt;
}

void WriteEditedProfile(std::string_view text, std::span<const ProfileEdit> edits,
                        const std::function<void(std::string_view)>& write) {
    std::vector<SectionEdits> sections = Grouped(edits);
    std::vector<Splice> splices;
    Scan(text, sections, splices);
    const std::string_view ending = LineEnding(text);
    for (SectionEdits& section : sections) {
        for (const SectionEdits::Wanted& wanted : section.Keys) {
            if (!wanted.Found) {
                section.Added +=
                    std::string(wanted.Key) + "=" + std::string(wanted.Value) + std::string(ending);
            }
        }
        if (section.Added.empty()) {
            continue;
        }
        if (section.Last) {
            splices.push_back({section.Last->Next, 0, 1, section.Added});
        } else {
            section.Added.insert(0, "[" + std::string(section.Section) + "]" + std::string(ending));
            splices.push_back({text.size(), 0, 2, section.Added});
        }
    }
    std::stable_sort(splices.begin(), splices.end(), [](const Splice& a, const Splice& b) {
        return a.At != b.At ? a.At < b.At : a.Order < b.Order;
    });
    const std::size_t start = TextStart(text);
    std::size_t cursor = 0;
    bool lineEnded = false; // a line end was written at the current place
    for (const Splice& splice : splices) {
        if (splice.At > cursor) {
            write(text.substr(cursor, splice.At - cursor));
            lineEnded = false;
        }
        // A line added after a last line without its line end ends that one first.
        if (splice.Order > 0 && splice.At > start && !IsLineEnd(text[splice.At - 1]) &&
            !lineEnded) {
            write(ending);
            lineEnded = true;
        }
        write(splice.Insert);
        cursor = splice.At + splice.Erase;
    }
    if (cursor < text.size()) {
        write(text.substr(cursor));
    }
}

std::string WithProfileValues(std::string_view text, std::span<const ProfileEdit> edits) {
    std::string result;
    result.reserve(text.size() + 256);
    WriteEditedProfile(text, edits, [&result](std::string_view piece) { result += piece; });
    return result;
}

std::string WithProfileValue(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view value) {
    const ProfileEdit edit{std::string(section), std::string(key), std::string(value)};
    return WithProfileValues(text, std::span(&edit, 1));
}

} // namespace velantro::platform

#include "core/DisplayText.h"

#include "core/MainView.h"
#include "translate/WebEncoding.h"

namespace velantro::core {

namespace {

constexpr char16_t Replacement = u'\uFFFD';

/// What stands in for a character that would act rather than show, or the
/// character itself.
char16_t Shown(char16_t unit) {
    if (unit < 0x20) {
        return static_cast<char16_t>(0x2400 + unit); // ␀ … ␟
    }
    if (unit == 0x7F) {
        return u'\u2421'; // ␡
    }
    const bool c1 = unit >= 0x80 && unit <= 0x9F;
    const bool arabicMark = unit == 0x061C;
    const bool directionMark = unit == 0x200E || unit == 0x200F;
    const bool separator = unit == 0x2028 || unit == 0x2029;
    const bool embedding = unit >= 0x202A && unit <= 0x202E;
    const bool isolate = unit >= 0x2066 && unit <= 0x2069;
    return c1 || arabicMark || directionMark || separator || embedding || isolate ? Replacement
                                                                                  : unit;
}

std::u16string WithThousands(std::size_t number) {
    std::u16string digits;
    const std::string text = std::to_string(number);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i > 0 && (text.size() - i) % 3 == 0) {
            digits += u',';
        }
        digits += static_cast<char16_t>(text[i]);
    }
    return digits;
}

} // namespace

std::u16string HandleText(std::string_view handle) {
    std::u16string text = translate::Utf8Decode(handle);
    if (text.empty() && !handle.empty()) {
        text.assign(handle.begin(), handle.end());
        for (char16_t& unit : text) {
            unit = static_cast<unsigned char>(unit);
        }
    }
    for (char16_t& unit : text) {
        unit = Shown(unit);
    }
    return text;
}

std::u16string ShownEntry(std::u16string_view entry) {
    if (entry.size() <= MaxShownEntry) {
        return std::u16string(entry);
    }
    std::size_t cut = MaxShownEntry;
    const char16_t last = entry[cut - 1];
    if (last >= 0xD800 && last <= 0xDBFF) {
        --cut; // a high surrogate without its low half would show as garbage
    }
    std::u16string shown(entry.substr(0, cut));
    shown += u"\u2026 [cut: " + WithThousands(entry.size() - cut) + u" more characters not shown]";
    return shown;
}

std::u16string PlainEntry(const LogEntry& entry) {
    return HandleText(entry.Sender) + u": " + entry.Text;
}

std::vector<std::u16string> EntryLines(std::u16string_view text) {
    std::vector<std::u16string> lines(1);
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == u'\r' || text[at] == u'\n') {
            at += text[at] == u'\r' && at + 1 < text.size() && text[at + 1] == u'\n' ? 1 : 0;
            lines.emplace_back();
        } else {
            lines.back() += text[at];
        }
    }
    return lines;
}

} // namespace velantro::core

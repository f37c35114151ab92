#pragma once

// The text of a profile ("INI") file, read and edited line by line so that an
// edit changes one value and keeps every other byte: other sections,
// comments, lines it does not understand, blank lines, line endings and a
// byte order mark. A line ends at CR LF, at LF or at a CR on its own (the
// old Mac files).

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velantro::platform {

/// One key to set in a profile file's text.
struct ProfileEdit {
    std::string Section;
    std::string Key;
    std::string Value;
};

/// The value of the key's first occurrence in the section (names compare
/// without regard to case, a section may appear more than once), blanks
/// around it stripped; nullopt when there is none.
std::optional<std::string_view> FindProfileValue(std::string_view text, std::string_view section,
                                                 std::string_view key);

/// The text with every edit made, in one pass over it, as a run of pieces
/// handed to write in order (views into text and into the edits, valid
/// during the call): so a large text is never copied. The result is the one
/// WithProfileValue would give applied edit after edit; a key edited twice
/// takes the later value.
void WriteEditedProfile(std::string_view text, std::span<const ProfileEdit> edits,
                        const std::function<void(std::string_view)>& write);

/// The text with the key set to value: the value of the key's first
/// occurrence (the one FindProfileValue reads) replaced where it stands;
/// else a "key=value" line after the section's last key, or at the end of the
/// text under a new "[section]" line. New lines end as the text's first line
/// does (LF in a text without a line end).
std::string WithProfileValue(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view value);

/// WriteEditedProfile's pieces joined.
std::string WithProfileValues(std::string_view text, std::span<const ProfileEdit> edits);

} // namespace velantro::platform

#pragma once

// The text of a profile ("INI") file, read and edited line by line so that an
// edit changes one value and keeps every other byte: other sections,
// comments, lines it does not understand, blank lines, line endings and a
// byte order mark.

#include <optional>
#include <string>
#include <string_view>

namespace velantro::platform {

/// The value of the key's first occurrence in the section (names compare
/// without regard to case, a section may appear more than once), blanks
/// around it stripped; nullopt when there is none.
std::optional<std::string_view> FindProfileValue(std::string_view text, std::string_view section,
                                                 std::string_view key);

/// The text with the key set to value: the value of the key's first
/// occurrence (the one FindProfileValue reads) replaced where it stands;
/// else a "key=value" line after the section's last key, or at the end of the
/// text under a new "[section]" line. New lines end as the text's first line
/// does (LF in an empty text).
std::string WithProfileValue(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view value);

} // namespace velantro::platform

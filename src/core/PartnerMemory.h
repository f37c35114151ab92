#pragma once

// What is kept of conversation partners between runs, as profile-file text:
// each partner's "in" language in a section of the settings file of its own,
// and each draft in a file beside the settings. Keys are the partners'
// handles; a value holds one line, so a draft's line breaks are escaped.

#include <cstddef>
#include <string>
#include <string_view>

namespace velantro::core {

/// The settings file's section of each partner's "in" language.
inline constexpr std::string_view LanguagesSection = "Languages";
/// The drafts file's name, beside the settings file, and its one section.
inline constexpr std::string_view DraftsFileName = "velantro-drafts.ini";
inline constexpr std::string_view DraftsSection = "Drafts";

/// Whether handle can be a key of a profile file and be read back as itself:
/// not empty, no blanks at its ends, none of "=[];" and no control character.
bool FitsProfileKey(std::string_view handle);

/// draft as one value of at most maxBytes bytes: UTF-8 in double quotes
/// (so blanks at the ends stay), a backslash as "\\" and each line break
/// (CR LF) as "\n". A longer draft is cut at a whole character.
std::string DraftValue(std::u16string_view draft, std::size_t maxBytes);

/// The draft a value written by DraftValue holds; an unquoted value is taken
/// as it is, an unknown escape stays as written.
std::u16string DraftFromValue(std::string_view value);

} // namespace velantro::core

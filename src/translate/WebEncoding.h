#pragma once

// The text encodings of the translation exchange. The text to translate
// travels as decimal character references of its UTF-16 code units inside a
// percent-encoded form field; the reply comes back percent-encoded UTF-8 that
// may hold character references. All functions are pure.

#include <string>
#include <string_view>

namespace velantro::translate {

/// "&#", the unit's decimal value and ";" for every UTF-16 code unit, so a
/// character outside the BMP gives two references. A failure while building
/// the result is raised as "WebEncode: " and the underlying message.
std::string WebEncode(std::u16string_view text);

/// ASCII letters and digits unchanged, space as "+", every other byte as "%"
/// and two upper-case hexadecimal digits.
std::string FormEncode(std::string_view value);

/// "+" becomes a space; "%" takes up to two following characters, and writes
/// one byte when they are one or two hexadecimal digits with a value from 1
/// to 255; otherwise the three characters vanish.
std::string FormDecode(std::string_view text);

/// UTF-8 to UTF-16, leniently: an overlong form gives the character it
/// spells, and surrogate halves encoded one by one (as Windows and Java
/// write characters beyond the BMP) give their character when a high half
/// is followed by a low one, U+FFFD for a half on its own. Malformed input
/// makes the whole result empty: a byte that cannot start a sequence (80 to
/// BF, F8 to FF), a missing or wrong continuation byte, a sequence cut
/// short, or a four-byte sequence above U+10FFFF.
std::u16string Utf8Decode(std::string_view bytes);

/// UTF-8 to UTF-16 for text that must never vanish: each well-formed
/// character as it is, and each ill-formed sequence as one U+FFFD, a
/// sequence being the longest start of a well-formed character there
/// (Unicode's "maximal subpart" practice), or else one byte. Overlong forms,
/// encoded surrogate halves and values above U+10FFFF are ill-formed.
std::u16string Utf8DecodeReplacing(std::string_view bytes);

/// Whether bytes are well-formed UTF-8 in the strict sense of
/// Utf8DecodeReplacing.
bool IsWellFormedUtf8(std::string_view bytes);

/// Replaces character references: "&#" decimal or hexadecimal numbers and a
/// fixed set of named references, each ended by ";" or a space. Unknown or
/// malformed references are written back as "&", the name and a space; a
/// reference still open at the end of the text writes nothing.
std::u16string WebDecode(std::u16string_view text);

} // namespace velantro::translate

#pragma once

// The interface translation table: loaded once from the interface file, then
// looked up by component path and language number.

#include "localise/Component.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::localise {

/// The interface file's name, as the program opens it.
inline constexpr std::string_view InterfaceFileName = "vlintf.dat";

/// A handful of labels needs far less; these bound what a damaged or
/// crafted file can make the load hold in memory.
inline constexpr std::size_t MaxInterfaceTextBytes = std::size_t{16} * 1024 * 1024;
inline constexpr std::size_t MaxTranslations = 65536;

/// One entry of the table: the text that relabels the component at Key for
/// language Lang.
struct TTranslation {
    std::string Key; // component path, compared byte for byte
    std::int32_t Lang = 0;
    std::u16string Text;

    friend bool operator==(const TTranslation&, const TTranslation&) = default;
};

/// Prints an entry as {Key, Lang, "Text"} with non-ASCII code units as \uXXXX.
std::ostream& operator<<(std::ostream& out, const TTranslation& entry);

/// The process-wide table, in file order; empty until LoadTranslations runs.
const std::vector<TTranslation>& Translations();

/// Replaces the table with the entries of the interface file at path, one per
/// line of its text. A file that is missing or cannot be opened leaves the
/// table empty without an error. On a bad line it throws std::runtime_error
/// with "LoadTranslations:" followed by the reason, and the table keeps one
/// entry per line: complete ones before the bad line, what was set of the bad
/// line, empty ones after it. A text longer than MaxInterfaceTextBytes, or
/// with more lines than MaxTranslations, is read no further: the lines before
/// the limit are loaded as above and the error names the limit.
void LoadTranslations(const std::string& path);

/// The index of the first entry with exactly this key and language, or -1.
std::int32_t FindTranslation(std::string_view key, std::int32_t lang);

/// Relabels component and everything it owns for language lang: the key of
/// each component is the prefix with a full stop appended and leading full
/// stops removed, followed by its name; a found text goes to the component
/// by its kinds. A component is relabelled before the ones it owns.
void TranslateComponent(TComponent& component, std::string_view prefix, std::int32_t lang);

/// Relabels the whole application, whose root component is application.
void ApplyLanguage(TComponent& application, std::int32_t lang);

/// Turns the file's 8-bit text into UTF-16, one code unit per byte: bytes
/// 0xC0..0xFF become the Cyrillic letters U+0410..U+044F, all others keep
/// their value.
std::u16string CyrillicToWide(std::string_view text);

/// The folder the install puts the interface file in.
std::filesystem::path InstalledDataFolder();

/// Where the program finds its interface file: "vlintf.dat" in the working
/// directory when it is there, else the one in programDir, else the one in
/// dataDir. When none exists it gives the bare name, which loads an empty table.
std::string LocateInterfaceFile(const std::filesystem::path& programDir,
                                const std::filesystem::path& dataDir);

} // namespace velantro::localise

#pragma once

// The numeric language codes shared by the translation service and the
// interface texts.

#include <array>
#include <cstdint>

namespace velantro::translate {

/// The service's codes of the four languages, in the language lists' order:
/// English, Espanol, Francais, Български.
inline constexpr std::array<std::int32_t, 4> LangCodes = {1, 5, 6, 2};

/// The code of the language at a position of the language lists, which hold
/// "English", "Espanol", "Francais", "Български" in that order: 1, 5, 6, 2.
/// Any other position, -1 (nothing selected) included, gives 1 (English).
std::int32_t LangCodeFromComboIndex(std::int32_t position);

} // namespace velantro::translate

#pragma once

// The four languages of the translation service and what each engine calls
// them.

#include <cstdint>
#include <optional>
#include <string_view>

namespace velantro::standins {

/// In the order of the phrase book's columns.
enum class Language { English, Spanish, French, Bulgarian };

struct LanguageCodes {
    Language Name;
    /// The exchange's TargetLang code.
    std::int32_t Service;
    /// ISO 639-1, as LibreTranslate names languages.
    std::string_view Iso639_1;
    /// ISO 639-3, as Apertium's pairs and APy name languages.
    std::string_view Iso639_3;
};

/// The codes of a language.
const LanguageCodes& CodesOf(Language language);

/// The language a service code names: 1 English, 2 Bulgarian, 5 Spanish,
/// 6 French; other codes name none.
std::optional<Language> LanguageFromCode(std::int32_t code);

} // namespace velantro::standins

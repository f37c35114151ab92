#pragma once

// The translator stand-in's phrase book: a small, deterministic word-for-word
// translator between English, Spanish, French and Bulgarian.

#include <cstdint>
#include <string>
#include <string_view>

namespace velantro::standins {

enum class Language { English, Spanish, French, Bulgarian };

/// The language a service code names: 1 English, 2 Bulgarian, 5 Spanish,
/// 6 French; other codes name none.
bool LanguageFromCode(std::int32_t code, Language& language);

/// The language a text is most likely written in: Bulgarian when it holds
/// Cyrillic letters, otherwise the language with the most common words
/// found in it, English when none is found.
Language DetectLanguage(std::u16string_view text);

/// Translates word for word from the detected language into target. Words the
/// book lacks, numbers, punctuation and spacing pass through unchanged; a word
/// that begins with a capital letter keeps it, one in capitals stays so.
std::u16string TranslateText(std::u16string_view text, Language target);

} // namespace velantro::standins

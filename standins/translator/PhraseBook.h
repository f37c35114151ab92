#pragma once

// The translator stand-in's phrase book: a small, deterministic word-for-word
// translator between English, Spanish, French and Bulgarian.

#include "Languages.h"

#include <string>
#include <string_view>

namespace velantro::standins {

/// The language a text is most likely written in: Bulgarian when it holds
/// Cyrillic letters, otherwise the language with the highest score of its
/// own letters (ñ, ç, ...) and known words (the book's and a list of frequent
/// words) found in it, English when none is.
Language DetectLanguage(std::u16string_view text);

/// Translates word for word from the detected language into target. Words the
/// book lacks, numbers, punctuation and spacing pass through unchanged; a word
/// that begins with a capital letter keeps it, one in capitals stays so.
std::u16string TranslateText(std::u16string_view text, Language target);

} // namespace velantro::standins

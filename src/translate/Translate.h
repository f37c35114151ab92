#pragma once

// The translation exchange: a text and a language code in, the translation
// out, through the local translation program when its window is present and
// through the web endpoint otherwise.

#include "platform/WindowTitles.h"
#include "translate/Endpoints.h"
#include "translate/HttpClient.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace velantro::translate {

/// The form body: "l1=" and the form-encoded WebEncode of the text, then
/// "&TargetLang=" and the decimal code, then a final "&".
std::string BuildRequestBody(std::u16string_view text, std::int32_t languageCode);

/// The translated text in a reply body: what follows the first "l1=" (the
/// whole body when there is none), up to the first "&" after it.
std::string_view CutTranslation(std::string_view replyBody);

/// The error of a reply whose text is not UTF-8.
inline constexpr std::string_view InvalidReplyText =
    "The translation service's reply is not valid UTF-8.";

/// Form decoding, then UTF-8 decoding (Utf8Decode: overlong forms and
/// surrogate halves pass), then WebDecode. Raises HttpError with
/// InvalidReplyText when the form-decoded bytes are malformed UTF-8.
std::u16string DecodeTranslation(std::string_view cutText);

/// The endpoint a translation goes to now: the local program's when its
/// window is present, else the web endpoint.
const std::string& ChooseEndpoint(const Endpoints& endpoints, platform::WindowTitles& windows);

/// Translates text into the language with the given code through the
/// endpoint at url. Errors of the client propagate unaltered.
std::u16string TranslateAt(std::u16string_view text, std::int32_t languageCode, HttpClient& http,
                           const std::string& url);

/// Translates text into the language with the given code. Asks windows once
/// whether the local program runs, posts to the chosen endpoint through http
/// and decodes the reply. Errors of the client propagate unaltered.
std::u16string Translate(std::u16string_view text, std::int32_t languageCode, HttpClient& http,
                         const Endpoints& endpoints, platform::WindowTitles& windows);

} // namespace velantro::translate

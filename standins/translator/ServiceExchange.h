#pragma once

// Asking a translation server over HTTP, as the LibreTranslate and APy
// engines do.

#include <initializer_list>
#include <string>
#include <string_view>

namespace velantro::standins {

/// The server's "/translate" URL from its base URL ("http://host[:port]",
/// a trailing slash allowed). Raises std::invalid_argument for anything but
/// an http:// URL.
std::string TranslateUrl(std::string_view baseUrl);

/// Posts a form to url and gives back the string that path leads to in the
/// JSON reply. Raises EngineError, its message headed with engine, when the
/// server cannot be reached, answers with an error status or without the
/// string.
std::u16string PostForTranslation(std::string_view engine, const std::string& url,
                                  std::string_view form,
                                  std::initializer_list<std::u16string_view> path);

} // namespace velantro::standins

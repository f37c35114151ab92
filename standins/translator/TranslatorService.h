#pragma once

// What the translator stand-in answers to a translation request.

#include "Engine.h"
#include "HttpServer.h"

#include <string>
#include <string_view>

namespace velantro::standins {

/// The reply body for a request body of the form "l1=...&TargetLang=...&":
/// the text is read with the system's own decoders (form decoding, UTF-8,
/// character references), translated by engine, and written back as
/// "l1=", the form-encoded UTF-8 translation and "&". An "&" in the
/// translation is sent as the reference "&#38;" so that it survives the
/// client's reference decoding. An unknown or missing language code gives the
/// text back unchanged. The engine's EngineError passes through.
std::string AnswerRequestBody(std::string_view body, Engine& engine);

/// The stand-in's answer to an HTTP request: a POST to target (a query
/// ignored) gets 200 and AnswerRequestBody's reply, as text/html; anything
/// else gets 404. An engine that fails gives 500 with its reason in the
/// status line.
HttpReply AnswerRequest(const HttpRequest& request, std::string_view target, Engine& engine);

} // namespace velantro::standins

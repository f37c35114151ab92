#include "TranslatorService.h"

#include "common/IntegerText.h"
#include "translate/Utf8Encode.h"
#include "translate/WebEncoding.h"

#include <optional>

namespace velantro::standins {

namespace {

/// The raw (still form-encoded) value of the first field with this name.
std::optional<std::string_view> FieldValue(std::string_view body, std::string_view name) {
    while (!body.empty()) {
        const auto end = body.find('&');
        const std::string_view field = body.substr(0, end);
        if (field.size() > name.size() && field.starts_with(name) && field[name.size()] == '=') {
            return field.substr(name.size() + 1);
        }
        if (end == std::string_view::npos) {
            break;
        }
        body.remove_prefix(end + 1);
    }
    return std::nullopt;
}

} // namespace

std::string AnswerRequestBody(std::string_view body, Engine& engine) {
    using namespace velantro::translate;
    const std::string l1 = FormDecode(FieldValue(body, "l1").value_or(""));
    const std::u16string text = WebDecode(Utf8Decode(l1));
    const auto code =
        velantro::common::ReadDecimal(FormDecode(FieldValue(body, "TargetLang").value_or("")));

    const std::optional<Language> target = code ? LanguageFromCode(*code) : std::nullopt;
    const std::u16string translation = target ? engine.Translate(text, *target) : text;

    std::u16string protectedText;
    for (const char16_t c : translation) {
        protectedText += c == u'&' ? std::u16string(u"&#38;") : std::u16string(1, c);
    }
    return "l1=" + FormEncode(Utf8Encode(protectedText)) + "&";
}

HttpReply AnswerRequest(const HttpRequest& request, std::string_view target, Engine& engine) {
    const std::string_view path =
        std::string_view(request.Target).substr(0, request.Target.find('?'));
    if (request.Method != "POST" || path != target) {
        return {404, "Not Found", {}, {}};
    }
    try {
        return {200, "OK", "text/html", AnswerRequestBody(request.Body, engine)};
    } catch (const EngineError& error) {
        return {500, error.what(), {}, {}};
    }
}

} // namespace velantro::standins

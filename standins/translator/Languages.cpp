#include "Languages.h"

namespace velantro::standins {

namespace {

constexpr LanguageCodes Table[] = {
    {Language::English, 1, "en", "eng"},
    {Language::Spanish, 5, "es", "spa"},
    {Language::French, 6, "fr", "fra"},
    {Language::Bulgarian, 2, "bg", "bul"},
};

} // namespace

const LanguageCodes& CodesOf(Language language) {
    for (const LanguageCodes& codes : Table) {
        if (codes.Name == language) {
            return codes;
        }
    }
    return Table[0]; // unreachable: every language has a row
}

std::optional<Language> LanguageFromCode(std::int32_t code) {
    for (const LanguageCodes& codes : Table) {
        if (codes.Service == code) {
            return codes.Name;
        }
    }
    return std::nullopt;
}

} // namespace velantro::standins

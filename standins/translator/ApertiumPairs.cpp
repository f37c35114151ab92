#include "ApertiumPairs.h"

#include "PhraseBook.h"

#include <algorithm>
#include <map>

namespace velantro::standins {

namespace {

constexpr ApertiumPair Pairs[] = {
    {"eng", "spa", "eng-spa"}, {"spa", "eng", "spa-eng"}, {"fra", "spa", "fr-es"},
    {"spa", "fra", "es-fr"},   {"bul", "mkd", "bul-mkd"}, {"mkd", "eng", "mkd-eng"},
    {"mkd", "bul", "mkd-bul"},
};

} // namespace

std::span<const ApertiumPair> KnownPairs() {
    return Pairs;
}

std::vector<ApertiumPair> FindRoute(std::string_view from, std::string_view to,
                                    std::span<const ApertiumPair> pairs) {
    // Breadth first from the source; each language remembers the pair that
    // first reached it.
    std::map<std::string_view, const ApertiumPair*> reachedBy{{from, nullptr}};
    std::vector<std::string_view> frontier{from};
    while (!frontier.empty() && !reachedBy.contains(to)) {
        std::vector<std::string_view> next;
        for (const std::string_view language : frontier) {
            for (const ApertiumPair& pair : pairs) {
                if (pair.From == language && reachedBy.emplace(pair.To, &pair).second) {
                    next.push_back(pair.To);
                }
            }
        }
        frontier = std::move(next);
    }
    std::vector<ApertiumPair> route;
    if (from == to || !reachedBy.contains(to)) {
        return route;
    }
    for (const ApertiumPair* step = reachedBy[to]; step != nullptr; step = reachedBy[step->From]) {
        route.push_back(*step);
    }
    std::reverse(route.begin(), route.end());
    return route;
}

std::u16string TranslateAlongRoute(std::u16string_view text, Language target,
                                   std::span<const ApertiumPair> pairs,
                                   const PairTranslator& translatePair, const EngineNotes& notes,
                                   std::string_view engineName) {
    const Language source = DetectLanguage(text);
    if (source == target) {
        return std::u16string(text);
    }
    const std::string_view from = CodesOf(source).Iso639_3;
    const std::string_view to = CodesOf(target).Iso639_3;
    const std::vector<ApertiumPair> route = FindRoute(from, to, pairs);
    if (route.empty()) {
        notes(std::string(engineName) + ": no pair leads from " + std::string(from) + " to " +
              std::string(to) + "; the phrase book translates");
        return TranslateText(text, target);
    }
    std::u16string translation(text);
    for (const ApertiumPair& pair : route) {
        translation = translatePair(pair, translation);
    }
    return translation;
}

} // namespace velantro::standins

#pragma once

// Apertium's translation directions and the chains that join them.

#include "Engine.h"

#include <span>
#include <string_view>
#include <vector>

namespace velantro::standins {

/// One translation direction of an Apertium language pair. Languages are
/// ISO 639-3 codes, as APy names them; Mode is the name of Debian's mode.
struct ApertiumPair {
    std::string_view From;
    std::string_view To;
    std::string_view Mode;

    bool operator==(const ApertiumPair&) const = default;
};

/// The directions of Debian's apertium-eng-spa, apertium-fr-es,
/// apertium-mkd-eng and apertium-mkd-bul.
std::span<const ApertiumPair> KnownPairs();

/// The shortest chain of pairs that leads from one language to another, each
/// pair translating the previous one's output. Empty when none does, and
/// when from is to.
std::vector<ApertiumPair> FindRoute(std::string_view from, std::string_view to,
                                    std::span<const ApertiumPair> pairs);

/// Translates one text along one pair.
using PairTranslator = std::function<std::u16string(const ApertiumPair&, std::u16string_view)>;

/// Detects the language of text and translates it along the shortest route
/// of pairs to target, pair after pair. Where no route leads, the phrase book
/// translates and a note, headed with the engine's name, says so. A text
/// already in the target language comes back as it is.
std::u16string TranslateAlongRoute(std::u16string_view text, Language target,
                                   std::span<const ApertiumPair> pairs,
                                   const PairTranslator& translatePair, const EngineNotes& notes,
                                   std::string_view engineName);

} // namespace velantro::standins

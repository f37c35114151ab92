#include "HistoryFill.h"

#include <array>
#include <cstdio>
#include <random>
#include <string_view>

namespace velantro::history::bench {

namespace {

using Words = std::array<std::string_view, 16>;

// Language codes as the program numbers them: English, Spanish, French, Bulgarian.
constexpr std::array<std::int32_t, 4> Languages = {1, 3, 2, 4};

constexpr std::array<Words, 4> Vocabulary = {{
    {"shall", "we", "meet", "tomorrow", "at", "the", "station", "after", "work", "I", "think",
     "weather", "is", "lovely", "today", "friends"},
    {"nos", "vemos", "mañana", "en", "la", "estación", "después", "del", "trabajo", "creo", "que",
     "el", "tiempo", "está", "precioso", "amigos"},
    {"on", "se", "voit", "demain", "à", "la", "gare", "après", "le", "travail", "je", "pense",
     "temps", "est", "très", "été"},
    {"ще", "се", "видим", "утре", "на", "гарата", "след", "работа", "мисля", "че", "времето", "е",
     "прекрасно", "днес", "приятели", "чай"},
}};

std::string Sentence(std::mt19937& random, std::size_t language, std::size_t number) {
    std::string text;
    const auto words = 4 + random() % 21;
    for (std::uint32_t i = 0; i < words; ++i) {
        text += Vocabulary[language][random() % Vocabulary[language].size()];
        text += ' ';
    }
    if (random() % 50 == 0) {
        text += CommonWord;
        text += ' ';
    }
    return text + EntryWord(number);
}

StoredEntry MakeEntry(std::mt19937& random, std::size_t number, std::size_t partners) {
    StoredEntry entry;
    entry.Time = 1700000000 + static_cast<std::int64_t>(number) * 37;
    entry.Partner = PartnerHandle(number % partners);
    const std::size_t theirs = 1 + number % partners % 3; // each partner writes one language
    entry.Way = random() % 2 == 0 ? Direction::Received : Direction::Sent;
    const std::size_t from = entry.Way == Direction::Received ? theirs : 0;
    const std::size_t to = entry.Way == Direction::Received ? 0 : theirs;
    entry.FromLanguage = Languages[from];
    entry.ToLanguage = Languages[to];
    entry.Original = Sentence(random, from, number);
    entry.Translated = random() % 5 != 0;
    if (entry.Translated) {
        entry.Translation = Sentence(random, to, number);
    }
    entry.Result = entry.Way == Direction::Received ? Outcome::Shown : Outcome::Sent;
    return entry;
}

} // namespace

std::string EntryWord(std::size_t number) {
    char word[32];
    std::snprintf(word, sizeof word, "n%07zu", number);
    return word;
}

std::string PartnerHandle(std::size_t index) {
    char handle[32];
    std::snprintf(handle, sizeof handle, "friend.%03zu", index);
    return handle;
}

bool Fill(HistoryStore& store, std::size_t entries, std::size_t partners) {
    std::mt19937 random(20261208);
    for (std::size_t number = 0; number < entries; ++number) {
        if (!store.Append(MakeEntry(random, number, partners))) {
            return false;
        }
    }
    return true;
}

} // namespace velantro::history::bench

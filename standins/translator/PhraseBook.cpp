#include "PhraseBook.h"

#include "Engine.h"

#include <array>
#include <optional>
#include <vector>

namespace velantro::standins {

namespace {

/// One entry: the same word in English, Spanish, French and Bulgarian, in
/// lower case. The first entries double as the common words that tell the
/// languages apart.
using Entry = std::array<std::u16string_view, 4>;

constexpr Entry Book[] = {
    {u"the", u"el", u"le", u""},
    {u"and", u"y", u"et", u"и"},
    {u"is", u"es", u"est", u"е"},
    {u"i", u"yo", u"je", u"аз"},
    {u"you", u"tú", u"tu", u"ти"},
    {u"we", u"nosotros", u"nous", u"ние"},
    {u"not", u"no", u"pas", u"не"},
    {u"with", u"con", u"avec", u"с"},
    {u"for", u"para", u"pour", u"за"},
    {u"my", u"mi", u"mon", u"моят"},
    {u"your", u"tu", u"ton", u"твоят"},
    {u"what", u"qué", u"quoi", u"какво"},
    {u"how", u"cómo", u"comment", u"как"},
    {u"are", u"estás", u"vas", u"си"},
    {u"hello", u"hola", u"bonjour", u"здравей"},
    {u"goodbye", u"adiós", u"au revoir", u"довиждане"},
    {u"yes", u"sí", u"oui", u"да"},
    {u"please", u"por favor", u"s'il vous plaît", u"моля"},
    {u"thanks", u"gracias", u"merci", u"благодаря"},
    {u"friend", u"amigo", u"ami", u"приятел"},
    {u"friends", u"amigos", u"amis", u"приятели"},
    {u"world", u"mundo", u"monde", u"свят"},
    {u"good", u"bueno", u"bon", u"добър"},
    {u"morning", u"mañana", u"matin", u"утро"},
    {u"night", u"noche", u"nuit", u"нощ"},
    {u"day", u"día", u"jour", u"ден"},
    {u"today", u"hoy", u"aujourd'hui", u"днес"},
    {u"tomorrow", u"mañana", u"demain", u"утре"},
    {u"love", u"amor", u"amour", u"любов"},
    {u"house", u"casa", u"maison", u"къща"},
    {u"water", u"agua", u"eau", u"вода"},
    {u"coffee", u"café", u"café", u"кафе"},
    {u"tea", u"té", u"thé", u"чай"},
    {u"cat", u"gato", u"chat", u"котка"},
    {u"dog", u"perro", u"chien", u"куче"},
    {u"chat", u"charla", u"discussion", u"чат"},
    {u"message", u"mensaje", u"message", u"съобщение"},
    {u"time", u"tiempo", u"temps", u"време"},
    {u"see", u"ver", u"voir", u"виждам"},
    {u"soon", u"pronto", u"bientôt", u"скоро"},
    {u"very", u"muy", u"très", u"много"},
    {u"well", u"bien", u"bien", u"добре"},
    {u"here", u"aquí", u"ici", u"тук"},
    {u"where", u"dónde", u"où", u"къде"},
    {u"who", u"quién", u"qui", u"кой"},
};

// How many of the first entries count as common words for detection.
constexpr std::size_t CommonWords = 14;

/// Frequent words the book lacks that still tell freely typed English,
/// Spanish and French apart. Like the book's common words they count double;
/// a word of two languages scores for both.
struct FrequentWord {
    std::u16string_view Word;
    Language In;
};

constexpr FrequentWord FrequentWords[] = {
    {u"of", Language::English},     {u"to", Language::English},    {u"in", Language::English},
    {u"it", Language::English},     {u"this", Language::English},  {u"that", Language::English},
    {u"have", Language::English},   {u"was", Language::English},   {u"be", Language::English},
    {u"will", Language::English},   {u"can", Language::English},   {u"do", Language::English},
    {u"at", Language::English},     {u"on", Language::English},    {u"would", Language::English},
    {u"like", Language::English},   {u"am", Language::English},    {u"they", Language::English},
    {u"he", Language::English},     {u"she", Language::English},   {u"but", Language::English},
    {u"there", Language::English},  {u"from", Language::English},  {u"want", Language::English},
    {u"la", Language::Spanish},     {u"los", Language::Spanish},   {u"las", Language::Spanish},
    {u"de", Language::Spanish},     {u"que", Language::Spanish},   {u"un", Language::Spanish},
    {u"una", Language::Spanish},    {u"por", Language::Spanish},   {u"del", Language::Spanish},
    {u"al", Language::Spanish},     {u"está", Language::Spanish},  {u"pero", Language::Spanish},
    {u"estoy", Language::Spanish},  {u"tengo", Language::Spanish}, {u"quiero", Language::Spanish},
    {u"puedes", Language::Spanish}, {u"más", Language::Spanish},   {u"hay", Language::Spanish},
    {u"cuando", Language::Spanish}, {u"como", Language::Spanish},  {u"porque", Language::Spanish},
    {u"voy", Language::Spanish},    {u"eres", Language::Spanish},  {u"ella", Language::Spanish},
    {u"lo", Language::Spanish},     {u"su", Language::Spanish},    {u"ahora", Language::Spanish},
    {u"la", Language::French},      {u"les", Language::French},    {u"de", Language::French},
    {u"que", Language::French},     {u"un", Language::French},     {u"une", Language::French},
    {u"des", Language::French},     {u"du", Language::French},     {u"au", Language::French},
    {u"c'est", Language::French},   {u"suis", Language::French},   {u"mais", Language::French},
    {u"vous", Language::French},    {u"il", Language::French},     {u"elle", Language::French},
    {u"ce", Language::French},      {u"sur", Language::French},    {u"dans", Language::French},
    {u"ne", Language::French},      {u"j'ai", Language::French},   {u"aussi", Language::French},
    {u"plus", Language::French},    {u"peux", Language::French},   {u"vais", Language::French},
    {u"ça", Language::French},      {u"tout", Language::French},   {u"moi", Language::French},
};

/// Letters that one of the three languages writes and the others do not:
/// each occurrence counts once.
constexpr std::u16string_view SpanishLetters = u"ñ¿¡áíóú";
constexpr std::u16string_view FrenchLetters = u"àâçèêëîïôùûœ";

constexpr std::size_t Column(Language language) {
    return static_cast<std::size_t>(language);
}

bool IsCyrillic(char16_t c) {
    return c >= 0x0400 && c <= 0x04FF;
}

bool IsWordCharacter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'\'' ||
           (c >= 0x00C0 && c <= 0x024F && c != 0x00D7 && c != 0x00F7) || IsCyrillic(c);
}

char16_t Lower(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7)) {
        return static_cast<char16_t>(c + 0x20);
    }
    if (c >= 0x0410 && c <= 0x042F) {
        return static_cast<char16_t>(c + 0x20);
    }
    return c;
}

char16_t Upper(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0x00E0 && c <= 0x00FE && c != 0x00F7)) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c >= 0x0430 && c <= 0x044F) {
        return static_cast<char16_t>(c - 0x20);
    }
    return c;
}

bool IsUpper(char16_t c) {
    return Lower(c) != c;
}

std::u16string LowerWord(std::u16string_view word) {
    std::u16string lower(word);
    for (char16_t& c : lower) {
        c = Lower(c);
    }
    return lower;
}

/// Splits text into alternating runs of word and non-word characters.
std::vector<std::u16string_view> Runs(std::u16string_view text) {
    std::vector<std::u16string_view> runs;
    std::size_t start = 0;
    for (std::size_t i = 1; i <= text.size(); ++i) {
        if (i == text.size() || IsWordCharacter(text[i]) != IsWordCharacter(text[start])) {
            runs.push_back(text.substr(start, i - start));
            start = i;
        }
    }
    return runs;
}

std::optional<std::u16string_view> Look(std::u16string_view lowerWord, Language from, Language to) {
    for (const Entry& entry : Book) {
        if (!entry[Column(from)].empty() && entry[Column(from)] == lowerWord) {
            return entry[Column(to)];
        }
    }
    return std::nullopt;
}

/// Gives the translation the capitals of the original word.
std::u16string MatchCase(std::u16string_view original, std::u16string_view translation) {
    std::u16string result(translation);
    bool allUpper = original.size() > 1;
    for (const char16_t c : original) {
        allUpper = allUpper && (IsUpper(c) || !IsWordCharacter(c) || c == u'\'');
    }
    if (allUpper) {
        for (char16_t& c : result) {
            c = Upper(c);
        }
    } else if (!original.empty() && IsUpper(original.front()) && !result.empty()) {
        result.front() = Upper(result.front());
    }
    return result;
}

} // namespace

Language DetectLanguage(std::u16string_view text) {
    for (const char16_t c : text) {
        if (IsCyrillic(c)) {
            return Language::Bulgarian;
        }
    }
    std::array<int, 3> scores{};
    for (const char16_t c : text) {
        const char16_t lower = Lower(c);
        scores[Column(Language::Spanish)] +=
            SpanishLetters.find(lower) != std::u16string_view::npos;
        scores[Column(Language::French)] += FrenchLetters.find(lower) != std::u16string_view::npos;
    }
    for (const std::u16string_view run : Runs(text)) {
        if (run.empty() || !IsWordCharacter(run.front())) {
            continue;
        }
        const std::u16string word = LowerWord(run);
        for (const FrequentWord& frequent : FrequentWords) {
            if (frequent.Word == word) {
                scores[Column(frequent.In)] += 2;
            }
        }
        for (std::size_t entry = 0; entry < std::size(Book); ++entry) {
            // Common words count double: they decide between look-alike languages.
            const int weight = entry < CommonWords ? 2 : 1;
            for (std::size_t column = 0; column < scores.size(); ++column) {
                if (Book[entry][column] == word) {
                    scores[column] += weight;
                }
            }
        }
    }
    // Ties go to the earlier column: English, then Spanish, then French.
    std::size_t best = 0;
    for (std::size_t column = 1; column < scores.size(); ++column) {
        if (scores[column] > scores[best]) {
            best = column;
        }
    }
    return static_cast<Language>(best);
}

std::u16string TranslateText(std::u16string_view text, Language target) {
    const Language source = DetectLanguage(text);
    if (source == target) {
        return std::u16string(text);
    }
    std::u16string result;
    bool dropSpace = false;
    for (std::u16string_view run : Runs(text)) {
        if (!IsWordCharacter(run.front())) {
            if (dropSpace && run.front() == u' ') {
                run.remove_prefix(1);
            }
            dropSpace = false;
            result += run;
            continue;
        }
        dropSpace = false;
        const auto translation = Look(LowerWord(run), source, target);
        if (!translation) {
            result += run;
        } else if (translation->empty()) {
            // A word the target language does without ("the" in Bulgarian)
            // goes together with the space after it.
            dropSpace = true;
        } else {
            result += MatchCase(run, *translation);
        }
    }
    return result;
}

std::u16string PhraseBookEngine::Translate(std::u16string_view text, Language target) {
    return TranslateText(text, target);
}

} // namespace velantro::standins

#include "skype/SkypeTokens.h"

namespace velantro::skype {

std::string NextToken(std::string& text, TDelimiters delimiters) {
    std::string_view rest = text;
    std::string word{NextToken(rest, delimiters)};
    text.erase(0, text.size() - rest.size());
    return word;
}

} // namespace velantro::skype

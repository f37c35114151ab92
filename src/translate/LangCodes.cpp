#include "translate/LangCodes.h"

namespace velantro::translate {

std::int32_t LangCodeFromComboIndex(std::int32_t position) {
    // Positions in the lists' alphabetical order; the codes are the
    // service's own numbering, not that order.
    if (position < 0 || position >= static_cast<std::int32_t>(LangCodes.size())) {
        return 1;
    }
    return LangCodes[static_cast<std::size_t>(position)];
}

} // namespace velantro::translate

#include "translate/LangCodes.h"

#include <array>

namespace velantro::translate {

std::int32_t LangCodeFromComboIndex(std::int32_t position) {
    // Positions in the lists' alphabetical order; the codes are the
    // service's own numbering, not that order.
    constexpr std::array<std::int32_t, 4> Codes = {1, 5, 6, 2};
    if (position < 0 || position >= static_cast<std::int32_t>(Codes.size())) {
        return 1;
    }
    return Codes[static_cast<std::size_t>(position)];
}

} // namespace velantro::translate

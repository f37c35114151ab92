#include "translate/LangCodes.h"

#include <gtest/gtest.h>

namespace velantro::translate {
namespace {

TEST(LangCodeFromComboIndex, MapsListPositionsToServiceCodes) {
    struct Case {
        std::int32_t Position;
        std::int32_t Code;
    };
    const Case cases[] = {
        {0, 1}, {1, 5}, {2, 6}, {3, 2}, {-1, 1}, {4, 1}, {INT32_MIN, 1}, {INT32_MAX, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LangCodeFromComboIndex(c.Position), c.Code) << "position " << c.Position;
    }
}

} // namespace
} // namespace velantro::translate

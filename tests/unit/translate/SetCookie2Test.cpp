#include "translate/SetCookie2.h"

#include <gtest/gtest.h>

namespace velantro::translate {
namespace {

TEST(SetCookie2Lines, CookiesOfOneHeaderAsStoreLines) {
    constexpr std::int64_t Now = 1'000'000;
    struct Case {
        std::string_view Value;
        std::string_view Host;
        std::vector<std::string> Lines;
    };
    const Case cases[] = {
        {"a=1", "web.test", {"web.test\tFALSE\t/\tFALSE\t0\ta\t1"}},
        {"lang=\"es\"; Version=\"1\"; Path=\"/\"",
         "web.test",
         {"web.test\tFALSE\t/\tFALSE\t0\tlang\t\"es\""}},
        // Commas inside quoted strings do not separate cookies.
        {"a=1; Port=\"80,8080\", b=\"x, y\"; Discard",
         "web.test",
         {"web.test\tFALSE\t/\tFALSE\t0\ta\t1", "web.test\tFALSE\t/\tFALSE\t0\tb\t\"x, y\""}},
        {"a=1; domain=.Web.Test; SECURE; Max-Age=60",
         "www.web.test",
         {".web.test\tTRUE\t/\tTRUE\t1000060\ta\t1"}},
        {"a=1; Max-Age=0", "web.test", {"web.test\tFALSE\t/\tFALSE\t1\ta\t1"}},
        {"a=1; Max-Age=soon; Path=/vl", "web.test", {"web.test\tFALSE\t/vl\tFALSE\t0\ta\t1"}},
        // Left out: a foreign or top-level Domain, a Path the request lies
        // outside, reserved, empty or missing names, control characters.
        {"a=1; Domain=other.test, b=2; Domain=test, c=3; Path=/other", "web.test", {}},
        {"$Version=1, =2, flag; Path=/, d=\"x\ty\"", "web.test", {}},
        // On an IP address Domain is only the address itself, never a tail.
        {"a=1; Domain=0.1, b=2; Domain=0.0.1", "127.0.0.1", {}},
        {"a=1; Domain=127.0.0.1", "127.0.0.1", {"127.0.0.1\tFALSE\t/\tFALSE\t0\ta\t1"}},
        {"a=1; Domain=\"[::1]\"", "[::1]", {"[::1]\tFALSE\t/\tFALSE\t0\ta\t1"}},
        {"a=1; Domain=web.test", "1.web.test", {".web.test\tTRUE\t/\tFALSE\t0\ta\t1"}},
        {"", "web.test", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SetCookie2Lines(c.Value, c.Host, "/vl.asp", Now), c.Lines) << c.Value;
    }
}

} // namespace
} // namespace velantro::translate

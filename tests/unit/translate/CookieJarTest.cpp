#include "translate/CookieJar.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velantro::translate {
namespace {

constexpr std::int64_t Now = 1'000'000;

std::string Line(const std::string& domain, const std::string& name, const std::string& value,
                 std::int64_t expires = 0, const std::string& path = "/") {
    return domain + "\tFALSE\t" + path + "\tFALSE\t" + std::to_string(expires) + "\t" + name +
           "\t" + value;
}

TEST(CookieJar, KeepsTheNewestWithinEachDomainAndInAll) {
    struct Case {
        const char* Name;
        std::vector<std::string> Lines;
        std::string Host;
        std::string Header;
        std::size_t Size;
    };
    std::vector<std::string> sixty;
    std::vector<std::string> twoDomains;
    for (int n = 0; n < 60; ++n) {
        sixty.push_back(Line("a.test", "c" + std::to_string(n), "v"));
        twoDomains.push_back(Line(n % 2 ? "a.test" : "b.test", "c" + std::to_string(n), "v"));
    }
    std::string fifty;
    std::string evens;
    for (int n = 0; n < 60; ++n) {
        if (n >= 10) {
            fifty += (fifty.empty() ? "" : "; ") + std::string("c") + std::to_string(n) + "=v";
        }
        if (n % 2 == 0) {
            evens += (evens.empty() ? "" : "; ") + std::string("c") + std::to_string(n) + "=v";
        }
    }
    // The oldest cookie replaced before the others come: it is still the
    // oldest, and the first to go.
    std::vector<std::string> replaced = sixty;
    replaced.insert(replaced.begin() + 50, Line("a.test", "c0", "new"));
    const Case cases[] = {
        {"60 for one domain: the oldest 10 go", sixty, "a.test", fifty, 50},
        {"30 each for two domains: all stay", twoDomains, "b.test", evens, 60},
        {"a replaced cookie keeps its age", replaced, "a.test", fifty, 50},
        {"4,096 bytes of name and value, and one more",
         {Line("a.test", "n", std::string(4095, 'x')), Line("a.test", "m", std::string(4096, 'y'))},
         "a.test",
         "n=" + std::string(4095, 'x'),
         1},
        {"expired: deletes the stored one, is never stored itself",
         {Line("a.test", "a", "1"), Line("a.test", "b", "2"), Line("a.test", "a", "x", Now - 1),
          Line("a.test", "c", "3", Now)},
         "a.test",
         "b=2",
         1},
        {"a tail-matching cookie never reaches an IP address",
         {".0.1\tTRUE\t/\tFALSE\t0\ta\t1", ".127.0.0.1\tTRUE\t/\tFALSE\t0\tb\t2"},
         "10.0.0.1",
         "",
         2},
        {"a cookie of an IP address goes back to it",
         {".0.1\tTRUE\t/\tFALSE\t0\ta\t1", "127.0.0.1\tFALSE\t/\tFALSE\t0\tb\t2"},
         "127.0.0.1",
         "b=2",
         2},
        {"unreadable lines are ignored",
         {"a.test\tFALSE\t/", Line("a.test", "e", "1", 0).replace(21, 1, "z")},
         "a.test",
         "",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CookieJar jar;
        for (const std::string& line : c.Lines) {
            jar.Store(line, Now);
        }
        EXPECT_EQ(jar.HeaderFor(c.Host, "/", Now), c.Header);
        EXPECT_EQ(jar.Size(), c.Size);
    }
}

TEST(CookieJar, HoldsAtMostItsOverallLimit) {
    CookieJar jar;
    const int domains = static_cast<int>(CookieJar::MaxCookies / CookieJar::MaxPerDomain) + 2;
    for (int d = 0; d < domains; ++d) {
        for (std::size_t n = 0; n < CookieJar::MaxPerDomain; ++n) {
            jar.Store(Line("d" + std::to_string(d) + ".test", "c" + std::to_string(n), "v"), Now);
        }
    }
    EXPECT_EQ(jar.Size(), CookieJar::MaxCookies);
    EXPECT_EQ(jar.HeaderFor("d0.test", "/", Now), "");
    EXPECT_EQ(jar.HeaderFor("d1.test", "/", Now), "");
    EXPECT_NE(jar.HeaderFor("d2.test", "/", Now), "");
}

} // namespace
} // namespace velantro::translate

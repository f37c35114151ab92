#include "translate/Translate.h"

#include "TitleListWindows.h"
#include "translate/Endpoints.h"

#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>

namespace velantro::translate {
namespace {

using testing::TitleListWindows;

/// Records every post and answers with a fixed reply, or raises an error.
class RecordingClient : public HttpClient {
public:
    struct Post {
        std::string Url;
        std::string Body;
    };
    std::vector<Post> Posts;
    std::string ReplyBody = "l1=ok&";
    std::optional<std::string> Error;

    std::string PostForm(const std::string& url, std::string_view body) override {
        Posts.push_back({url, std::string(body)});
        if (Error) {
            throw HttpError(*Error);
        }
        return ReplyBody;
    }
};

const Endpoints TestEndpoints{"http://127.0.0.1:4357/", "http://web.test/vl.asp"};

TEST(BuildRequestBody, WritesEveryCodeUnitAsAnEncodedReference) {
    struct Case {
        std::u16string_view Text;
        std::int32_t Code;
        std::string_view Body;
    };
    const Case cases[] = {
        {u"H\u00E9", 5, "l1=%26%2372%3B%26%23233%3B&TargetLang=5&"},
        {u"\u0414\u0430", 2, "l1=%26%231044%3B%26%231072%3B&TargetLang=2&"},
        {u"\U0001F600", 6, "l1=%26%2355357%3B%26%2356832%3B&TargetLang=6&"},
        {u"a\r\n", 1, "l1=%26%2397%3B%26%2313%3B%26%2310%3B&TargetLang=1&"},
        {u"", 1, "l1=&TargetLang=1&"},
        {u" +&", 1, "l1=%26%2332%3B%26%2343%3B%26%2338%3B&TargetLang=1&"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildRequestBody(c.Text, c.Code), c.Body)
            << ::testing::PrintToString(std::u16string(c.Text));
    }
    EXPECT_EQ(BuildRequestBody(u"H\u00E9", 5).size(), 40u);
}

TEST(Translate, CutsAndDecodesTheReply) {
    struct Case {
        std::string_view Reply;
        std::u16string_view Text;
    };
    const Case cases[] = {
        {"l1=Hola+mundo", u"Hola mundo"},
        {"x=1&l1=Hola&l1=Adios", u"Hola"},
        {"l1=%D0%94%D0%B0&y=2", u"\u0414\u0430"},
        {"", u""},
        {"l1=", u""},
        {"Hola", u"Hola"}, // no marker: the whole body
        {"Hola&x", u"Hola"},
        {"l1=caf%26eacute%3B", u"caf\u00E9"},
        {"L1=no&l1=yes", u"yes"}, // the marker is case-sensitive
        {"<html>l1=%26%2372%3B%26%23105%3B&</html>", u"Hi"},
        {"l1=%F0%9F%98%80", u"\U0001F600"},
    };
    for (const Case& c : cases) {
        RecordingClient http;
        http.ReplyBody = c.Reply;
        TitleListWindows windows;
        EXPECT_EQ(Translate(u"x", 1, http, TestEndpoints, windows), c.Text)
            << ::testing::PrintToString(c.Reply);
    }
}

TEST(Translate, AReplyInTheDecodersLenientFormsIsTakenAsItStands) {
    struct Case {
        std::string_view Reply;
        std::u16string_view Text;
    };
    const Case cases[] = {
        {"l1=%ED%A0%BD%ED%B8%80&", u"\U0001F600"}, // as Windows and Java encode it
        {"l1=%C0%AF", u"/"},                       // an overlong "/"
        {"l1=a%ED%A0%80b", u"a\uFFFDb"},           // a surrogate half on its own
    };
    for (const Case& c : cases) {
        RecordingClient http;
        http.ReplyBody = c.Reply;
        TitleListWindows windows;
        EXPECT_EQ(Translate(u"x", 1, http, TestEndpoints, windows), c.Text)
            << ::testing::PrintToString(c.Reply);
    }
}

TEST(Translate, AReplyThatIsNotUtf8IsAnError) {
    const std::string_view replies[] = {
        "l1=caf%E9&",        // Latin-1
        "l1=%F0%9F%98&",     // an emoji cut short
        "l1=%80%80",         // a continuation byte where a sequence starts
        "l1=%FF%BF%BF",      // a byte that starts no sequence
        "l1=ok%F4%90%80%80", // above U+10FFFF
        "l1=caf\xE9",        // a raw byte, not escaped
    };
    for (const std::string_view reply : replies) {
        RecordingClient http;
        http.ReplyBody = reply;
        TitleListWindows windows;
        try {
            Translate(u"x", 1, http, TestEndpoints, windows);
            ADD_FAILURE() << "no error for " << ::testing::PrintToString(reply);
        } catch (const HttpError& error) {
            EXPECT_STREQ(error.what(), "The translation service's reply is not valid UTF-8.");
        }
    }
}

TEST(Translate, ChoosesTheEndpointAnewForEveryExchange) {
    RecordingClient http;
    TitleListWindows windows;
    windows.Titles = {"Editor"};
    Translate(u"a", 1, http, TestEndpoints, windows);
    windows.Titles.push_back("Tolvane Verbatrix 3.9 - English");
    Translate(u"b", 2, http, TestEndpoints, windows);
    windows.Titles.pop_back();
    Translate(u"c", 5, http, TestEndpoints, windows);
    windows.FailEnumeration = true;
    windows.Titles.push_back("Tolvane Verbatrix 3.9 - English");
    Translate(u"d", 6, http, TestEndpoints, windows);

    ASSERT_EQ(http.Posts.size(), 4u);
    EXPECT_EQ(http.Posts[0].Url, TestEndpoints.Web);
    EXPECT_EQ(http.Posts[1].Url, TestEndpoints.Local);
    EXPECT_EQ(http.Posts[2].Url, TestEndpoints.Web);
    EXPECT_EQ(http.Posts[3].Url, TestEndpoints.Web);
    EXPECT_EQ(http.Posts[1].Body, "l1=%26%2398%3B&TargetLang=2&");
    EXPECT_EQ(windows.Enumerations, 4); // once per exchange
}

TEST(Translate, PassesClientErrorsOnUnaltered) {
    RecordingClient http;
    http.Error = "HTTP/1.1 404 Not Found";
    TitleListWindows windows;
    try {
        Translate(u"a", 1, http, TestEndpoints, windows);
        FAIL() << "no error raised";
    } catch (const HttpError& error) {
        EXPECT_STREQ(error.what(), "HTTP/1.1 404 Not Found");
    }
}

TEST(ParseEndpointUrl, SplitsWhatGoesOnTheWire) {
    struct Case {
        std::string Url;
        std::string Host;
        std::string HostHeader;
        std::string Target;
    };
    const Case cases[] = {
        {"http://127.0.0.1:4357/", "127.0.0.1", "127.0.0.1:4357", "/"},
        {"http://Translate.Example.com/vl.asp", "translate.example.com", "translate.example.com",
         "/vl.asp"},
        {"http://example.com:80/vl.asp", "example.com", "example.com", "/vl.asp"},
        {"http://example.com:8080/a/vl.asp?x=1", "example.com", "example.com:8080",
         "/a/vl.asp?x=1"},
        {"http://example.com", "example.com", "example.com", "/"},
    };
    for (const Case& c : cases) {
        const EndpointAddress address = ParseEndpointUrl(c.Url);
        EXPECT_EQ(address.Host, c.Host) << c.Url;
        EXPECT_EQ(address.HostHeader, c.HostHeader) << c.Url;
        EXPECT_EQ(address.Target, c.Target) << c.Url;
    }
}

TEST(ParseEndpointUrl, RejectsWhatIsNotAPlainHttpUrl) {
    for (const std::string url :
         {"", "example.com/vl.asp", "https://example.com/vl.asp", "ftp://example.com/",
          "http://user@example.com/", "http://example.com/vl.asp#top"}) {
        EXPECT_THROW(ParseEndpointUrl(url), std::invalid_argument) << url;
    }
}

TEST(ChooseWebEndpoint, OptionThenEnvironmentThenDefault) {
    ::unsetenv(WebEndpointVariable);
    EXPECT_EQ(ChooseWebEndpoint(std::nullopt), DefaultWebEndpointUrl);
    ::setenv(WebEndpointVariable, "", 1);
    EXPECT_EQ(ChooseWebEndpoint(std::nullopt), DefaultWebEndpointUrl);
    ::setenv(WebEndpointVariable, "http://env.test/vl.asp", 1);
    EXPECT_EQ(ChooseWebEndpoint(std::nullopt), "http://env.test/vl.asp");
    EXPECT_EQ(ChooseWebEndpoint("http://option.test/vl.asp"), "http://option.test/vl.asp");
    ::setenv(WebEndpointVariable, "nonsense", 1);
    EXPECT_THROW(ChooseWebEndpoint(std::nullopt), std::invalid_argument);
    ::unsetenv(WebEndpointVariable);
}

} // namespace
} // namespace velantro::translate

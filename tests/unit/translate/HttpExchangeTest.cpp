// The exchange over real loopback sockets: CurlHttpClient against a server
// that checks and scripts raw bytes.

#include "RawHttpServer.h"
#include "TitleListWindows.h"
#include "translate/CurlHttpClient.h"
#include "translate/Translate.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velantro::translate {
namespace {

using ::testing::HasSubstr;
using testing::RawHttpServer;
using testing::TitleListWindows;
using namespace std::chrono_literals;

constexpr std::string_view LocalTitle = "Tolvane Verbatrix 3.9 - English";

/// Endpoints on the test servers' ports. The web endpoint is named
/// "localhost" so that it is a different cookie host from the local one.
Endpoints TestEndpoints(std::uint16_t localPort, std::uint16_t webPort) {
    return {"http://127.0.0.1:" + std::to_string(localPort) + "/",
            "http://localhost:" + std::to_string(webPort) + "/vl.asp"};
}

std::string ExpectedRequest(std::string_view target, std::string_view host, std::string_view body,
                            std::string_view cookie = {}) {
    std::string request = "POST " + std::string(target) + " HTTP/1.0\r\n";
    request += "Connection: keep-alive\r\n";
    request += "Content-Type: application/x-www-form-urlencoded\r\n";
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "Host: " + std::string(host) + "\r\n";
    request += "Accept: text/html, */*\r\n";
    request += "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
    if (!cookie.empty()) {
        request += "Cookie: " + std::string(cookie) + "\r\n";
    }
    return request + "\r\n" + std::string(body);
}

class HttpExchange : public ::testing::Test {
protected:
    CurlHttpClient Http{HttpTimeouts{5s, 5s}};
    TitleListWindows Windows;

    std::u16string TranslateOn(std::uint16_t port, bool local = false) {
        Windows.Titles.clear();
        if (local) {
            Windows.Titles.emplace_back(LocalTitle);
        }
        return Translate(u"H\u00E9", 5, Http, TestEndpoints(port, port), Windows);
    }

    /// The message of the error that translating through port raises.
    std::string ErrorOn(std::uint16_t port) {
        try {
            TranslateOn(port);
        } catch (const HttpError& error) {
            return error.what();
        }
        ADD_FAILURE() << "no error raised";
        return {};
    }
};

TEST_F(HttpExchange, SendsExactlyTheFormPostToEitherEndpoint) {
    RawHttpServer server(RawHttpServer::Reply("HTTP/1.0 200 OK\r\n\r\nl1=Hola+mundo&x=1"));
    EXPECT_EQ(TranslateOn(server.Port(), true), u"Hola mundo");
    EXPECT_EQ(TranslateOn(server.Port(), false), u"Hola mundo");

    const std::string body = "l1=%26%2372%3B%26%23233%3B&TargetLang=5&";
    const std::string port = std::to_string(server.Port());
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], ExpectedRequest("/", "127.0.0.1:" + port, body));
    EXPECT_EQ(requests[1], ExpectedRequest("/vl.asp", "localhost:" + port, body));
    EXPECT_EQ(server.Connections(), 2);
}

TEST_F(HttpExchange, ReturnsCookiesOnlyToTheHostThatSetThem) {
    RawHttpServer web(RawHttpServer::Reply(
        "HTTP/1.0 200 OK\r\nSet-Cookie: session=abc; Path=/\r\n"
        "Set-Cookie2: lang=\"es\"; Version=\"1\"\r\nContent-Length: 5\r\n\r\nl1=a&"));
    RawHttpServer local(RawHttpServer::Reply("HTTP/1.0 200 OK\r\n\r\nl1=b"));
    const Endpoints endpoints = TestEndpoints(local.Port(), web.Port());

    Windows.Titles = {};
    EXPECT_EQ(Translate(u"1", 1, Http, endpoints, Windows), u"a");
    Windows.Titles = {std::string(LocalTitle)};
    EXPECT_EQ(Translate(u"2", 1, Http, endpoints, Windows), u"b");
    Windows.Titles = {};
    EXPECT_EQ(Translate(u"3", 1, Http, endpoints, Windows), u"a");

    const auto webRequests = web.Requests();
    const auto localRequests = local.Requests();
    ASSERT_EQ(webRequests.size(), 2u);
    ASSERT_EQ(localRequests.size(), 1u);
    const std::string webHost = "localhost:" + std::to_string(web.Port());
    EXPECT_EQ(webRequests[0], ExpectedRequest("/vl.asp", webHost, "l1=%26%2349%3B&TargetLang=1&"));
    EXPECT_THAT(localRequests[0], ::testing::Not(HasSubstr("Cookie")));
    // The cookie comes back as the last header line.
    EXPECT_EQ(webRequests[1], ExpectedRequest("/vl.asp", webHost, "l1=%26%2351%3B&TargetLang=1&",
                                              "session=abc; lang=\"es\""));
}

TEST_F(HttpExchange, ANewCookieReplacesTheOldOneAndAnExpiredOneDeletesIt) {
    int replies = 0;
    RawHttpServer server([&replies](const RawHttpServer&, int socket, const std::string&) {
        const char* cookie[] = {"Set-Cookie: a=1\r\nSet-Cookie: b=2\r\n", "Set-Cookie: a=3\r\n",
                                "Set-Cookie: b=x; Expires=Thu, 01 Jan 1970 00:00:01 GMT\r\n", ""};
        RawHttpServer::SendAll(socket, std::string("HTTP/1.0 200 OK\r\n") +
                                           cookie[std::min(replies++, 3)] + "\r\nl1=ok");
    });
    for (int i = 0; i < 4; ++i) {
        TranslateOn(server.Port());
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_THAT(requests[0], ::testing::Not(HasSubstr("Cookie:")));
    EXPECT_THAT(requests[1], HasSubstr("\r\nCookie: a=1; b=2\r\n"));
    EXPECT_THAT(requests[2], HasSubstr("\r\nCookie: a=3; b=2\r\n"));
    EXPECT_THAT(requests[3], HasSubstr("\r\nCookie: a=3\r\n"));
}

/// The Cookie header line of a request, without its name; empty without one.
std::string CookieHeaderOf(const std::string& request) {
    const auto start = request.find("\r\nCookie: ");
    if (start == std::string::npos) {
        return {};
    }
    const auto value = start + 10;
    return request.substr(value, request.find("\r\n", value) - value);
}

TEST_F(HttpExchange, CookiesAreKeptWithinTheLimitsBrowsersKeep) {
    auto many = [](const char* format, int count) {
        std::string headers;
        for (int n = 0; n < count; ++n) {
            char line[96];
            std::snprintf(line, sizeof line, format, n, n);
            headers += line;
        }
        return headers;
    };
    struct Case {
        const char* Name;
        std::string Headers;
        std::size_t Cookies; // in the next request's Cookie header
        std::string First;   // the oldest cookie kept
    };
    const Case cases[] = {
        {"2,000 Set-Cookie2", many("Set-Cookie2: c%d=%d; Version=1\r\n", 2000), 50, "c1950=1950"},
        {"one Set-Cookie2 with 200", "Set-Cookie2: " + many("d%d=%d,", 200) + "e=1\r\n", 50,
         "d151=151"},
        {"one of 4,096 bytes and one over",
         "Set-Cookie2: big=" + std::string(4090, 'x') +
             "\r\nSet-Cookie2: huge=" + std::string(4096, 'y') + "\r\n",
         1, "big=" + std::string(4090, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CurlHttpClient http{HttpTimeouts{5s, 5s}};
        int replies = 0;
        RawHttpServer server([&](const RawHttpServer&, int socket, const std::string&) {
            RawHttpServer::SendAll(socket, "HTTP/1.0 200 OK\r\n" +
                                               (replies++ == 0 ? c.Headers : std::string()) +
                                               "\r\nl1=ok");
        });
        const Endpoints endpoints = TestEndpoints(server.Port(), server.Port());
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(Translate(u"x", 1, http, endpoints, Windows), u"ok");
        }
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 2u);
        const std::string header = CookieHeaderOf(requests[1]);
        const auto cookies = header.empty() ? 0 : std::count(header.begin(), header.end(), ';') + 1;
        EXPECT_EQ(cookies, static_cast<std::ptrdiff_t>(c.Cookies));
        EXPECT_EQ(header.substr(0, header.find(';')), c.First);
    }
}

TEST_F(HttpExchange, AHeaderThatArrivesAByteAtATimeIsNoSilence) {
    struct Case {
        const char* Name;
        std::string Head;               // sent a byte every 300 ms
        std::chrono::milliseconds Idle; // the limit for silence
        std::string Message;
    };
    const Case cases[] = {
        {"within a header line", "HTTP/1.0 200 OK\r\nX-Slow: " + std::string(100, 'a'), 1s,
         " within 4 s, the limit for a whole exchange"},
        {"within the status line", "HTTP/1.0 200 " + std::string(100, 'b'), 1s,
         " within 4 s, the limit for a whole exchange"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        RawHttpServer server([&](const RawHttpServer& self, int socket, const std::string&) {
            for (const char byte : c.Head) {
                if (self.Stopping() || !RawHttpServer::SendAll(socket, std::string(1, byte))) {
                    return;
                }
                std::this_thread::sleep_for(300ms);
            }
        });
        Http.SetTimeouts({5s, c.Idle, 4s});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ErrorOn(server.Port()),
                  "No complete reply from localhost:" + std::to_string(server.Port()) + c.Message);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 3900ms);
    }
}

TEST_F(HttpExchange, ErrorStatusesGiveTheStatusLineAsReceived) {
    struct Case {
        std::string Reply;
        std::string Message;
    };
    const Case cases[] = {
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nNot here!", "HTTP/1.1 404 Not Found"},
        {"HTTP/1.0 500 Internal Server Error\r\n\r\nl1=oops", "HTTP/1.0 500 Internal Server Error"},
        {"HTTP/1.0 304 Not Modified\r\n\r\n", "HTTP/1.0 304 Not Modified"},
        {"HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n\r\n",
         "HTTP/1.0 401 Unauthorized"},
        {"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/\r\nContent-Length: 0\r\n\r\n",
         "HTTP/1.1 302 Found"},
        // A Location header makes any reply an error; its status line says it.
        {"HTTP/1.0 200 OK\r\nlocation:  /elsewhere \r\n\r\nl1=x", "HTTP/1.0 200 OK"},
        {"HTTP/1.1 201 Created\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n",
         "HTTP/1.1 201 Created"},
        {"HTTP/1.0 404  odd   spacing \r\n\r\n", "HTTP/1.0 404  odd   spacing "},
        // The status decides, however the body goes.
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 1000\r\n\r\n" + std::string(100, 'x'),
         "HTTP/1.1 404 Not Found"},
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\n", "HTTP/1.1 404 Not Found"},
        {"HTTP/1.1 500 Oops\r\nContent-Length: 20000000\r\n\r\n", "HTTP/1.1 500 Oops"},
        {"HTTP/1.0 200 OK\r\nLocation: http://127.0.0.1:1/x\r\nContent-Length: 30000000\r\n\r\n",
         "HTTP/1.0 200 OK"},
    };
    for (const Case& c : cases) {
        RawHttpServer server(RawHttpServer::Reply(c.Reply));
        EXPECT_EQ(ErrorOn(server.Port()), c.Message);
        EXPECT_EQ(server.Requests().size(), 1u) << "a redirect must not be followed";
    }
}

TEST_F(HttpExchange, AcceptsTheReplyFormsHttpAllows) {
    struct Case {
        std::string Reply;
        std::u16string Text;
    };
    const Case cases[] = {
        {"HTTP/1.0 200 OK\r\n\r\nl1=closed", u"closed"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nl1=lengthIGNORED", u"length"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: "
         "chunked\r\n\r\n4\r\nl1=c\r\n5\r\nhunk&\r\n0\r\n\r\n",
         u"chunk"},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nl1=after",
         u"after"},
        {"HTTP/1.0 204 No Content\r\n\r\n", u""},
        {"HTTP/1.0 201 Created\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\nl1=%C3%A9",
         u"\u00E9"},
    };
    for (const Case& c : cases) {
        RawHttpServer server(RawHttpServer::Reply(c.Reply));
        EXPECT_EQ(TranslateOn(server.Port()), c.Text) << c.Reply;
    }
}

TEST_F(HttpExchange, OpensAFreshConnectionForEveryExchange) {
    // The server keeps each connection open after its reply; a client that
    // reused it would wait for a reply that never comes.
    RawHttpServer server(
        RawHttpServer::ReplyAndHold("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nl1=ok"));
    EXPECT_EQ(TranslateOn(server.Port()), u"ok");
    EXPECT_EQ(TranslateOn(server.Port()), u"ok");
    EXPECT_EQ(server.Connections(), 2);
}

TEST_F(HttpExchange, IgnoresProxyVariables) {
    RawHttpServer server(RawHttpServer::Reply("HTTP/1.0 200 OK\r\n\r\nl1=direct"));
    const std::string proxy = "http://127.0.0.1:" + std::to_string(RawHttpServer::ClosedPort());
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        ::setenv(name, proxy.c_str(), 1);
    }
    const std::u16string text = TranslateOn(server.Port());
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        ::unsetenv(name);
    }
    EXPECT_EQ(text, u"direct");
}

TEST_F(HttpExchange, ConnectionFailuresGiveTheClientsMessage) {
    const std::uint16_t port = RawHttpServer::ClosedPort();
    EXPECT_THAT(ErrorOn(port), HasSubstr("port " + std::to_string(port)));

    RawHttpServer reset(
        RawHttpServer::ReplyThenReset("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\nl1=partial"));
    EXPECT_FALSE(ErrorOn(reset.Port()).empty());

    RawHttpServer nothing(RawHttpServer::Reply(""));
    EXPECT_THAT(ErrorOn(nothing.Port()), HasSubstr("Empty reply"));
}

TEST_F(HttpExchange, AServerThatNeverAnswersTimesOut) {
    RawHttpServer server(RawHttpServer::Silence());
    Http.SetTimeouts({5s, 1500ms});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOn(server.Port()), "No reply from localhost:" + std::to_string(server.Port()) +
                                          ": nothing received for 1500 ms");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 1500ms);
    EXPECT_LT(waited, 4s);
}

TEST_F(HttpExchange, AReplyThatTricklesInStopsAtTheOverallDeadline) {
    RawHttpServer server([](const RawHttpServer& self, int socket, const std::string&) {
        RawHttpServer::SendAll(socket, "HTTP/1.0 200 OK\r\n\r\nl1=");
        while (!self.Stopping() && RawHttpServer::SendAll(socket, "a")) {
            std::this_thread::sleep_for(100ms);
        }
    });
    Http.SetTimeouts({5s, 5s, 1s});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOn(server.Port()),
              "No complete reply from localhost:" + std::to_string(server.Port()) +
                  " within 1 s, the limit for a whole exchange");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

TEST_F(HttpExchange, AConnectionThatIsNeverAcceptedTimesOut) {
    // A listener that never accepts, with its queue filled: further SYNs are
    // dropped and the client's connection attempt hangs.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    Http.SetTimeouts({700ms, 5s});
    const std::uint16_t port = ntohs(address.sin_port);
    Windows.Titles = {std::string(LocalTitle)};
    const auto start = std::chrono::steady_clock::now();
    try {
        Translate(u"x", 1, Http, TestEndpoints(port, port), Windows);
        ADD_FAILURE() << "no error raised";
    } catch (const HttpError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Connection to 127.0.0.1:" + std::to_string(port) + " timed out after 700 ms");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    for (const int filler : fillers) {
        ::close(filler);
    }
    ::close(listener);
}

std::string Repeated(const std::string& text, int times) {
    std::string result;
    for (int n = 0; n < times; ++n) {
        result += text;
    }
    return result;
}

/// A reply's head of exactly bytes bytes, the empty line at its end
/// included, in header lines of at most 16,000 bytes.
std::string HeadOfBytes(std::size_t bytes) {
    std::string head = "HTTP/1.0 200 OK\r\n";
    const auto line = [&head](std::size_t length) {
        head += "X-Fill: " + std::string(length - 10, 'f') + "\r\n";
    };
    while (bytes - head.size() - 2 > 16010) {
        line(16000);
    }
    line(bytes - head.size() - 2);
    return head + "\r\n";
}

TEST_F(HttpExchange, OversizedRepliesAreErrors) {
    const std::string hugeBody = "l1=" + std::string(20 * 1024 * 1024, 'a');
    const std::string fullBody = "l1=ok&" + std::string(MaxReplyBodyBytes - 6, 'a');
    const std::string lineTooLong = "has a header line longer than 16384 bytes";
    struct Case {
        const char* Name;
        std::string Reply;
        std::string Message; // a part of the error; empty: "ok" is the translation
    };
    const Case cases[] = {
        {"a header line of 17 KiB",
         "HTTP/1.0 200 OK\r\nX-Long: " + std::string(17 * 1024, 'a') + "\r\n\r\nl1=x", lineTooLong},
        {"a status line of 17 KiB", "HTTP/1.0 200 " + std::string(17 * 1024, 'O') + "\r\n\r\nl1=x",
         lineTooLong},
        // Past libcurl's own limit for a line, which it reports as out of memory.
        {"a header line of 200 KiB",
         "HTTP/1.0 200 OK\r\nX-Long: " + std::string(200 * 1024, 'a') + "\r\n\r\nl1=x",
         lineTooLong},
        {"400 KiB of header in lines of 16,000 bytes",
         "HTTP/1.0 200 OK\r\n" + Repeated("X-Many: " + std::string(15990, 'm') + "\r\n", 26) +
             "\r\nl1=x",
         "has a header larger than 262144 bytes"},
        {"a header of the limit exactly", HeadOfBytes(MaxReplyHeaderBytes) + "l1=ok", ""},
        {"a header a byte over the limit", HeadOfBytes(MaxReplyHeaderBytes + 1) + "l1=ok",
         "has a header larger than 262144 bytes"},
        {"a body of 20 MiB announced",
         "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(hugeBody.size()) + "\r\n\r\n" +
             hugeBody,
         "larger than 16 MiB"},
        {"a body of 20 MiB streamed", "HTTP/1.0 200 OK\r\n\r\n" + hugeBody, "larger than 16 MiB"},
        {"a body of the limit exactly", "HTTP/1.0 200 OK\r\n\r\n" + fullBody, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        RawHttpServer server(RawHttpServer::Reply(c.Reply));
        if (c.Message.empty()) {
            EXPECT_EQ(TranslateOn(server.Port()), u"ok");
        } else {
            EXPECT_THAT(ErrorOn(server.Port()), HasSubstr(c.Message));
        }
    }
}

} // namespace
} // namespace velantro::translate

// The translator stand-in's HTTP server under odd clients: large bodies,
// slow and half-closed connections, many connections, a port it cannot take.

#include "HttpServer.h"
#include "LoopbackClient.h"
#include "TranslatorService.h"
#include "translate/Translate.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

namespace velantro::standins {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackClient;
using testing::PostRequest;
using Clock = std::chrono::steady_clock;

/// Answers every request with the size of its body.
HttpReply CountBody(const HttpRequest& request) {
    return {200, "OK", "text/plain", std::to_string(request.Body.size())};
}

std::size_t ThreadsOfThisProcess() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid())))
        .string();
}

TEST(TranslatorHttpServer, TakesBodiesUpToOneMebibyte) {
    HttpServer server("127.0.0.1", 0, CountBody);
    // What velantro sends for a 744-character text: each character as a
    // reference such as "%26%2372%3B".
    const std::string velantroForm = translate::BuildRequestBody(std::u16string(744, u'H'), 5);
    struct Case {
        std::string Name;
        std::string Request;
        std::string Expected;
    };
    const Case cases[] = {
        {"velantro's form of 744 characters", PostRequest("/", velantroForm), "HTTP/1.1 200 OK"},
        {"exactly 1 MiB", PostRequest("/", std::string(HttpServer::MaxBodyBytes, 'x')),
         "HTTP/1.1 200 OK"},
        {"1 MiB and a byte", PostRequest("/", std::string(HttpServer::MaxBodyBytes + 1, 'x')),
         "HTTP/1.1 413 Payload Too Large"},
        // Refused on its head, before any of the body comes.
        {"800 MB announced", "POST / HTTP/1.0\r\nContent-Length: 800000000\r\n\r\n",
         "HTTP/1.1 413 Payload Too Large"},
        {"a chunked body", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
         "HTTP/1.1 411 Length Required"},
        {"a body shorter than announced", "POST / HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc",
         "HTTP/1.1 400 Bad Request: the body ended early"},
        {"no request line", "\r\n\r\n", "HTTP/1.1 400 Bad Request"},
    };
    for (const Case& c : cases) {
        LoopbackClient client(server.Port());
        client.Send(c.Request);
        client.HalfClose();
        EXPECT_EQ(client.StatusLine(), c.Expected) << c.Name;
    }
    LoopbackClient client(server.Port());
    client.Send(PostRequest("/", velantroForm));
    const std::string reply = client.ReadAll();
    EXPECT_EQ(reply.substr(reply.find("\r\n\r\n") + 4), std::to_string(velantroForm.size()));
}

TEST(TranslatorHttpServer, SlowClientsHoldNobodyElse) {
    HttpServer server("127.0.0.1", 0, CountBody);
    // Twenty clients that started a request and went quiet, one that drips.
    std::vector<std::unique_ptr<LoopbackClient>> slow;
    for (int i = 0; i < 20; ++i) {
        slow.push_back(std::make_unique<LoopbackClient>(server.Port()));
        slow.back()->Send("POST / HTTP/1.0\r\nContent-Length: 5\r\n\r\nab");
    }
    LoopbackClient drip(server.Port());
    drip.Send("PO");

    const Clock::time_point start = Clock::now();
    LoopbackClient quick(server.Port());
    quick.Send(PostRequest("/", "hello"));
    EXPECT_EQ(quick.StatusLine(5s), "HTTP/1.1 200 OK");
    EXPECT_LT(Clock::now() - start, 2s);

    // The slow ones are still served once they finish.
    drip.Send(PostRequest("/", "abc").substr(2));
    EXPECT_EQ(drip.StatusLine(5s), "HTTP/1.1 200 OK");
    slow.front()->Send("cde");
    EXPECT_EQ(slow.front()->StatusLine(5s), "HTTP/1.1 200 OK");
}

TEST(TranslatorHttpServer, ClientsThatDripOutnumberingItsConnectionsHoldNobodyElse) {
    HttpServer server("127.0.0.1", 0, CountBody);
    // More drippers than connections: each has sent part of its head and
    // adds a byte now and then, never finishing.
    std::vector<std::unique_ptr<LoopbackClient>> drippers;
    for (std::size_t i = 0; i < HttpServer::MaxConnections + 8; ++i) {
        drippers.push_back(std::make_unique<LoopbackClient>(server.Port()));
        drippers.back()->Send("POST / HTTP/1.0\r\nX-Drip: ");
    }
    for (int round = 0; round < 3; ++round) {
        for (const auto& dripper : drippers) {
            dripper->Send("a");
        }
        const Clock::time_point start = Clock::now();
        LoopbackClient quick(server.Port());
        quick.Send(PostRequest("/", "hello"));
        EXPECT_EQ(quick.StatusLine(5s), "HTTP/1.1 200 OK") << "round " << round;
        EXPECT_LT(Clock::now() - start, 2s) << "round " << round;
    }
}

TEST(TranslatorHttpServer, EachRequestHasItsDeadlineAndItsHeadItsLimit) {
    HttpServer server("127.0.0.1", 0, CountBody);
    struct Case {
        const char* Name;
        std::string Request;
        bool Drip; // a byte every 500 ms instead of all at once
        std::string Expected;
        std::chrono::milliseconds Within;
    };
    const std::string bigHead =
        "POST / HTTP/1.0\r\nX-Big: " + std::string(70'000, 'h') + "\r\nContent-Length: 1\r\n\r\nx";
    const std::string justFits =
        "POST / HTTP/1.0\r\nX-Fit: " + std::string(HttpServer::MaxHeadBytes - 47, 'f') +
        "\r\nContent-Length: 1\r\n\r\nx";
    const Case cases[] = {
        {"70,000 bytes of head in one write", bigHead, false,
         "HTTP/1.1 431 Request Header Fields Too Large", 5s},
        {"a head of exactly the limit", justFits, false, "HTTP/1.1 200 OK", 5s},
        {"a head dripping a byte every 500 ms", PostRequest("/", "abc"), true,
         "HTTP/1.1 408 Request Timeout", HttpServer::RequestLimit + 3s},
    };
    ASSERT_EQ(justFits.find("\r\n\r\n") + 4, HttpServer::MaxHeadBytes);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const Clock::time_point start = Clock::now();
        LoopbackClient client(server.Port());
        if (c.Drip) {
            for (std::size_t i = 0; i < c.Request.size() && client.Send(c.Request.substr(i, 1));
                 ++i) {
                if (client.Readable()) {
                    break;
                }
                std::this_thread::sleep_for(500ms);
            }
        } else {
            client.Send(c.Request);
        }
        EXPECT_EQ(client.StatusLine(c.Within), c.Expected);
        EXPECT_LT(Clock::now() - start, c.Within);
    }
}

TEST(TranslatorHttpServer, AnswersAClientThatHalfClosesAfterItsRequest) {
    HttpServer server("127.0.0.1", 0, CountBody);
    LoopbackClient client(server.Port());
    client.Send(PostRequest("/", "hello"));
    client.HalfClose();
    const std::string reply = client.ReadAll(5s);
    EXPECT_EQ(reply.substr(0, reply.find("\r\n")), "HTTP/1.1 200 OK");
    EXPECT_EQ(reply.substr(reply.find("\r\n\r\n") + 4), "5");
}

TEST(TranslatorHttpServer, LogsEveryRequestAndLeavesNoThreadBehind) {
    const std::string logPath = TempPath("translator-log");
    std::filesystem::remove(logPath);
    const std::size_t threadsBefore = ThreadsOfThisProcess();
    std::string expectedLog;
    {
        HttpServer server("127.0.0.1", 0, CountBody, logPath);
        for (int i = 0; i < 300; ++i) {
            const std::string request = PostRequest("/", "n=" + std::to_string(i));
            expectedLog += request;
            LoopbackClient client(server.Port());
            client.Send(request);
            ASSERT_EQ(client.StatusLine(), "HTTP/1.1 200 OK") << i;
        }
        // The acceptor, and at most the threads of the last connections,
        // which are joined when the next one comes.
        EXPECT_LE(ThreadsOfThisProcess(), threadsBefore + 3);
    }
    EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore);
    std::ifstream log(logPath, std::ios::binary);
    std::ostringstream logged;
    logged << log.rdbuf();
    EXPECT_EQ(logged.str(), expectedLog);
    std::filesystem::remove(logPath);
}

TEST(TranslatorHttpServer, StopsAtOnceWithConnectionsOpen) {
    auto server = std::make_unique<HttpServer>("127.0.0.1", 0, CountBody);
    LoopbackClient idle(server->Port());
    LoopbackClient halfway(server->Port());
    halfway.Send("POST / HTTP/1.0\r\n");
    const Clock::time_point start = Clock::now();
    server.reset();
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST(TranslatorHttpServer, SaysWhyItCannotStart) {
    const HttpServer first("127.0.0.1", 0, CountBody);
    const std::string taken = "127.0.0.1:" + std::to_string(first.Port());
    struct Case {
        std::string Address;
        int Port;
        std::optional<std::string> Log;
        std::string Expected;
    };
    const Case cases[] = {
        {"127.0.0.1", first.Port(), std::nullopt,
         "cannot listen on " + taken + ": Address already in use"},
        {"localhost", 0, std::nullopt, "cannot listen on localhost:0: not an IPv4 address"},
        {"127.0.0.1", 0, "/nonexistent-folder/log",
         "cannot open the log file /nonexistent-folder/log: No such file or directory"},
    };
    for (const Case& c : cases) {
        try {
            HttpServer second(c.Address, c.Port, CountBody, c.Log);
            ADD_FAILURE() << "started on " << c.Address << ":" << c.Port;
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(error.what(), c.Expected);
        }
    }
}

TEST(TranslatorHttpServer, ServesTheServiceOnlyAtItsTarget) {
    PhraseBookEngine book;
    HttpServer server("127.0.0.1", 0, [&book](const HttpRequest& request) {
        return AnswerRequest(request, "/vl.asp", book);
    });
    struct Case {
        std::string Request;
        std::string Expected;
    };
    const Case cases[] = {
        {PostRequest("/vl.asp", "l1=Hello&TargetLang=5&"), "l1=Hola&"},
        {PostRequest("/vl.asp?x=1", "l1=Hello&TargetLang=6&"), "l1=Bonjour&"},
        {PostRequest("/", "l1=Hello&TargetLang=5&"), ""},
        {"GET /vl.asp HTTP/1.0\r\n\r\n", ""},
    };
    for (const Case& c : cases) {
        LoopbackClient client(server.Port());
        client.Send(c.Request);
        const std::string reply = client.ReadAll();
        const std::string status = reply.substr(0, reply.find("\r\n"));
        EXPECT_EQ(status, c.Expected.empty() ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK")
            << c.Request;
        EXPECT_EQ(reply.substr(reply.find("\r\n\r\n") + 4), c.Expected) << c.Request;
    }
}

} // namespace
} // namespace velantro::standins

// The translator started on demand: the socket a service manager hands over
// (LISTEN_PID, LISTEN_FDS, descriptors from 3 on) and the server on it.

#include "ActivatedSocket.h"
#include "HttpServer.h"
#include "LoopbackClient.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace velantro::standins {
namespace {

using common::FileDescriptor;
using testing::LoopbackClient;
using testing::PostRequest;

HttpReply Hello(const HttpRequest&) {
    return {200, "OK", "text/plain", "hello"};
}

/// A TCP socket on a free port of 127.0.0.1, listening when asked.
FileDescriptor LoopbackSocket(bool listening) {
    FileDescriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (listening && ::listen(socket.Get(), 8) != 0)) {
        throw std::runtime_error("cannot make a loopback socket");
    }
    return socket;
}

/// Puts a descriptor where a service manager puts the first one it hands
/// over, keeping whatever the test process had there, and sets the
/// variables; undoes it all at the end.
class HandedOver {
public:
    HandedOver(int descriptor, const std::string& pid, const std::string& count) {
        if (::fcntl(FirstActivatedDescriptor, F_GETFD) >= 0) {
            Kept = FileDescriptor(::fcntl(FirstActivatedDescriptor, F_DUPFD_CLOEXEC, 10));
        }
        ::dup2(descriptor, FirstActivatedDescriptor);
        ::setenv("LISTEN_PID", pid.c_str(), 1);
        ::setenv("LISTEN_FDS", count.c_str(), 1);
        ::setenv("LISTEN_FDNAMES", "velantro-translator.socket", 1);
    }
    ~HandedOver() {
        if (Kept) {
            ::dup2(Kept.Get(), FirstActivatedDescriptor);
        } else {
            ::close(FirstActivatedDescriptor);
        }
        ::unsetenv("LISTEN_PID");
        ::unsetenv("LISTEN_FDS");
        ::unsetenv("LISTEN_FDNAMES");
    }
    HandedOver(const HandedOver&) = delete;
    HandedOver& operator=(const HandedOver&) = delete;

private:
    FileDescriptor Kept;
};

TEST(SocketActivation, CountsOnlyTheDescriptorsMeantForThisProcess) {
    struct Case {
        std::optional<std::string_view> Pid;
        std::optional<std::string_view> Fds;
        int Expected;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, 0}, // started by hand
        {std::nullopt, "1", 0},
        {"4242", std::nullopt, 0},
        {"4241", "1", 0}, // a parent's, inherited
        {"4242x", "1", 0},
        {"4242", "1", 1},
        {"4242", "2", 2},
        {"4242", "0", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ActivatedDescriptorCount(c.Pid, c.Fds, 4242), c.Expected)
            << c.Pid.value_or("(unset)") << " " << c.Fds.value_or("(unset)");
    }
    for (const std::string_view fds : {"x", "-1", "", " 1", "1 "}) {
        EXPECT_THROW(ActivatedDescriptorCount("4242", fds, 4242), std::invalid_argument)
            << "[" << fds << "]";
    }
}

TEST(SocketActivation, TakesOneListeningStreamSocketAndClearsTheVariables) {
    const std::string self = std::to_string(::getpid());
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    const FileDescriptor pipeRead(pipeEnds[0]);
    const FileDescriptor pipeWrite(pipeEnds[1]);
    const FileDescriptor listening = LoopbackSocket(true);
    const FileDescriptor bound = LoopbackSocket(false);
    struct Case {
        std::string Name;
        int Descriptor;
        std::string Pid;
        std::string Count;
        bool Taken;
        std::string Refusal; // part of the error, when refused
    };
    const Case cases[] = {
        {"a listening socket", listening.Get(), self, "1", true, ""},
        {"meant for another process", listening.Get(), "1", "1", false, ""},
        {"two sockets", listening.Get(), self, "2", false, "handed 2 sockets"},
        {"a socket that does not listen", bound.Get(), self, "1", false, "not a listening"},
        {"a pipe", pipeRead.Get(), self, "1", false, "not a listening"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const HandedOver handed(c.Descriptor, c.Pid, c.Count);
        try {
            const FileDescriptor taken = TakeActivatedListener();
            EXPECT_TRUE(c.Refusal.empty());
            EXPECT_EQ(taken.Get(), c.Taken ? FirstActivatedDescriptor : -1);
            if (c.Taken) {
                // Closed on exec: no Apertium process inherits it.
                EXPECT_EQ(::fcntl(taken.Get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
            }
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(c.Refusal), std::string::npos) << error.what();
            EXPECT_FALSE(c.Refusal.empty()) << error.what();
        }
        for (const char* name : {"LISTEN_PID", "LISTEN_FDS", "LISTEN_FDNAMES"}) {
            EXPECT_EQ(std::getenv(name), nullptr) << name;
        }
    }
}

TEST(SocketActivation, TheServerAnswersOnTheSocketItIsGiven) {
    FileDescriptor listening = LoopbackSocket(true);
    HttpServer server(std::move(listening), Hello);
    EXPECT_EQ(server.Address(), "127.0.0.1:" + std::to_string(server.Port()));
    LoopbackClient client(server.Port());
    client.Send(PostRequest("/", "x"));
    const std::string reply = client.ReadAll();
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK")) << reply;
    EXPECT_TRUE(reply.ends_with("\r\n\r\nhello")) << reply;
}

} // namespace
} // namespace velantro::standins

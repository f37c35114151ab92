// TSkypeControl over the bus windows, talking to the real skype-peer program
// on a private session bus.

#include "common/EscapedText.h"
#include "platform/bus/BusWindows.h"
#include "skype/SkypeControl.h"
#include "support/EventLoopWait.h"
#include "support/HandshakeEvents.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

using namespace velantro::skype;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using velantro::platform::BusWindows;
using velantro::platform::WindowHandle;
using velantro::testing::TestApplication;
using velantro::testing::WaitUntil;
using velantro::tools::EscapeBytes;

namespace {

/// One OnChatMsgInfo event.
struct ChatMsgInfo {
    std::int32_t Id = 0;
    TSkypeChatMsgProperty Property = cmChatname;
    std::string Data;

    bool operator==(const ChatMsgInfo&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const ChatMsgInfo& info) {
        return out << "{" << info.Id << " " << ChatMsgPropertyWords[info.Property] << " "
                   << ::testing::PrintToString(info.Data) << "}";
    }
};

std::vector<std::string> ReadLines(const QString& path) {
    std::vector<std::string> lines;
    std::ifstream file(path.toStdString(), std::ios::binary);
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

/// A 900-byte UTF-8 text of two- to four-byte characters with a line break.
std::string LongUtf8Text() {
    std::string text = "Здравей,\nмного поздрави ";
    const std::string pieces[] = {"ñ", "€", "😀", "ж", " "};
    for (std::size_t i = 0; text.size() < 900; ++i) {
        const std::string& piece = pieces[i % 5];
        text += text.size() + piece.size() <= 900 ? piece : std::string(900 - text.size(), '.');
    }
    return text;
}

class SkypePeerSession : public ::testing::Test {
protected:
    QCoreApplication& App = TestApplication();
    QTemporaryDir Dir;
    BusWindows Windows{"Velantro"};
    std::unique_ptr<TSkypeControl> Skype;
    QProcess Peer;

    std::vector<std::string> Events;
    std::vector<ChatMsgInfo> ChatMsgs;
    std::vector<TStringList> SearchResults;
    bool Attached = false;

    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        ASSERT_TRUE(Windows.Connected()) << Windows.ErrorText();
        Skype = std::make_unique<TSkypeControl>(&Windows);
        Skype->IdentName = "Velantro";
        velantro::testing::RecordHandshake(*Skype, Events, Attached);
        Skype->OnError = [this](std::int32_t code, std::string text) {
            Events.push_back("Error " + std::to_string(code) + " " + text);
        };
        Skype->OnNotSupportedError = [this](std::string text) {
            Events.push_back("NotSupported " + text);
        };
        Skype->OnSearchResult = [this](TSkypeSearchType type, TStringList list) {
            Events.push_back(std::string("SearchResult ") + std::string(SearchTypeWords[type]));
            SearchResults.push_back(std::move(list));
        };
        Skype->OnChatMsgInfo = [this](std::int32_t id, TSkypeChatMsgProperty property,
                                      std::string data) {
            ChatMsgs.push_back({id, property, std::move(data)});
        };
    }

    void TearDown() override {
        Skype.reset();
        if (Peer.state() != QProcess::NotRunning) {
            Peer.terminate();
            if (!Peer.waitForFinished(5000)) {
                Peer.kill();
                Peer.waitForFinished(5000);
            }
        }
    }

    QString LogPath() const { return Dir.filePath(QStringLiteral("peer.log")); }

    /// Starts skype-peer with the script and waits until its window is on
    /// the bus, found by its title as the translation detection finds its
    /// program.
    void StartPeer(const std::string& script) {
        const QString scriptPath = Dir.filePath(QStringLiteral("script.txt"));
        std::ofstream(scriptPath.toStdString(), std::ios::binary) << script;
        Peer.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/skype-peer"));
        Peer.setArguments({QStringLiteral("--quiet"), QStringLiteral("--log"), LogPath(),
                           QStringLiteral("--script"), scriptPath});
        Peer.setProcessChannelMode(QProcess::ForwardedChannels);
        Peer.start();
        ASSERT_TRUE(Peer.waitForStarted(5000)) << Peer.errorString().toStdString();
        ASSERT_TRUE(WaitUntil([&] { return PeerWindow() != 0; })) << "no skype-peer window";
    }

    WindowHandle PeerWindow() {
        WindowHandle found = 0;
        Windows.EnumerateWindows([&](WindowHandle window) {
            char title[64];
            if (Windows.ReadWindowTitle(window, title, sizeof title) > 0 &&
                std::string(title) == "skype-peer") {
                found = window;
            }
            return found == 0;
        });
        return found;
    }

    /// Attaches and waits for the handshake's last answer.
    void Attach() {
        Skype->Attach(4);
        ASSERT_TRUE(WaitUntil([&] {
            return std::find(Events.begin(), Events.end(), "CurrentUserHandle me") != Events.end();
        })) << ::testing::PrintToString(Events);
        ASSERT_TRUE(Attached);
    }

    /// Asks for sender and text of every message whose status became
    /// RECEIVED, from inside the event, as the program's incoming flow does.
    void FetchReceivedMessages() {
        Skype->OnChatMsgInfo = [this](std::int32_t id, TSkypeChatMsgProperty property,
                                      std::string data) {
            const bool received = property == cmStatus && data == "RECEIVED";
            ChatMsgs.push_back({id, property, std::move(data)});
            if (received) {
                Skype->GetChatMsgProperty(id, cmFromHandle);
                Skype->GetChatMsgProperty(id, cmBody);
            }
        };
    }
};

TEST_F(SkypePeerSession, AttachRunsTheHandshakeInOrderAndSearchFindsTheFriends) {
    StartPeer("");
    Attach();
    // The handshake's lines are queued as the success is reported; the
    // peer answers them from its own loop, afterwards.
    EXPECT_THAT(Events, ElementsAre("AttachPending", "AttachSuccess", "Protocol 4",
                                    "CurrentUserHandle me"));
    EXPECT_THAT(ReadLines(LogPath()), ElementsAre("NAME Velantro", "PROTOCOL 4"));

    Skype->Search(stFriends, "");
    ASSERT_TRUE(WaitUntil([&] { return !SearchResults.empty(); }));
    EXPECT_THAT(SearchResults, ElementsAre(TStringList{"alice", "bob", "echo"}));
    EXPECT_EQ(Events.back(), "SearchResult USERS");
    EXPECT_THAT(ReadLines(LogPath()),
                ElementsAre("NAME Velantro", "PROTOCOL 4", "SEARCH FRIENDS "));
}

TEST_F(SkypePeerSession, ScriptedAndTypedMessagesArriveWithSenderAndText) {
    StartPeer("# one message from the script\n"
              "wait 50\n"
              "alice: hola, \xC2\xBFqu\xC3\xA9 tal?\n");
    FetchReceivedMessages();
    Attach();
    ASSERT_TRUE(WaitUntil([&] { return ChatMsgs.size() >= 3; }));

    Peer.write("bob: typed at the console\\nwith a second line\n");
    ASSERT_TRUE(WaitUntil([&] { return ChatMsgs.size() >= 6; }));
    // Numbered on from the time the client started, one after the other.
    const std::int32_t first = ChatMsgs.front().Id;
    EXPECT_GT(first, 1000);
    EXPECT_THAT(ChatMsgs, ElementsAre(ChatMsgInfo{first, cmStatus, "RECEIVED"},
                                      ChatMsgInfo{first, cmFromHandle, "alice"},
                                      ChatMsgInfo{first, cmBody, "hola, \xC2\xBFqu\xC3\xA9 tal?"},
                                      ChatMsgInfo{first + 1, cmStatus, "RECEIVED"},
                                      ChatMsgInfo{first + 1, cmFromHandle, "bob"},
                                      ChatMsgInfo{first + 1, cmBody,
                                                  "typed at the console\nwith a second line"}));
    const auto get = [](std::int32_t id, const char* property) {
        return "GET CHATMESSAGE " + std::to_string(id) + " " + property;
    };
    EXPECT_THAT(ReadLines(LogPath()),
                ElementsAre("NAME Velantro", "PROTOCOL 4", get(first, "FROM_HANDLE"),
                            get(first, "BODY"), get(first + 1, "FROM_HANDLE"),
                            get(first + 1, "BODY")));
}

TEST_F(SkypePeerSession, LongUtf8MessageReachesThePeerByteForByte) {
    StartPeer("");
    Attach();
    const std::string text = LongUtf8Text();
    ASSERT_EQ(text.size(), 900u);

    Skype->SendMessageTo("bob", text);
    ASSERT_TRUE(WaitUntil([&] { return ChatMsgs.size() >= 2; }));
    const std::int32_t id = ChatMsgs.front().Id;
    EXPECT_THAT(ChatMsgs, ElementsAre(ChatMsgInfo{id, cmStatus, "SENDING"},
                                      ChatMsgInfo{id, cmStatus, "SENT"}));
    const auto log = ReadLines(LogPath());
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2], EscapeBytes("MESSAGE bob " + text));

    // And back: the peer gives the stored text as it received it.
    Skype->GetChatMsgProperty(id, cmBody);
    ASSERT_TRUE(WaitUntil([&] { return ChatMsgs.size() >= 3; }));
    EXPECT_EQ(ChatMsgs[2], (ChatMsgInfo{id, cmBody, text}));
}

TEST_F(SkypePeerSession, TheEchoContactAnswersWithTheSameText) {
    StartPeer("");
    FetchReceivedMessages();
    Attach();
    Skype->SendMessageTo("echo", "are you there?");
    ASSERT_TRUE(WaitUntil([&] { return ChatMsgs.size() >= 5; }));
    const std::int32_t sent = ChatMsgs.front().Id;
    EXPECT_THAT(ChatMsgs, ElementsAre(ChatMsgInfo{sent, cmStatus, "SENDING"},
                                      ChatMsgInfo{sent, cmStatus, "SENT"},
                                      ChatMsgInfo{sent + 1, cmStatus, "RECEIVED"},
                                      ChatMsgInfo{sent + 1, cmFromHandle, "echo"},
                                      ChatMsgInfo{sent + 1, cmBody, "are you there?"}));
}

TEST_F(SkypePeerSession, PeerSendingWhileBeingSentToNeitherDeadlocksNorLosesLines) {
    constexpr int Count = 150;
    std::string script;
    for (int i = 0; i < Count; ++i) {
        script += "alice: burst " + std::to_string(i) + "\n";
    }
    StartPeer(script);
    FetchReceivedMessages();
    Attach();
    // The peer plays its burst from now on, while this side sends its own
    // lines and asks for every received message's sender and text.
    std::vector<std::string> sent;
    std::vector<TCommandResult> outcomes;
    for (int i = 0; i < Count; ++i) {
        const std::string text = "out " + std::to_string(i);
        Skype->SendMessageTo("bob", text, [&outcomes](const TCommandOutcome& outcome) {
            outcomes.push_back(outcome.Result);
        });
        sent.push_back("MESSAGE bob " + text);
    }
    const auto countOf = [&](TSkypeChatMsgProperty property, const std::string& data) {
        return std::count_if(ChatMsgs.begin(), ChatMsgs.end(), [&](const ChatMsgInfo& info) {
            return info.Property == property && (data.empty() || info.Data == data);
        });
    };
    RecordProperty("ReceivedDuringOwnSends", static_cast<int>(countOf(cmStatus, "RECEIVED")));

    ASSERT_TRUE(WaitUntil([&] { return countOf(cmBody, "") >= Count; }, 30s))
        << countOf(cmBody, "") << " of " << Count << " texts";
    ASSERT_TRUE(WaitUntil([&] { return outcomes.size() >= std::size_t{Count}; }, 30s));
    EXPECT_EQ(outcomes, std::vector<TCommandResult>(Count, TCommandResult::Answered));
    EXPECT_EQ(countOf(cmStatus, "SENDING"), Count);
    EXPECT_EQ(countOf(cmStatus, "SENT"), Count);
    EXPECT_EQ(countOf(cmStatus, "RECEIVED"), Count);

    std::vector<std::string> bodies;
    std::vector<std::string> expectedBodies;
    for (const ChatMsgInfo& info : ChatMsgs) {
        if (info.Property == cmBody) {
            bodies.push_back(info.Data);
            expectedBodies.push_back("burst " + std::to_string(expectedBodies.size()));
        }
    }
    EXPECT_EQ(bodies, expectedBodies);

    std::vector<std::string> loggedMessages;
    for (const std::string& line : ReadLines(LogPath())) {
        if (line.starts_with("MESSAGE ")) {
            loggedMessages.push_back(line);
        }
    }
    EXPECT_EQ(loggedMessages, sent);
}

} // namespace

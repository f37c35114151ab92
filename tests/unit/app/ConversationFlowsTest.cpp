// The message flows against a chat client played in-process: its answers to
// the flow's requests arrive while the requests are still being sent.

#include "app/ConversationFlows.h"

#include "doubles/FakeWindowMessages.h"

#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <utility>

namespace velantro::app {
namespace {

using doubles::FakeWindowMessages;
using Lines = std::vector<std::string>;

constexpr platform::WindowHandle ClientWindow = 0x2002;

struct RecordingLog final : ConversationLog {
    std::vector<std::u16string> Entries;
    void AppendLine(std::u16string_view text) override { Entries.emplace_back(text); }
};

/// The window's controls as plain values.
struct FakeView final : MainView {
    std::int32_t Receive = 0;
    std::int32_t Send = 0;
    std::vector<std::string> Contacts;
    int Selected = -1;
    std::u16string Message;
    bool SendEnabled = false;
    bool PagesShown = false;
    std::string Caption = "Velantro";
    std::map<std::string, RecordingLog> Pages;

    std::int32_t ReceiveLanguageIndex() const override { return Receive; }
    std::int32_t SendLanguageIndex() const override { return Send; }
    std::string ContactText() const override { return Selected < 0 ? "" : Contacts[Selected]; }
    void SelectContact(std::string_view handle) override {
        Selected = -1;
        for (std::size_t i = 0; i < Contacts.size(); ++i) {
            if (Contacts[i] == handle) {
                Selected = static_cast<int>(i);
            }
        }
    }
    void SetContacts(const std::vector<std::string>& handles) override {
        Contacts = handles;
        Selected = handles.empty() ? -1 : 0;
    }
    std::u16string MessageText() const override { return Message; }
    void ClearMessage() override { Message.clear(); }
    void EnableSend(bool enabled) override { SendEnabled = enabled; }
    ConversationLog* FindOrCreatePage(const std::string& handle) override { return &Pages[handle]; }
    void ShowPages() override { PagesShown = true; }
    void AppendToCaption(std::string_view text) override { Caption += text; }
};

class ConversationFlowsTest : public ::testing::Test {
protected:
    ConversationFlowsTest() {
        Fake.Answer = [this](const FakeWindowMessages::SendRecord& send) {
            const auto found = Replies.find(send.Line());
            return found == Replies.end() ? Lines{} : found->second;
        };
        Skype.OnChatMsgInfo = [this](std::int32_t id, skype::TSkypeChatMsgProperty property,
                                     std::string value) {
            Flows.SkypeControlChatMsgInfo(id, property, value);
        };
        Skype.Attach(4);
        Fake.DeliverAttachStatus(ClientWindow, 0);
        Fake.Sends.clear();
        View.Contacts = {"alice", "bob", "me"};
    }

    /// Lines the client sent to the program, as notifications.
    void Notify(const Lines& lines) {
        for (const auto& line : lines) {
            Fake.DeliverLine(ClientWindow, line);
        }
    }

    Lines Sent() const {
        Lines lines;
        for (const auto& send : Fake.Sends) {
            lines.push_back(send.Line());
        }
        return lines;
    }

    std::size_t QueueLength() const {
        std::size_t length = 0;
        const QueueAtom* last = nullptr;
        for (const QueueAtom* atom = Flows.PendingMessages().QueueHead(); atom != nullptr;
             atom = atom->Next.get()) {
            EXPECT_EQ(atom->Prev, last);
            last = atom;
            ++length;
        }
        EXPECT_EQ(Flows.PendingMessages().QueueTail(), last);
        return length;
    }

    FakeWindowMessages Fake;
    skype::TSkypeControl Skype{&Fake};
    FakeView View;
    std::map<std::string, Lines> Replies;
    bool TranslatorDown = false;
    bool EmptyTranslation = false;
    /// Lines the client sends while the next translation runs, as the bus
    /// delivers them inside it.
    Lines DuringTranslation;
    /// Marks a translation with its language code, so the tests see which was asked.
    ConversationFlows Flows{View, Skype, [this](std::u16string_view text, std::int32_t code) {
                                Notify(std::exchange(DuringTranslation, {}));
                                if (TranslatorDown) {
                                    throw std::runtime_error("Connection refused");
                                }
                                if (EmptyTranslation) {
                                    return std::u16string();
                                }
                                return u"[" + std::u16string(1, char16_t(u'0' + code)) + u"]" +
                                       std::u16string(text);
                            }};
};

TEST_F(ConversationFlowsTest, IncomingPiecesInAnyOrderShowEachMessageOnceOnItsSendersPage) {
    struct Case {
        const char* Name;
        std::map<std::string, Lines> Replies;
        Lines Notifications;
        Lines Requests;
        std::map<std::string, std::vector<std::u16string>> Pages;
        std::string Selected;
        std::size_t Queued;
    };
    const std::vector<Case> cases = {
        {"answers nested in the requests",
         {{"GET CHATMESSAGE 42 FROM_HANDLE", {"CHATMESSAGE 42 FROM_HANDLE bob"}},
          {"GET CHATMESSAGE 42 BODY", {"CHATMESSAGE 42 BODY Hola"}}},
         {"CHATMESSAGE 42 STATUS RECEIVED"},
         {"GET CHATMESSAGE 42 FROM_HANDLE", "GET CHATMESSAGE 42 BODY"},
         {{"bob", {u"bob: [1]Hola"}}},
         "bob",
         0},
        {"body before sender",
         {},
         {"CHATMESSAGE 7 BODY Salut", "CHATMESSAGE 7 FROM_HANDLE alice"},
         {},
         {{"alice", {u"alice: [1]Salut"}}},
         "alice",
         0},
        {"interleaved, shown as they complete",
         {},
         {"CHATMESSAGE 1 FROM_HANDLE alice", "CHATMESSAGE 2 FROM_HANDLE bob",
          "CHATMESSAGE 2 BODY two", "CHATMESSAGE 1 BODY one"},
         {},
         {{"alice", {u"alice: [1]one"}}, {"bob", {u"bob: [1]two"}}},
         "alice",
         0},
        {"other statuses start nothing; an empty body waits",
         {},
         {"CHATMESSAGE 3 STATUS SENT", "CHATMESSAGE 4 STATUS received",
          "CHATMESSAGE 5 FROM_HANDLE bob", "CHATMESSAGE 5 BODY "},
         {},
         {},
         "alice",
         1},
        {"a sender who is no contact leaves no selection",
         {},
         {"CHATMESSAGE 9 FROM_HANDLE zoe", "CHATMESSAGE 9 BODY Hi"},
         {},
         {{"zoe", {u"zoe: [1]Hi"}}},
         "",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        View.Pages.clear();
        View.Selected = 0;
        Fake.Sends.clear();
        Replies = c.Replies;
        Notify(c.Notifications);
        EXPECT_EQ(Sent(), c.Requests);
        std::map<std::string, std::vector<std::u16string>> pages;
        for (const auto& [handle, log] : View.Pages) {
            pages[handle] = log.Entries;
        }
        EXPECT_EQ(pages, c.Pages);
        EXPECT_EQ(View.ContactText(), c.Selected);
        EXPECT_EQ(QueueLength(), c.Queued);
        Flows.ClearQueue();
    }
}

TEST_F(ConversationFlowsTest, AFailedTranslationKeepsTheMessageUntilAPieceComesAgain) {
    TranslatorDown = true;
    EXPECT_THROW(Notify({"CHATMESSAGE 8 FROM_HANDLE bob", "CHATMESSAGE 8 BODY Hola"}),
                 std::runtime_error);
    EXPECT_TRUE(View.PagesShown);
    EXPECT_TRUE(View.Pages["bob"].Entries.empty());
    ASSERT_EQ(QueueLength(), 1u);
    EXPECT_EQ(Flows.PendingMessages().QueueHead()->Body, "Hola");

    TranslatorDown = false;
    Notify({"CHATMESSAGE 8 BODY Hola"});
    EXPECT_EQ(View.Pages["bob"].Entries, std::vector<std::u16string>{u"bob: [1]Hola"});
    EXPECT_EQ(QueueLength(), 0u);
}

TEST_F(ConversationFlowsTest, MessagesCompletedDuringATranslationFollowItInOrder) {
    DuringTranslation = {"CHATMESSAGE 2 FROM_HANDLE bob", "CHATMESSAGE 2 BODY two",
                         "CHATMESSAGE 1 BODY one again", "CHATMESSAGE 3 FROM_HANDLE bob",
                         "CHATMESSAGE 3 BODY three"};
    Notify({"CHATMESSAGE 1 FROM_HANDLE bob", "CHATMESSAGE 1 BODY one"});
    EXPECT_EQ(View.Pages["bob"].Entries,
              (std::vector<std::u16string>{u"bob: [1]one", u"bob: [1]two", u"bob: [1]three"}));
    EXPECT_EQ(QueueLength(), 0u);
}

TEST_F(ConversationFlowsTest, OutgoingSendsTranslationAndFooterAndLogsTheTypedText) {
    struct Case {
        const char* Name;
        std::int32_t SendIn;
        std::u16string Typed;
        bool EmptyTranslation;
        std::string Command;
        std::u16string Entry;
    };
    const std::vector<Case> cases = {
        {"two lines to Spanish", 1, u"Hi\r\nthere", false,
         "MESSAGE alice [5]Hi\r\nthere - Translated with Velantro",
         u"me: Hi\r\nthere ([5]Hi\r\nthere)"},
        {"Bulgarian footer", 3, u"Hi", false,
         "MESSAGE alice [2]Hi - "
         "\xD0\x9F\xD1\x80\xD0\xB5\xD0\xB2\xD0\xB5\xD0\xB4\xD0\xB5\xD0\xBD\xD0\xBE"
         " \xD1\x81\xD1\x8A\xD1\x81 Velantro",
         u"me: Hi ([2]Hi)"},
        {"no selection takes English", -1, u"Hi", false,
         "MESSAGE alice [1]Hi - Translated with Velantro", u"me: Hi ([1]Hi)"},
        {"an empty translation sends the footer alone", 0, u"Hi", true,
         "MESSAGE alice  - Translated with Velantro", u"me: Hi"},
        {"a surrogate pair is one sequence, a lone half U+FFFD", 0, u"\U0001F600\xD800", false,
         "MESSAGE alice [1]\xF0\x9F\x98\x80\xEF\xBF\xBD - Translated with Velantro",
         u"me: \U0001F600\xD800 ([1]\U0001F600\xD800)"},
    };
    Flows.SkypeControlCurrentUserHandle("me");
    View.Selected = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Fake.Sends.clear();
        View.Pages.clear();
        View.Send = c.SendIn;
        View.Message = c.Typed;
        View.SendEnabled = true;
        EmptyTranslation = c.EmptyTranslation;
        Flows.btnSendClick();
        EXPECT_EQ(Sent(), Lines{c.Command});
        EXPECT_EQ(View.Pages["alice"].Entries, std::vector<std::u16string>{c.Entry});
        EXPECT_TRUE(View.Message.empty());
        EXPECT_FALSE(View.SendEnabled);
    }
}

TEST_F(ConversationFlowsTest, ARefusedSendKeepsTheTypedTextAndWritesNothing) {
    struct Case {
        const char* Name;
        bool TranslatorDown;
        std::size_t TypedLength;
        const char* Error;
    };
    // "MESSAGE alice " is 14 bytes and the footer 27: 982 bytes of text fill 1023.
    const std::vector<Case> cases = {
        {"translator down", true, 10, "Connection refused"},
        {"one byte over the transport's limit", false, 980,
         "it is 1010 bytes of UTF-8, and the chat client takes at most 1023 bytes per command, "
         "which leaves 1009 bytes for a message to \"alice\""},
    };
    View.Selected = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TranslatorDown = c.TranslatorDown;
        View.Message = std::u16string(c.TypedLength, u'a');
        View.SendEnabled = true;
        try {
            Flows.btnSendClick();
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(c.Error), std::string::npos) << error.what();
        }
        EXPECT_TRUE(Fake.Sends.empty());
        EXPECT_TRUE(View.Pages.empty());
        EXPECT_EQ(View.Message.size(), c.TypedLength);
        EXPECT_TRUE(View.SendEnabled);
    }
    // The longest message that fits goes out whole.
    TranslatorDown = false;
    View.Message = std::u16string(979, u'a');
    Flows.btnSendClick();
    ASSERT_EQ(Fake.Sends.size(), 1u);
    EXPECT_EQ(Fake.Sends[0].Line().size(), 1023u);
}

TEST_F(ConversationFlowsTest, NotAttachedTheSendIsDroppedButTheEntryWritten) {
    FakeWindowMessages messages;
    skype::TSkypeControl detached(&messages);
    ConversationFlows flows(View, detached, [](std::u16string_view text, std::int32_t) {
        return u"[1]" + std::u16string(text);
    });
    View.Selected = 1;
    View.Message = u"Hi";
    flows.btnSendClick();
    EXPECT_TRUE(messages.Sends.empty());
    EXPECT_EQ(View.Pages["bob"].Entries, std::vector<std::u16string>{u": Hi ([1]Hi)"});
}

TEST_F(ConversationFlowsTest, AttachAsksForFriendsWhoFillTheListAndTheHandleJoinsTheCaption) {
    Replies["SEARCH FRIENDS "] = {"USERS carol, Bob, alice"};
    Skype.OnAttachSuccess = [this](skype::TSkypeControl&) {
        Flows.SkypeControlAttachSuccess();
    };
    Skype.OnSearchResult = [this](skype::TSkypeSearchType type, skype::TStringList list) {
        Flows.SkypeControlSearchResult(type, std::move(list));
    };
    Skype.OnCurrentUserHandle = [this](std::string handle) {
        Flows.SkypeControlCurrentUserHandle(handle);
    };
    Fake.DeliverAttachStatus(ClientWindow, 0);
    Notify({"CURRENTUSERHANDLE maria.k"});
    EXPECT_EQ(View.Contacts, (std::vector<std::string>{"carol", "Bob", "alice"}));
    EXPECT_EQ(View.Caption, "Velantro - maria.k");
    EXPECT_EQ(Flows.OwnHandle(), "maria.k");
}

TEST_F(ConversationFlowsTest, ABodyThatIsNotUtf8IsShownWithReplacementCharacters) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"caf\xE9", u"bob: [1]caf\uFFFD"},
        {"smile \xF0\x9F\x98", u"bob: [1]smile \uFFFD"},
        {"\xFF", u"bob: [1]\uFFFD"},
    };
    int id = 60;
    for (const auto& [body, entry] : cases) {
        SCOPED_TRACE(::testing::PrintToString(body));
        View.Pages.clear();
        Notify({"CHATMESSAGE " + std::to_string(id) + " FROM_HANDLE bob",
                "CHATMESSAGE " + std::to_string(id) + " BODY " + body});
        EXPECT_EQ(View.Pages["bob"].Entries, std::vector<std::u16string>{entry});
        EXPECT_EQ(QueueLength(), 0u);
        ++id;
    }
}

TEST(SendableText, OnlyCharactersAboveBlankCount) {
    EXPECT_FALSE(HasSendableText(u" \r\n\t\x1f "));
    EXPECT_TRUE(HasSendableText(u" \r\n x"));
}

} // namespace
} // namespace velantro::app

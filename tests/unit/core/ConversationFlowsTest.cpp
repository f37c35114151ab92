// The message flows against a chat client played in-process: its answers to
// the flow's requests arrive while the requests are still being sent.

#include "core/ConversationFlows.h"

#include "doubles/FakeWindowMessages.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <utility>

namespace velantro::core {
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
    /// Called when a page is added, as a page control makes its first page current.
    std::function<void(const std::string&)> PageAdded;
    ConversationLog* FindOrCreatePage(const std::string& handle) override {
        const bool added = !Pages.contains(handle);
        RecordingLog* log = &Pages[handle];
        if (added && PageAdded) {
            PageAdded(handle);
        }
        return log;
    }
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
        Skype.OnError = [this](std::int32_t code, std::string description) {
            Flows.SkypeControlError(code, description);
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
    /// Lines the client sends after a send has returned, while the flow waits.
    Lines AfterSend;
    int Waits = 0;
    int Translations = 0;
    /// Translations that succeed before the service fails again; -1 for all.
    int UpFor = -1;
    /// Marks a translation with its language code, so the tests see which was asked.
    ConversationFlows Flows{View, Skype,
                            [this](std::u16string_view text, std::int32_t code) {
                                Notify(std::exchange(DuringTranslation, {}));
                                ++Translations;
                                if (UpFor == 0) {
                                    throw std::runtime_error("Connection refused");
                                }
                                UpFor -= UpFor > 0 ? 1 : 0;
                                if (TranslatorDown) {
                                    throw std::runtime_error("Connection refused");
                                }
                                if (EmptyTranslation) {
                                    return std::u16string();
                                }
                                return u"[" + std::u16string(1, char16_t(u'0' + code)) + u"]" +
                                       std::u16string(text);
                            },
                            [this](const std::function<bool()>&) {
                                ++Waits;
                                Notify(std::exchange(AfterSend, {}));
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

TEST_F(ConversationFlowsTest, AFailedTranslationShowsTheOwnWordsAndTranslatesLater) {
    using Entries = std::vector<std::u16string>;
    struct Step {
        bool Down;
        Lines Notifications;
        const char* Error; ///< the error raised, or null
        Entries Bob;       ///< bob's page afterwards
    };
    struct Case {
        const char* Name;
        std::vector<Step> Steps;
    };
    const auto message = [](int id, const char* from, const char* body) {
        return Lines{"CHATMESSAGE " + std::to_string(id) + " FROM_HANDLE " + from,
                     "CHATMESSAGE " + std::to_string(id) + " BODY " + body};
    };
    const char* const down = "The message from bob could not be translated: Connection refused";
    const std::vector<Case> cases = {
        {"three down, then the next translates all, oldest first",
         {{true, message(1, "bob", "Bonjour 1"), down, {u"bob: Bonjour 1 [not translated]"}},
          {true,
           message(2, "bob", "Bonjour 2"),
           down,
           {u"bob: Bonjour 1 [not translated]", u"bob: Bonjour 2 [not translated]"}},
          {true,
           message(3, "bob", "Bonjour 3"),
           down,
           {u"bob: Bonjour 1 [not translated]", u"bob: Bonjour 2 [not translated]",
            u"bob: Bonjour 3 [not translated]"}},
          {false,
           message(4, "bob", "Bonjour 4"),
           nullptr,
           {u"bob: Bonjour 1 [not translated]", u"bob: Bonjour 2 [not translated]",
            u"bob: Bonjour 3 [not translated]", u"bob: [1]Bonjour 1", u"bob: [1]Bonjour 2",
            u"bob: [1]Bonjour 3", u"bob: [1]Bonjour 4"}},
          // Announced again after all that: nothing shows twice.
          {false,
           Lines{"CHATMESSAGE 2 BODY Bonjour 2", "CHATMESSAGE 4 FROM_HANDLE bob"},
           nullptr,
           {u"bob: Bonjour 1 [not translated]", u"bob: Bonjour 2 [not translated]",
            u"bob: Bonjour 3 [not translated]", u"bob: [1]Bonjour 1", u"bob: [1]Bonjour 2",
            u"bob: [1]Bonjour 3", u"bob: [1]Bonjour 4"}}}},
        {"its body again translates it; still down, it waits silently",
         {{true, message(5, "bob", "Hola"), down, {u"bob: Hola [not translated]"}},
          {true, Lines{"CHATMESSAGE 5 BODY Hola"}, nullptr, {u"bob: Hola [not translated]"}},
          {false,
           Lines{"CHATMESSAGE 5 BODY Hola"},
           nullptr,
           {u"bob: Hola [not translated]", u"bob: [1]Hola"}},
          {false,
           Lines{"CHATMESSAGE 5 BODY Hola"},
           nullptr,
           {u"bob: Hola [not translated]", u"bob: [1]Hola"}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        View.Pages.clear();
        for (std::size_t i = 0; i < c.Steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step& step = c.Steps[i];
            TranslatorDown = step.Down;
            try {
                Notify(step.Notifications);
                EXPECT_EQ(step.Error, nullptr) << "no error";
            } catch (const std::runtime_error& error) {
                ASSERT_NE(step.Error, nullptr) << error.what();
                EXPECT_EQ(std::string(error.what()), step.Error);
            }
            EXPECT_EQ(View.Pages["bob"].Entries, step.Bob);
            EXPECT_EQ(QueueLength(), 0u);
        }
        EXPECT_EQ(Flows.UntranslatedCount(), 0u);
    }
}

TEST_F(ConversationFlowsTest, ARetryThatFailsEndsTheRoundAndKeepsTheRestWaiting) {
    TranslatorDown = true;
    for (const std::string id : {"1", "2", "3"}) {
        EXPECT_THROW(Notify({"CHATMESSAGE " + id + " FROM_HANDLE alice",
                             "CHATMESSAGE " + id + " BODY m" + id}),
                     std::runtime_error);
    }
    // Up for the new message and the oldest waiting one, then down again.
    TranslatorDown = false;
    UpFor = 2;
    Notify({"CHATMESSAGE 4 FROM_HANDLE alice", "CHATMESSAGE 4 BODY m4"});
    EXPECT_EQ(Translations, 3 + 3) << "m2 failed; m3 was not tried";
    EXPECT_EQ(View.Pages["alice"].Entries,
              (std::vector<std::u16string>{
                  u"alice: m1 [not translated]", u"alice: m2 [not translated]",
                  u"alice: m3 [not translated]", u"alice: [1]m1", u"alice: [1]m4"}));
    EXPECT_EQ(Flows.UntranslatedCount(), 2u);
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

TEST_F(ConversationFlowsTest, ASendTheClientDidNotTakeIsNoSend) {
    const std::string command = "MESSAGE bob [1]Hi - Translated with Velantro";
    struct Case {
        const char* Name;
        std::intptr_t SendResult;
        Lines During;      ///< the client's lines while the send runs
        Lines After;       ///< its lines once the send returned
        const char* Error; ///< null: sent
        int Waits;
    };
    const std::vector<Case> cases = {
        {"not taken (refused, or no answer in time)",
         0,
         {},
         {},
         "The message to \"bob\" was not sent: the chat client did not take it, or did not "
         "answer in time",
         0},
        {"an ERROR during the send",
         1,
         {"ERROR 4 Invalid user handle"},
         {},
         "The message to \"bob\" was not sent: the chat client refused it with error 4: "
         "Invalid user handle",
         0},
        {"an ERROR just after the send",
         1,
         {},
         {"ERROR 71 Invalid message"},
         "The message to \"bob\" was not sent: the chat client refused it with error 71: "
         "Invalid message",
         1},
        {"its ERROR wins over the refusal",
         0,
         {"ERROR 4 Invalid user handle"},
         {},
         "The message to \"bob\" was not sent: the chat client refused it with error 4: "
         "Invalid user handle",
         0},
        {"confirmed during the send; a later error is another's",
         1,
         {"CHATMESSAGE 30 STATUS SENDING", "ERROR 9 Something else"},
         {},
         nullptr,
         0},
        {"confirmed just after the send", 1, {}, {"CHATMESSAGE 30 STATUS SENT"}, nullptr, 1},
        {"the error of a request nested in the send is that request's",
         1,
         {"CHATMESSAGE 31 STATUS RECEIVED", "CHATMESSAGE 30 STATUS SENDING"},
         {},
         nullptr,
         0},
    };
    Replies["GET CHATMESSAGE 31 FROM_HANDLE"] = {"ERROR 2 Invalid chat message id"};
    Flows.SkypeControlCurrentUserHandle("me");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        View.Pages.clear();
        View.Selected = 1;
        View.Message = u"Hi";
        View.SendEnabled = true;
        Fake.SendResult = c.SendResult;
        Replies[command] = c.During;
        AfterSend = c.After;
        Waits = 0;
        try {
            Flows.btnSendClick();
            EXPECT_EQ(c.Error, nullptr) << "sent";
            EXPECT_EQ(View.Pages["bob"].Entries, std::vector<std::u16string>{u"me: Hi ([1]Hi)"});
            EXPECT_TRUE(View.Message.empty());
            EXPECT_FALSE(View.SendEnabled);
        } catch (const std::runtime_error& error) {
            ASSERT_NE(c.Error, nullptr) << error.what();
            EXPECT_EQ(std::string(error.what()), c.Error);
            EXPECT_TRUE(View.Pages.empty());
            EXPECT_EQ(View.Message, u"Hi");
            EXPECT_TRUE(View.SendEnabled);
        }
        EXPECT_EQ(Waits, c.Waits);
    }
}

TEST_F(ConversationFlowsTest, ASendTheClientTakesLateIsWrittenOnThePageThen) {
    // Once the client runs again it sends the message after all, and reports
    // it with the statuses of a message nobody here saw being sent.
    const std::string body = "[1]Hi - Translated with Velantro";
    const Lines late = {"CHATMESSAGE 40 STATUS SENDING", "CHATMESSAGE 40 STATUS SENT"};
    struct Case {
        const char* Name;
        bool TimedOut;     ///< the send gave up without an answer
        Lines BodyAnswers; ///< the client's answer to the question for message 40's body
        Lines LaterLines;  ///< what the client says afterwards
        std::vector<std::u16string> BobsPage;
        Lines Asked;        ///< the program's commands after the failed send
        std::size_t Pieces; ///< bodies left in the queue as pieces of incoming messages
    };
    const std::vector<Case> cases = {
        {"sent late: its statuses bring it to the page, once",
         true,
         {"CHATMESSAGE 40 BODY " + body},
         late,
         {u"me: Hi ([1]Hi)"},
         {"GET CHATMESSAGE 40 BODY"},
         0},
        {"a message the user sent from the client itself is not the one; the next is",
         true,
         {"CHATMESSAGE 40 BODY Hello from the client"},
         {"CHATMESSAGE 41 STATUS SENT"},
         {u"me: Hi ([1]Hi)"},
         {"GET CHATMESSAGE 40 BODY", "GET CHATMESSAGE 41 BODY"},
         1},
        {"nothing waits to go out: statuses ask nothing", false, {}, late, {}, {}, 0},
        {"the client forgot it: the question stays unanswered",
         true,
         {"ERROR 12 Invalid message id"},
         {"CHATMESSAGE 40 BODY " + body},
         {u"me: Hi ([1]Hi)"},
         {"GET CHATMESSAGE 40 BODY"},
         0},
    };
    Flows.SkypeControlCurrentUserHandle("me");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ConversationFlows flows{
            View,
            Skype,
            [](std::u16string_view text, std::int32_t) { return u"[1]" + std::u16string(text); },
            {}};
        Skype.OnChatMsgInfo = [&flows](std::int32_t id, skype::TSkypeChatMsgProperty property,
                                       std::string value) {
            flows.SkypeControlChatMsgInfo(id, property, value);
        };
        flows.SkypeControlCurrentUserHandle("me");
        View.Pages.clear();
        View.Selected = 1;
        View.Message = u"Hi";
        if (c.TimedOut) {
            Fake.SendResult = 0;
            EXPECT_THROW(flows.btnSendClick(), std::runtime_error);
            Fake.SendResult = 1;
            EXPECT_TRUE(View.Pages.empty());
        }
        Fake.Sends.clear();
        Replies["GET CHATMESSAGE 40 BODY"] = c.BodyAnswers;
        Replies["GET CHATMESSAGE 41 BODY"] = {"CHATMESSAGE 41 BODY " + body};
        Notify(late);
        Notify(c.LaterLines);
        EXPECT_EQ(View.Pages["bob"].Entries, c.BobsPage);
        EXPECT_EQ(Sent(), c.Asked);
        EXPECT_EQ(View.Message, u"Hi") << "the field is the user's";
        std::size_t pieces = 0;
        for (const QueueAtom* atom = flows.PendingMessages().QueueHead(); atom != nullptr;
             atom = atom->Next.get()) {
            ++pieces;
        }
        EXPECT_EQ(pieces, c.Pieces);
    }
}

TEST_F(ConversationFlowsTest, TheStatusesOfAConfirmedSendAskNothingLater) {
    // A send that times out, then one the client confirms: the confirmed
    // one's later statuses are not taken for the first one's.
    Flows.SkypeControlCurrentUserHandle("me");
    View.Selected = 1;
    View.Message = u"Hi";
    Fake.SendResult = 0;
    EXPECT_THROW(Flows.btnSendClick(), std::runtime_error);
    Fake.SendResult = 1;
    Replies["MESSAGE bob [1]Hi - Translated with Velantro"] = {"CHATMESSAGE 50 STATUS SENDING"};
    Flows.btnSendClick();
    Fake.Sends.clear();
    Notify({"CHATMESSAGE 50 STATUS SENT"});
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(View.Pages["bob"].Entries, std::vector<std::u16string>{u"me: Hi ([1]Hi)"});
}

TEST_F(ConversationFlowsTest, NotAttachedNothingIsSentAndTheTextKept) {
    FakeWindowMessages messages;
    skype::TSkypeControl detached(&messages);
    ConversationFlows flows(View, detached, [](std::u16string_view text, std::int32_t) {
        return u"[1]" + std::u16string(text);
    });
    View.Selected = 1;
    View.Message = u"Hi";
    View.SendEnabled = true;
    try {
        flows.btnSendClick();
        ADD_FAILURE() << "sent";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "The message to \"bob\" was not sent: Velantro is not attached to the chat "
                  "client");
    }
    EXPECT_TRUE(messages.Sends.empty());
    EXPECT_TRUE(View.Pages.empty());
    EXPECT_EQ(View.Message, u"Hi");
    EXPECT_TRUE(View.SendEnabled); // No contact chosen: the box names nobody.
    View.Selected = -1;
    EXPECT_THROW(
        {
            try {
                flows.btnSendClick();
            } catch (const std::runtime_error& error) {
                EXPECT_EQ(std::string(error.what()),
                          "The message was not sent: Velantro is not attached to the chat client");
                throw;
            }
        },
        std::runtime_error);
}

TEST_F(ConversationFlowsTest, TheRecipientChangesOnlyWhileNothingIsBeingWritten) {
    struct Case {
        const char* Name;
        std::u16string Typed;
        std::string Selected; ///< "To" after alice's message came
    };
    const std::vector<Case> cases = {
        {"empty", u"", "alice"},
        {"blanks and line breaks", u" \r\n\t ", "alice"},
        {"a reply being written", u"Dear bob,\r\n", "bob"},
    };
    int id = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        View.Selected = 1;
        View.Message = c.Typed;
        const std::string n = std::to_string(++id);
        Notify({"CHATMESSAGE " + n + " FROM_HANDLE alice", "CHATMESSAGE " + n + " BODY Hola"});
        EXPECT_EQ(View.ContactText(), c.Selected);
        EXPECT_EQ(View.Message, c.Typed);
    }
    // Choosing a page is the user's choice, text or not; a page the flow
    // adds (and the page control makes current) is not.
    View.PageAdded = [this](const std::string& handle) {
        Flows.PageControl1Change(handle);
    };
    View.Selected = 0;
    View.Message = u"Hi";
    Notify({"CHATMESSAGE 200 FROM_HANDLE bob", "CHATMESSAGE 200 BODY Hola"});
    EXPECT_EQ(View.ContactText(), "alice");
    Flows.PageControl1Change("bob");
    EXPECT_EQ(View.ContactText(), "bob");
}

TEST_F(ConversationFlowsTest, ANewFriendsListKeepsTheRecipientOfAReplyBeingWritten) {
    struct Case {
        const char* Name;
        std::u16string Typed;
        std::vector<std::string> Friends; ///< the client's new list
        std::string Selected;             ///< "To" afterwards
    };
    const std::vector<Case> cases = {
        {"nothing typed: the first friend", u"", {"alice", "bob", "carol"}, "alice"},
        {"only blanks: the first friend", u" \r\n", {"alice", "bob", "carol"}, "alice"},
        {"a reply to bob stays bob's", u"Dear bob", {"alice", "bob", "carol"}, "bob"},
        {"bob no longer listed: nobody", u"Dear bob", {"alice", "carol"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        View.Contacts = {"alice", "bob"};
        View.Selected = 1;
        View.Message = c.Typed;
        Flows.SkypeControlSearchResult(skype::TSkypeSearchType::stFriends, c.Friends);
        EXPECT_EQ(View.Contacts, c.Friends);
        EXPECT_EQ(View.ContactText(), c.Selected);
    }
}

TEST_F(ConversationFlowsTest, AMessageAnnouncedAgainIsNeitherAskedForNorShownTwice) {
    Replies = {{"GET CHATMESSAGE 42 FROM_HANDLE", {"CHATMESSAGE 42 FROM_HANDLE bob"}},
               {"GET CHATMESSAGE 42 BODY", {"CHATMESSAGE 42 BODY Hola"}}};
    Notify({"CHATMESSAGE 42 STATUS RECEIVED"});
    Fake.Sends.clear();
    Notify({"CHATMESSAGE 42 STATUS RECEIVED", "CHATMESSAGE 42 BODY Hola",
            "CHATMESSAGE 42 FROM_HANDLE bob"});
    EXPECT_EQ(Sent(), Lines{});
    EXPECT_EQ(View.Pages["bob"].Entries, std::vector<std::u16string>{u"bob: [1]Hola"});
    EXPECT_EQ(QueueLength(), 0u);
}

TEST(MessageQueue, KeepsAtMostItsLimitDroppingTheOldestAndFindsByIndex) {
    TMessageQueue queue(3);
    for (std::int32_t id = 1; id <= 5; ++id) {
        queue.QueueChatMsgPart(id, "body", TMsgPart::Body);
    }
    queue.QueueChatMsgPart(4, "alice", TMsgPart::Sender);
    std::vector<std::int32_t> ids;
    for (const QueueAtom* atom = queue.QueueHead(); atom != nullptr; atom = atom->Next.get()) {
        ids.push_back(atom->ChatMsgID);
        EXPECT_EQ(queue.Find(atom->ChatMsgID), atom);
    }
    EXPECT_EQ(ids, (std::vector<std::int32_t>{3, 4, 5}));
    EXPECT_EQ(queue.QueueTail()->ChatMsgID, 5);
    EXPECT_EQ(queue.Find(1), nullptr);
    EXPECT_EQ(queue.Find(4)->FromHandle, "alice");
    queue.Unlink(*queue.Find(4));
    EXPECT_EQ(queue.Find(4), nullptr);
    EXPECT_EQ(queue.Size(), 2u);
    EXPECT_EQ(queue.QueueHead()->Next.get(), queue.QueueTail());
    EXPECT_EQ(queue.QueueTail()->Prev, queue.QueueHead());
    queue.Clear();
    EXPECT_EQ(queue.Find(3), nullptr);
    EXPECT_EQ(queue.Size(), 0u);
}

TEST(RecentIds, ForgetsTheOldestBeyondItsLimit) {
    TRecentIds ids(2);
    for (const std::int32_t id : {7, 8, 7, 9}) {
        ids.Add(id);
    }
    EXPECT_FALSE(ids.Contains(7));
    EXPECT_TRUE(ids.Contains(8));
    EXPECT_TRUE(ids.Contains(9));
    EXPECT_EQ(ids.Size(), 2u);
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
} // namespace velantro::core

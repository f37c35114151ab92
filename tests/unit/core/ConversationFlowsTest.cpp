// The conversation core against a chat client and a translation service
// played in-process, both answering from the event loop the test turns: a
// line is handled, a command answered and a translation back only then.

#include "core/ConversationFlows.h"

#include "doubles/FakeWindowMessages.h"

#include <chrono>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <utility>

namespace velantro::core {
namespace {

using doubles::FakeWindowMessages;
using Lines = std::vector<std::string>;
using Entries = std::vector<std::u16string>;

constexpr platform::WindowHandle ClientWindow = 0x2002;

struct RecordingLog final : ConversationLog {
    Entries Lines;
    std::size_t AppendLine(std::u16string_view text) override {
        Lines.emplace_back(text);
        return Lines.size() - 1;
    }
    void ReplaceLine(std::size_t entry, std::u16string_view text) override {
        Lines.at(entry) = std::u16string(text);
    }
};

/// The window's controls as plain values.
struct FakeView final : MainView {
    std::int32_t Receive = 0;
    std::int32_t Send = 0;
    std::vector<std::string> Contacts;
    int Selected = -1;
    std::u16string Message;
    bool SendEnabled = false;
    bool Pending = false;
    bool PagesShown = false;
    std::string Caption = "Velantro";
    std::map<std::string, RecordingLog> Pages;
    std::vector<std::string> Errors;

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
    void SetSendPending(bool pending) override {
        Pending = pending;
        SendEnabled = !pending && HasSendableText(Message);
    }
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
    void ShowError(const std::string& message) override { Errors.push_back(message); }

    Entries Page(const std::string& handle) const {
        const auto found = Pages.find(handle);
        return found == Pages.end() ? Entries{} : found->second.Lines;
    }
};

/// A translation service that answers from the fake's loop, in order. Its
/// translation marks the text with the language code ("[5]Hola"); while Down
/// (or once UpFor translations have succeeded) it fails.
struct FakeTranslation final : TranslationService {
    explicit FakeTranslation(FakeWindowMessages& loop)
        : Loop(loop) {}

    void Translate(std::u16string text, std::int32_t code, Done done) override {
        Asked.push_back(text);
        Loop.RunLater([this, text = std::move(text), code, done = std::move(done)] {
            ++Answered;
            TranslationOutcome outcome;
            if (Down || UpFor == 0) {
                outcome.Error = "Connection refused";
            } else if (Empty) {
                outcome.Text = u"";
            } else {
                outcome.Text = u"[" + std::u16string(1, char16_t(u'0' + code)) + u"]" + text;
            }
            UpFor -= UpFor > 0 ? 1 : 0;
            done(std::move(outcome));
        });
    }

    FakeWindowMessages& Loop;
    std::vector<std::u16string> Asked;
    int Answered = 0;
    bool Down = false;
    bool Empty = false;
    /// Translations that succeed before the service fails again; -1 for all.
    int UpFor = -1;
};

class ConversationFlowsTest : public ::testing::Test {
protected:
    ConversationFlowsTest() {
        Fake.Answer = [this](const FakeWindowMessages::SendRecord& send) {
            const auto found = Replies.find(send.Line());
            return found == Replies.end() ? Lines{} : found->second;
        };
        Bind(Flows);
        Skype.Attach(4);
        Fake.DeliverAttachStatus(ClientWindow, 0);
        Settle();
        Fake.Sends.clear();
        View.Contacts = {"alice", "bob", "me"};
    }

    void Bind(ConversationFlows& flows) {
        Skype.OnChatMsgInfo = [&flows](std::int32_t id, skype::TSkypeChatMsgProperty property,
                                       std::string value) {
            flows.ChatMessageReported(id, property, value);
        };
        Skype.OnAttachSuccess = [&flows](skype::TSkypeControl&) { flows.Attached(); };
        Skype.OnSearchResult = [&flows](skype::TSkypeSearchType, skype::TStringList list) {
            flows.FriendsReported(list);
        };
        Skype.OnCurrentUserHandle = [&flows](std::string handle) {
            flows.OwnHandleReported(handle);
        };
    }

    /// Lines the client sent to the program, as notifications.
    void Notify(const Lines& lines) {
        for (const auto& line : lines) {
            EXPECT_EQ(Fake.DeliverLine(ClientWindow, line).Result, 1);
        }
    }

    /// Lets everything run out: lines, commands, their time limits, translations.
    void Settle() { Fake.Advance(std::chrono::seconds(60)); }

    Lines Sent() const { return Fake.SentLines(); }

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

    /// The user types text and presses Send.
    void Type(std::u16string text, int to) {
        View.Message = std::move(text);
        View.Selected = to;
        Flows.MessageChanged();
        Flows.SendTyped();
    }

    FakeWindowMessages Fake;
    skype::TSkypeControl Skype{&Fake};
    FakeView View;
    FakeTranslation Service{Fake};
    std::map<std::string, Lines> Replies;
    ConversationFlows Flows{View, Skype, Service};
};

std::u16string Utf16(int n) {
    const std::string digits = std::to_string(n);
    return {digits.begin(), digits.end()};
}

Lines Message(int id, const std::string& from, const std::string& body) {
    return {"CHATMESSAGE " + std::to_string(id) + " FROM_HANDLE " + from,
            "CHATMESSAGE " + std::to_string(id) + " BODY " + body};
}

TEST_F(ConversationFlowsTest, IncomingPiecesInAnyOrderShowEachMessageOnceOnItsSendersPage) {
    struct Case {
        const char* Name;
        std::map<std::string, Lines> Replies;
        Lines Notifications;
        Lines Requests;
        std::map<std::string, Entries> Pages;
        std::string Selected;
        std::size_t Queued;
    };
    const std::vector<Case> cases = {
        {"asked for and answered",
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
         Message(9, "zoe", "Hi"),
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
        // Taken at once, handled only from the loop.
        EXPECT_TRUE(View.Pages.empty());
        Settle();
        EXPECT_EQ(Sent(), c.Requests);
        std::map<std::string, Entries> pages;
        for (const auto& [handle, log] : View.Pages) {
            pages[handle] = log.Lines;
        }
        EXPECT_EQ(pages, c.Pages);
        EXPECT_EQ(View.ContactText(), c.Selected);
        EXPECT_EQ(QueueLength(), c.Queued);
        Flows.ClearQueue();
    }
}

TEST_F(ConversationFlowsTest, AFailedTranslationShowsTheOwnWordsAndIsTranslatedInItsPlaceLater) {
    struct Step {
        bool Down;
        Lines Notifications;
        Lines Errors; ///< the errors told
        Entries Bob;  ///< bob's page afterwards
    };
    struct Case {
        const char* Name;
        std::vector<Step> Steps;
    };
    const std::string down = "The message from bob could not be translated: Connection refused";
    const std::vector<Case> cases = {
        {"three down, then the next brings all back, each in its place",
         {{true, Message(1, "bob", "Bonjour 1"), {down}, {u"bob: Bonjour 1 [not translated]"}},
          {true,
           Message(2, "bob", "Bonjour 2"),
           {down},
           {u"bob: Bonjour 1 [not translated]", u"bob: Bonjour 2 [not translated]"}},
          {true,
           Message(3, "bob", "Bonjour 3"),
           {down},
           {u"bob: Bonjour 1 [not translated]", u"bob: Bonjour 2 [not translated]",
            u"bob: Bonjour 3 [not translated]"}},
          {false,
           Message(4, "bob", "Bonjour 4"),
           {},
           {u"bob: [1]Bonjour 1", u"bob: [1]Bonjour 2", u"bob: [1]Bonjour 3",
            u"bob: [1]Bonjour 4"}},
          // Announced again after all that: nothing shows twice.
          {false,
           Lines{"CHATMESSAGE 2 BODY Bonjour 2", "CHATMESSAGE 4 FROM_HANDLE bob"},
           {},
           {u"bob: [1]Bonjour 1", u"bob: [1]Bonjour 2", u"bob: [1]Bonjour 3",
            u"bob: [1]Bonjour 4"}}}},
        {"its body again translates it; still down, it waits silently",
         {{true, Message(5, "bob", "Hola"), {down}, {u"bob: Hola [not translated]"}},
          {true, Lines{"CHATMESSAGE 5 BODY Hola"}, {}, {u"bob: Hola [not translated]"}},
          {false, Lines{"CHATMESSAGE 5 BODY Hola"}, {}, {u"bob: [1]Hola"}},
          {false, Lines{"CHATMESSAGE 5 BODY Hola"}, {}, {u"bob: [1]Hola"}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        View.Pages.clear();
        for (std::size_t i = 0; i < c.Steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step& step = c.Steps[i];
            Service.Down = step.Down;
            View.Errors.clear();
            Notify(step.Notifications);
            Settle();
            EXPECT_EQ(View.Errors, step.Errors);
            EXPECT_EQ(View.Page("bob"), step.Bob);
            EXPECT_EQ(QueueLength(), 0u);
        }
        EXPECT_EQ(Flows.UntranslatedCount(), 0u);
    }
}

TEST_F(ConversationFlowsTest, ARetryThatFailsEndsTheRoundAndKeepsTheRestWaiting) {
    Service.Down = true;
    for (const int id : {1, 2, 3}) {
        Notify(Message(id, "alice", "m" + std::to_string(id)));
    }
    Settle();
    // Up for the new message and the oldest waiting one, then down again.
    Service.Down = false;
    Service.UpFor = 2;
    Notify(Message(4, "alice", "m4"));
    Settle();
    EXPECT_EQ(Service.Asked.size(), 3u + 3u) << "m2 failed; m3 was not tried";
    EXPECT_EQ(View.Page("alice"),
              (Entries{u"alice: [1]m1", u"alice: m2 [not translated]",
                       u"alice: m3 [not translated]", u"alice: [1]m4"}));
    EXPECT_EQ(Flows.UntranslatedCount(), 2u);
    EXPECT_EQ(View.Errors.size(), 3u) << "a failed retry tells nobody";
}

TEST_F(ConversationFlowsTest, AThousandWaitingAreRetriedFromTheLoopAndNeverInsideADelivery) {
    const int waiting = static_cast<int>(ConversationFlows::UntranslatedLimit);
    Service.Down = true;
    for (int id = 1; id <= waiting; ++id) {
        Notify(Message(id, "bob", "m" + std::to_string(id)));
    }
    Settle();
    ASSERT_EQ(Flows.UntranslatedCount(), static_cast<std::size_t>(waiting));
    Service.Down = false;
    Notify(Message(5000, "bob", "back"));
    int turns = 0;
    int mostInATurn = 0;
    bool newcomerShown = false;
    while (Fake.QueuedWork() > 0 && turns < 100000) {
        const int before = Service.Answered;
        Fake.RunOneRound();
        ++turns;
        mostInATurn = std::max(mostInATurn, Service.Answered - before);
        if (turns == 50) {
            // A message arriving meanwhile: taken at once, nothing translated
            // inside its delivery, and shown before the retries are through.
            const int atDelivery = Service.Answered;
            Notify(Message(6000, "alice", "meanwhile"));
            EXPECT_EQ(Service.Answered, atDelivery);
        }
        if (!newcomerShown && !View.Page("alice").empty()) {
            newcomerShown = true;
            EXPECT_GT(Flows.UntranslatedCount(), 0u);
        }
    }
    EXPECT_TRUE(newcomerShown);
    EXPECT_LE(mostInATurn, 2);
    EXPECT_EQ(Flows.UntranslatedCount(), 0u);
    const Entries page = View.Page("bob");
    ASSERT_EQ(page.size(), static_cast<std::size_t>(waiting) + 1);
    for (int id = 1; id <= waiting; id += 111) {
        EXPECT_EQ(page[static_cast<std::size_t>(id - 1)], u"bob: [1]m" + Utf16(id));
    }
    EXPECT_EQ(page.back(), u"bob: [1]back");
}

TEST_F(ConversationFlowsTest, MessagesCompletingWhileOthersTranslateFollowInOrder) {
    Notify(Message(1, "bob", "one"));
    Fake.RunOneRound();
    Fake.RunOneRound();
    // Message 1 is with the service now.
    Notify({"CHATMESSAGE 2 FROM_HANDLE bob", "CHATMESSAGE 2 BODY two",
            "CHATMESSAGE 1 BODY one again", "CHATMESSAGE 3 FROM_HANDLE bob",
            "CHATMESSAGE 3 BODY three"});
    Settle();
    EXPECT_EQ(View.Page("bob"), (Entries{u"bob: [1]one", u"bob: [1]two", u"bob: [1]three"}));
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
    Flows.OwnHandleReported("me");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Fake.Sends.clear();
        View.Pages.clear();
        View.Send = c.SendIn;
        Service.Empty = c.EmptyTranslation;
        Replies[c.Command] = {"CHATMESSAGE 30 STATUS SENDING", "CHATMESSAGE 30 STATUS SENT"};
        Type(c.Typed, 0);
        // Under way: the field is the send's, and a second press does nothing.
        EXPECT_TRUE(View.Pending);
        EXPECT_FALSE(View.SendEnabled);
        Flows.SendTyped();
        Settle();
        EXPECT_EQ(Sent(), Lines{c.Command});
        EXPECT_EQ(View.Page("alice"), Entries{c.Entry});
        EXPECT_TRUE(View.Message.empty());
        EXPECT_FALSE(View.Pending);
        EXPECT_FALSE(View.SendEnabled);
        EXPECT_TRUE(View.Errors.empty());
    }
}

TEST_F(ConversationFlowsTest, ASendThatCannotGoOutKeepsTheTypedTextAndWritesNothing) {
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
         "The message is too long to send: it is 1010 bytes of UTF-8, and the chat client takes "
         "at most 1023 bytes per command, which leaves 1009 bytes for a message to \"alice\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        View.Errors.clear();
        Service.Down = c.TranslatorDown;
        Type(std::u16string(c.TypedLength, u'a'), 0);
        Settle();
        EXPECT_EQ(View.Errors, Lines{c.Error});
        EXPECT_TRUE(Fake.Sends.empty());
        EXPECT_TRUE(View.Pages.empty());
        EXPECT_EQ(View.Message.size(), c.TypedLength);
        EXPECT_TRUE(View.SendEnabled);
        EXPECT_FALSE(View.Pending);
    }
    // The longest message that fits goes out whole.
    Service.Down = false;
    Type(std::u16string(979, u'a'), 0);
    Settle();
    ASSERT_EQ(Fake.Sends.size(), 1u);
    EXPECT_EQ(Fake.Sends[0].Line().size(), 1023u);
}

TEST_F(ConversationFlowsTest, ASendIsSettledByTheClientsOwnAnswerWhateverArrivesMeanwhile) {
    const std::string command = "MESSAGE bob [1]Hi - Translated with Velantro";
    struct Case {
        const char* Name;
        std::intptr_t SendResult;
        bool AnswerAfterResult;
        Lines Answer; ///< the client's lines once it has the command
        const char* Error; ///< null: sent
        Entries Alice;     ///< a message from alice meanwhile
    };
    const std::string refused4 =
        "The message to \"bob\" was not sent: the chat client refused it with error 4: "
        "Invalid user handle";
    const std::vector<Case> cases = {
        {"not taken (refused, or no answer in time)", 0, false, {},
         "The message to \"bob\" was not sent: the chat client did not take it, or did not "
         "answer in time",
         {}},
        {"an ERROR while the send is under way", 1, false, {"ERROR 4 Invalid user handle"},
         refused4.c_str(), {}},
        {"an ERROR after the window took it", 1, true, {"ERROR 71 Invalid message"},
         "The message to \"bob\" was not sent: the chat client refused it with error 71: "
         "Invalid message",
         {}},
        {"its ERROR wins over the refusal", 0, false, {"ERROR 4 Invalid user handle"},
         refused4.c_str(), {}},
        {"confirmed; a later error is another's", 1, false,
         {"CHATMESSAGE 30 STATUS SENDING", "ERROR 9 Something else"}, nullptr, {}},
        {"confirmed after the window took it", 1, true, {"CHATMESSAGE 30 STATUS SENT"}, nullptr,
         {}},
        {"taken and never answered: sent", 1, false, {}, nullptr, {}},
        {"refused while a new message's request is under way: the refusal is the send's", 1,
         false, {"CHATMESSAGE 31 STATUS RECEIVED", "ERROR 4 Invalid user handle"},
         refused4.c_str(), {u"alice: [1]Hola"}},
        {"a new message announced before the confirmation", 1, false,
         {"CHATMESSAGE 31 STATUS RECEIVED", "CHATMESSAGE 30 STATUS SENDING"}, nullptr,
         {u"alice: [1]Hola"}},
    };
    Flows.OwnHandleReported("me");
    Replies["GET CHATMESSAGE 31 FROM_HANDLE"] = {"CHATMESSAGE 31 FROM_HANDLE alice"};
    Replies["GET CHATMESSAGE 31 BODY"] = {"CHATMESSAGE 31 BODY Hola"};
    int id = 30;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        View.Pages.clear();
        View.Errors.clear();
        Fake.SendResult = c.SendResult;
        Fake.AnswerAfterResult = c.AnswerAfterResult;
        // Each case's new message has an id of its own.
        ++id;
        Lines answer = c.Answer;
        for (std::string& line : answer) {
            if (line.starts_with("CHATMESSAGE 31 ")) {
                line.replace(12, 2, std::to_string(id + 100));
            }
        }
        const std::string n = std::to_string(id + 100);
        Replies["GET CHATMESSAGE " + n + " FROM_HANDLE"] = {"CHATMESSAGE " + n +
                                                            " FROM_HANDLE alice"};
        Replies["GET CHATMESSAGE " + n + " BODY"] = {"CHATMESSAGE " + n + " BODY Hola"};
        Replies[command] = answer;
        Type(u"Hi", 1);
        Settle();
        Fake.SendResult = 1;
        if (c.Error == nullptr) {
            EXPECT_TRUE(View.Errors.empty()) << View.Errors.front();
            EXPECT_EQ(View.Page("bob"), Entries{u"me: Hi ([1]Hi)"});
            EXPECT_TRUE(View.Message.empty());
            EXPECT_FALSE(View.SendEnabled);
        } else {
            EXPECT_EQ(View.Errors, Lines{c.Error});
            EXPECT_TRUE(View.Page("bob").empty());
            EXPECT_EQ(View.Message, u"Hi");
            EXPECT_TRUE(View.SendEnabled);
        }
        EXPECT_FALSE(View.Pending);
        EXPECT_EQ(View.Page("alice"), c.Alice);
    }
}

TEST_F(ConversationFlowsTest, ASendTheClientTakesLateGoesOnItsPartnersPageOnly) {
    // Once the client runs again it sends a message after all, and reports it
    // with the statuses of a message nobody here saw being sent.
    const std::string body = "[1]ok - Translated with Velantro";
    const Lines late = {"CHATMESSAGE 40 STATUS SENDING", "CHATMESSAGE 40 STATUS SENT"};
    struct Case {
        const char* Name;
        std::vector<int> TimedOut; ///< "ok" typed to these contacts, each given up on
        Lines Answers40;           ///< the client's answers about message 40
        Lines LaterLines;          ///< what the client says afterwards
        std::map<std::string, Entries> Pages;
        std::size_t Told;   ///< errors beyond the sends' own
        std::size_t Pieces; ///< bodies left in the queue as pieces of incoming messages
    };
    const std::vector<Case> cases = {
        {"sent late: its statuses bring it to the page, once",
         {1},
         {"CHATMESSAGE 40 USERS bob", "CHATMESSAGE 40 BODY " + body},
         late,
         {{"bob", {u"me: ok ([1]ok)"}}},
         0,
         0},
        {"the same text to alice and bob, only bob's sent late: bob's page alone",
         {0, 1},
         {"CHATMESSAGE 40 USERS bob", "CHATMESSAGE 40 BODY " + body},
         {},
         {{"bob", {u"me: ok ([1]ok)"}}},
         0,
         0},
        {"a message the user sent from the client itself is not the one; the next is",
         {1},
         {"CHATMESSAGE 40 USERS bob", "CHATMESSAGE 40 BODY Hello from the client"},
         {"CHATMESSAGE 41 STATUS SENT"},
         {{"bob", {u"me: ok ([1]ok)"}}},
         0,
         1},
        {"nothing waits to go out: statuses ask nothing", {}, {}, late, {}, 0, 0},
        {"the client forgot it: nothing is written", {1}, {"ERROR 12 Invalid message id"}, {}, {},
         0, 0},
        {"two such sends to bob: written on no page, and the user is told", {1, 1},
         {"CHATMESSAGE 40 USERS bob", "CHATMESSAGE 40 BODY " + body}, {}, {}, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        FakeTranslation service(Fake);
        ConversationFlows flows(View, Skype, service);
        Bind(flows);
        flows.OwnHandleReported("me");
        View.Pages.clear();
        View.Errors.clear();
        Fake.SendResult = 0;
        for (const int to : c.TimedOut) {
            View.Message = u"ok";
            View.Selected = to;
            flows.SendTyped();
            Settle();
        }
        Fake.SendResult = 1;
        EXPECT_EQ(View.Errors.size(), c.TimedOut.size());
        EXPECT_TRUE(View.Pages.empty());
        EXPECT_EQ(flows.MaybeSentCount(), c.TimedOut.size());
        Fake.Sends.clear();
        Replies.erase("GET CHATMESSAGE 40 USERS");
        Replies.erase("GET CHATMESSAGE 40 BODY");
        if (!c.Answers40.empty()) {
            Replies["GET CHATMESSAGE 40 USERS"] = {c.Answers40.front()};
            Replies["GET CHATMESSAGE 40 BODY"] = {c.Answers40.back()};
        }
        Replies["GET CHATMESSAGE 41 USERS"] = {"CHATMESSAGE 41 USERS bob"};
        Replies["GET CHATMESSAGE 41 BODY"] = {"CHATMESSAGE 41 BODY " + body};
        Notify(late);
        Notify(c.LaterLines);
        Settle();
        std::map<std::string, Entries> pages;
        for (const auto& [handle, log] : View.Pages) {
            pages[handle] = log.Lines;
        }
        EXPECT_EQ(pages, c.Pages);
        EXPECT_EQ(View.Errors.size(), c.TimedOut.size() + c.Told);
        EXPECT_EQ(View.Message, u"ok") << "the field is the user's";
        std::size_t pieces = 0;
        for (const QueueAtom* atom = flows.PendingMessages().QueueHead(); atom != nullptr;
             atom = atom->Next.get()) {
            ++pieces;
        }
        EXPECT_EQ(pieces, c.Pieces);
        Bind(Flows);
    }
}

TEST_F(ConversationFlowsTest, TheStatusesOfAConfirmedSendAskNothingLater) {
    // A send that times out, then one the client confirms: the confirmed
    // one's statuses are not taken for the first one's.
    Flows.OwnHandleReported("me");
    Fake.SendResult = 0;
    Type(u"Hi", 1);
    Settle();
    Fake.SendResult = 1;
    Replies["MESSAGE bob [1]Hi - Translated with Velantro"] = {"CHATMESSAGE 50 STATUS SENDING",
                                                               "CHATMESSAGE 50 STATUS SENT"};
    Type(u"Hi", 1);
    Settle();
    Fake.Sends.clear();
    Notify({"CHATMESSAGE 50 STATUS SENT"});
    Settle();
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(View.Page("bob"), Entries{u"me: Hi ([1]Hi)"});
}

TEST_F(ConversationFlowsTest, MessagesArriveWhileASendIsUnderWay) {
    Flows.OwnHandleReported("me");
    Replies["MESSAGE bob [1]Hi - Translated with Velantro"] = {"CHATMESSAGE 70 STATUS SENDING"};
    Type(u"Hi", 1);
    Notify(Message(71, "alice", "Hola"));
    Settle();
    EXPECT_EQ(View.Page("alice"), Entries{u"alice: [1]Hola"});
    EXPECT_EQ(View.Page("bob"), Entries{u"me: Hi ([1]Hi)"});
    EXPECT_EQ(View.ContactText(), "bob") << "a reply being sent keeps its recipient";
}

TEST_F(ConversationFlowsTest, NotAttachedNothingIsSentAndTheTextKept) {
    FakeWindowMessages messages;
    skype::TSkypeControl detached(&messages);
    FakeTranslation service(messages);
    ConversationFlows flows(View, detached, service);
    const std::pair<int, const char*> cases[] = {
        {1, "The message to \"bob\" was not sent: Velantro is not attached to the chat client"},
        // No contact chosen: the box names nobody.
        {-1, "The message was not sent: Velantro is not attached to the chat client"},
    };
    for (const auto& [to, error] : cases) {
        SCOPED_TRACE(error);
        View.Errors.clear();
        View.Message = u"Hi";
        View.Selected = to;
        flows.SendTyped();
        messages.Advance(std::chrono::seconds(10));
        EXPECT_EQ(View.Errors, Lines{error});
        EXPECT_TRUE(messages.Sends.empty());
        EXPECT_TRUE(View.Pages.empty());
        EXPECT_EQ(View.Message, u"Hi");
        EXPECT_TRUE(View.SendEnabled);
    }
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
        Notify(Message(++id, "alice", "Hola"));
        Settle();
        EXPECT_EQ(View.ContactText(), c.Selected);
        EXPECT_EQ(View.Message, c.Typed);
    }
    // Choosing a page is the user's choice, text or not; a page the flow
    // adds (and the page control makes current) is not.
    View.PageAdded = [this](const std::string& handle) { Flows.PageChosen(handle); };
    View.Selected = 0;
    View.Message = u"Hi";
    Notify(Message(200, "bob", "Hola"));
    Settle();
    EXPECT_EQ(View.ContactText(), "alice");
    Flows.PageChosen("bob");
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
        Flows.FriendsReported(c.Friends);
        EXPECT_EQ(View.Contacts, c.Friends);
        EXPECT_EQ(View.ContactText(), c.Selected);
    }
}

TEST_F(ConversationFlowsTest, AMessageAnnouncedAgainIsNeitherAskedForNorShownTwice) {
    Replies = {{"GET CHATMESSAGE 42 FROM_HANDLE", {"CHATMESSAGE 42 FROM_HANDLE bob"}},
               {"GET CHATMESSAGE 42 BODY", {"CHATMESSAGE 42 BODY Hola"}}};
    Notify({"CHATMESSAGE 42 STATUS RECEIVED"});
    Settle();
    Fake.Sends.clear();
    Notify({"CHATMESSAGE 42 STATUS RECEIVED", "CHATMESSAGE 42 BODY Hola",
            "CHATMESSAGE 42 FROM_HANDLE bob"});
    Settle();
    EXPECT_EQ(Sent(), Lines{});
    EXPECT_EQ(View.Page("bob"), Entries{u"bob: [1]Hola"});
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
    Fake.DeliverAttachStatus(ClientWindow, 0);
    Notify({"CURRENTUSERHANDLE maria.k"});
    Settle();
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
        Notify(Message(id++, "bob", body));
        Settle();
        EXPECT_EQ(View.Page("bob"), Entries{entry});
        EXPECT_EQ(QueueLength(), 0u);
    }
}

TEST(SendableText, OnlyCharactersAboveBlankCount) {
    EXPECT_FALSE(HasSendableText(u" \r\n\t\x1f "));
    EXPECT_TRUE(HasSendableText(u" \r\n x"));
}

TEST(AnswerLines, GiveTheirMessagesIdAndTheValueAsItStands) {
    EXPECT_EQ(ChatMessageIdOf("CHATMESSAGE 12 STATUS SENT"), 12);
    EXPECT_EQ(ChatMessageIdOf("MESSAGE 7 STATUS SENDING"), 7);
    EXPECT_EQ(ChatMessageIdOf("CHATMESSAGE x STATUS SENT"), std::nullopt);
    EXPECT_EQ(ChatMessageIdOf("OK"), std::nullopt);
    EXPECT_EQ(PropertyValueOf("CHATMESSAGE 12 BODY  two  blanks "), " two  blanks ");
    EXPECT_EQ(PropertyValueOf("CHATMESSAGE 12 BODY "), "");
    EXPECT_EQ(PropertyValueOf("CHATMESSAGE 12 BODY"), "");
}

} // namespace
} // namespace velantro::core

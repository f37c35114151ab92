// The conversation core with a history file: what the pages show is kept,
// comes back in the next run as it was shown, is found and is forgotten.

#include "core/ConversationFlows.h"
#include "doubles/FakeWindowMessages.h"
#include "history/HistoryStore.h"
#include "support/ScratchFolder.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>

namespace velantro::core {
namespace {

using doubles::FakeWindowMessages;
using Entries = std::vector<std::u16string>;

constexpr platform::WindowHandle ClientWindow = 0x2002;

struct Log final : ConversationLog {
    Entries Lines;
    std::size_t Prepended = 0;
    bool Earlier = false;
    std::optional<std::size_t> Revealed;
    std::size_t AppendEntry(const LogEntry& entry) override {
        Lines.push_back(PlainEntry(entry));
        return Lines.size() - 1 - Prepended;
    }
    void ReplaceEntry(std::size_t number, const LogEntry& entry) override {
        Lines.at(Prepended + number) = PlainEntry(entry);
    }
    void PrependEntries(const std::vector<LogEntry>& entries, bool earlier) override {
        Entries lines;
        for (const LogEntry& entry : entries) {
            lines.push_back(PlainEntry(entry));
        }
        Lines.insert(Lines.begin(), lines.begin(), lines.end());
        Prepended += entries.size();
        Earlier = earlier;
    }
    void RevealEntry(std::size_t position, std::u16string_view) override { Revealed = position; }
    void Clear() override { *this = {}; }
};

struct WindowView final : MainView {
    std::map<std::string, Log> Pages;
    std::vector<std::string> Order;
    std::string Current;
    std::vector<std::string> Contacts;
    int Selected = -1;
    std::u16string Message;
    bool Originals = false;
    std::vector<StatusLine> Statuses;
    std::vector<std::string> Errors;

    std::int32_t ReceiveLanguageIndex() const override { return 0; }
    std::int32_t SendLanguageIndex() const override { return 1; }
    void SelectSendLanguage(std::int32_t) override {}
    std::string ContactText() const override { return Selected < 0 ? "" : Contacts[Selected]; }
    void SelectContact(std::string_view handle) override {
        const auto found = std::find(Contacts.begin(), Contacts.end(), handle);
        Selected = found == Contacts.end() ? -1 : static_cast<int>(found - Contacts.begin());
    }
    void SetContacts(const std::vector<std::string>& friends,
                     const std::vector<std::string>& others) override {
        Contacts = friends;
        Contacts.insert(Contacts.end(), others.begin(), others.end());
        Selected = Contacts.empty() ? -1 : 0;
    }
    std::u16string MessageText() const override { return Message; }
    void SetMessageText(std::u16string_view text) override { Message = text; }
    void ClearMessage() override { Message.clear(); }
    void EnableSend(bool) override {}
    void SetSendPending(bool) override {}
    ConversationLog* FindOrCreatePage(const std::string& handle) override {
        if (!Pages.contains(handle)) {
            Order.push_back(handle);
        }
        return &Pages[handle];
    }
    void ShowPages() override {}
    void ShowPage(const std::string& handle) override { Current = handle; }
    void SetUnread(const std::string&, std::size_t) override {}
    std::u16string ClockTime() const override { return u"09:41"; }
    std::u16string EntryTime(std::int64_t) const override { return u"09:41"; }
    bool ShowOriginalText() const override { return Originals; }
    void ShowOwnHandle(std::string_view) override {}
    void ShowStatus(const StatusLine& status) override { Statuses.push_back(status); }
    void ShowError(const std::string& message) override { Errors.push_back(message); }
    /// Deferred work runs when the test says, as a loop would run it.
    bool Defer = false;
    std::deque<std::function<void()>> Later;
    void RunLater(const std::function<void()>& work) override {
        if (Defer) {
            Later.push_back(work);
        } else {
            work();
        }
    }
    void RunOne() {
        auto work = std::move(Later.front());
        Later.pop_front();
        work();
    }
};

/// Translates by marking the text with the language code, or fails while Down.
struct Translation final : TranslationService {
    explicit Translation(FakeWindowMessages& loop)
        : Loop(loop) {}
    void Translate(std::u16string text, std::int32_t code, Done done) override {
        Loop.RunLater([this, text = std::move(text), code, done = std::move(done)] {
            TranslationOutcome outcome;
            if (Down) {
                outcome.Error = "Connection refused";
            } else {
                outcome.Text = u"[" + std::u16string(1, char16_t(u'0' + code)) + u"]" + text;
            }
            done(std::move(outcome));
        });
    }
    FakeWindowMessages& Loop;
    bool Down = false;
};

/// One run of the program: the window, the chat client and the flows over
/// the history file.
struct Session {
    explicit Session(history::HistoryStore* store, bool defer = false) {
        View.Defer = defer;
        Fake.Answer = [this](const FakeWindowMessages::SendRecord& send) {
            const auto found = Replies.find(send.Line());
            return found == Replies.end() ? std::vector<std::string>{} : found->second;
        };
        Skype.OnChatMsgInfo = [this](std::int32_t id, skype::TSkypeChatMsgProperty property,
                                     std::string value) {
            Flows.ChatMessageReported(id, property, value);
        };
        Skype.OnSearchResult = [this](skype::TSkypeSearchType type, skype::TStringList list) {
            Flows.SearchReported(type, list);
        };
        Flows.UseHistory(store);
        Skype.Attach(4);
        Fake.DeliverAttachStatus(ClientWindow, 0);
        Settle();
        Flows.OwnHandleReported("me");
        Flows.FriendsReported({"alice", "bob"});
    }
    void Settle() { Fake.Advance(std::chrono::seconds(60)); }
    void Receive(int id, const std::string& from, const std::string& body) {
        const std::string n = std::to_string(id);
        Fake.DeliverLine(ClientWindow, "CHATMESSAGE " + n + " FROM_HANDLE " + from);
        Fake.DeliverLine(ClientWindow, "CHATMESSAGE " + n + " BODY " + body);
        Settle();
    }
    void Send(const std::string& to, std::u16string text) {
        Flows.ContactChosen(to);
        View.Message = std::move(text);
        Flows.MessageChanged();
        Flows.SendTyped();
        Settle();
    }
    std::map<std::string, Entries> Shown() const {
        std::map<std::string, Entries> pages;
        for (const auto& [handle, log] : View.Pages) {
            pages[handle] = log.Lines;
        }
        return pages;
    }

    FakeWindowMessages Fake;
    skype::TSkypeControl Skype{&Fake};
    WindowView View;
    Translation Service{Fake};
    std::map<std::string, std::vector<std::string>> Replies;
    ConversationFlows Flows{View, Skype, Service};
};

class ConversationHistoryTest : public ::testing::Test {
protected:
    std::unique_ptr<history::HistoryStore> Open() {
        auto opened = history::HistoryStore::Open(Folder.Path / "history.sqlite");
        EXPECT_NE(opened.Store, nullptr) << opened.Detail;
        return std::move(opened.Store);
    }
    testing::ScratchFolder Folder{"velantro-core-history-"};
};

TEST_F(ConversationHistoryTest, TheNextRunShowsThePagesInTheirOrderAsTheyWereShown) {
    std::map<std::string, Entries> before;
    {
        const auto store = Open();
        Session first(store.get());
        first.Receive(1, "bob", "Hola");
        first.Service.Down = true;
        first.Receive(2, "alice", "Salut");
        first.Service.Down = false;
        first.Receive(3, "alice", "Ca va"); // the waiting one is translated in its place
        first.Replies["MESSAGE alice [1]Bien - Translated with Velantro"] = {
            "CHATMESSAGE 4 STATUS SENDING"};
        first.Send("alice", u"Bien");
        first.Replies["GET CHATMESSAGE 9 USERS"] = {"CHATMESSAGE 9 USERS bob"};
        first.Replies["GET CHATMESSAGE 9 BODY"] = {"CHATMESSAGE 9 BODY typed on the phone"};
        first.Fake.DeliverLine(ClientWindow, "CHATMESSAGE 9 STATUS SENT");
        first.Settle();
        before = first.Shown();
        EXPECT_EQ(before.at("alice"),
                  (Entries{u"alice: [1]Salut", u"alice: [1]Ca va", u"me: Bien ([5]Bien)"}));
        EXPECT_EQ(before.at("bob"), (Entries{u"bob: [1]Hola", u"me: typed on the phone"}));
    }
    const auto store = Open();
    Session second(store.get());
    EXPECT_EQ(second.Shown(), before);
    EXPECT_EQ(second.View.Order, (std::vector<std::string>{"bob", "alice"}));
    EXPECT_EQ(second.View.Current, "bob") << "the first page is the conversation shown";
    EXPECT_FALSE(second.View.Pages.at("bob").Earlier);
}

TEST_F(ConversationHistoryTest, PagesComeBackOneATurnAndNewOnesStillFollowThem) {
    struct Case {
        const char* Name;
        int Turns;        ///< pages brought back before the message
        std::string From; ///< who writes then
        Entries Carol;    ///< carol's page afterwards
    };
    const Case cases[] = {
        {"a new partner waits for the pages before", 0, "dave", {u"carol: [1]old"}},
        {"a partner still to come back gets their entries first",
         1,
         "carol",
         {u"carol: [1]old", u"carol: [1]new"}},
        {"after every page is back", 2, "dave", {u"carol: [1]old"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(Folder.Path);
        const auto store = Open();
        {
            Session first(store.get());
            for (const char* partner : {"alice", "bob", "carol"}) {
                first.Receive(static_cast<int>(partner[0]), partner, "old");
            }
        }
        Session next(store.get(), true);
        EXPECT_EQ(next.View.Order, std::vector<std::string>{"alice"}) << "the first one at once";
        for (int turn = 0; turn < c.Turns; ++turn) {
            next.View.RunOne();
        }
        next.Receive(900, c.From, "new");
        while (!next.View.Later.empty()) {
            next.View.RunOne();
        }
        std::vector<std::string> order{"alice", "bob", "carol"};
        if (c.From == "dave") {
            order.push_back("dave");
        }
        EXPECT_EQ(next.View.Order, order);
        EXPECT_EQ(next.View.Pages.at("carol").Lines, c.Carol);
    }
}

TEST_F(ConversationHistoryTest, OriginalsAndMarksApplyToStoredEntriesToo) {
    {
        const auto store = Open();
        Session first(store.get());
        first.Service.Down = true;
        first.Receive(1, "bob", "sin traducir");
        first.Service.Down = false;
        first.Receive(2, "bob", "Hola");
    }
    struct Case {
        bool Originals;
        Entries Bob;
    };
    const std::u16string mark(NotTranslatedMark);
    const Case cases[] = {
        {false, {u"bob: [1]sin traducir", u"bob: [1]Hola"}},
        {true, {u"bob: [1]sin traducir (sin traducir)", u"bob: [1]Hola (Hola)"}},
    };
    for (const Case& c : cases) {
        const auto store = Open();
        Session next(store.get());
        next.View.Originals = c.Originals;
        next.View.Pages.clear();
        next.Flows.UseHistory(store.get());
        EXPECT_EQ(next.View.Pages.at("bob").Lines, c.Bob);
    }
}

TEST_F(ConversationHistoryTest, ALongConversationComesBackInPartAndSearchBringsBackTheRest) {
    const std::size_t count = ConversationFlows::RestoredEntries + 250;
    {
        const auto store = Open();
        Session first(store.get());
        for (std::size_t i = 0; i < count; ++i) {
            first.Receive(static_cast<int>(100 + i), "alice",
                          "message " + std::to_string(i) + (i == 7 ? " kiwi" : ""));
        }
    }
    const auto store = Open();
    Session second(store.get());
    Log& alice = second.View.Pages.at("alice");
    ASSERT_EQ(alice.Lines.size(), ConversationFlows::RestoredEntries);
    EXPECT_TRUE(alice.Earlier);
    EXPECT_EQ(alice.Lines.front(), u"alice: [1]message 250");

    // The entry found is brought back with everything after it, in its place.
    const auto found = second.Flows.FindInHistory(u"KIW");
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found.front().Original, "message 7 kiwi");
    ASSERT_TRUE(second.Flows.RevealFound(found.front().Id, u"KIW"));
    ASSERT_TRUE(alice.Revealed);
    EXPECT_EQ(alice.Lines.at(*alice.Revealed), u"alice: [1]message 7 kiwi");
    EXPECT_EQ(alice.Lines.size(), count) << "each entry once";
    EXPECT_EQ(alice.Lines.front(), u"alice: [1]message 0");
    EXPECT_FALSE(alice.Earlier);
    // A new message after the ones brought back still goes to the end.
    second.Receive(9000, "alice", "the newest");
    EXPECT_EQ(alice.Lines.back(), u"alice: [1]the newest");
    EXPECT_FALSE(second.Flows.FindInHistory(u"newest").empty());
    EXPECT_TRUE(second.Flows.FindInHistory(u"nowhere").empty());
}

TEST_F(ConversationHistoryTest, ADeletedConversationIsGoneFromThePageTheFileAndTheNextRun) {
    {
        const auto store = Open();
        Session first(store.get());
        first.Receive(1, "alice", "secreto");
        first.Receive(2, "bob", "Hola");
        first.Flows.ContactChosen("alice");
        ASSERT_TRUE(first.Flows.DeleteHistory("alice"));
        EXPECT_TRUE(first.View.Pages.at("alice").Lines.empty());
        EXPECT_TRUE(first.Flows.FindInHistory(u"secreto").empty());
        first.Receive(3, "alice", "again");
    }
    const auto store = Open();
    Session second(store.get());
    EXPECT_EQ(second.Shown(), (std::map<std::string, Entries>{{"alice", {u"alice: [1]again"}},
                                                              {"bob", {u"bob: [1]Hola"}}}));
}

TEST_F(ConversationHistoryTest, WithoutAHistoryTheStatusLineSaysWhy) {
    struct Case {
        StatusLine::History Why;
        std::string Problem;
        std::u16string Says;
    };
    const Case cases[] = {
        {StatusLine::History::Off, "", u"History: off"},
        {StatusLine::History::NotKept, "another Velantro uses /h/history.sqlite",
         u"History: not kept, another Velantro uses /h/history.sqlite"},
    };
    for (const Case& c : cases) {
        Session run(nullptr);
        run.Flows.HistoryUnavailable(c.Why, c.Problem);
        const std::u16string line = StatusText(run.View.Statuses.back(), StatusTexts{});
        EXPECT_TRUE(line.ends_with(StatusTexts{}.Separator + c.Says));
        run.Receive(1, "alice", "Hola");
        EXPECT_EQ(run.View.Pages.at("alice").Lines, Entries{u"alice: [1]Hola"});
    }
}

} // namespace
} // namespace velantro::core

// How skype-peer reads an account's message archive: which messages are news,
// where reading resumes, and the state file that remembers it, without a
// server.

#include "XmppArchive.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace velantro::standins;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace velantro::standins {
std::ostream& operator<<(std::ostream& out, const ArchiveState& state) {
    out << "{device " << state.Device << (state.Known ? ", after " + state.After : ", unknown")
        << ", settled";
    for (const std::string& id : state.Settled) {
        out << " " << id;
    }
    return out << "}";
}
std::ostream& operator<<(std::ostream& out, const XmppArchive::Query& query) {
    return out << "{" << query.Id << (query.Newest ? " newest" : " after " + query.After) << "}";
}
std::ostream& operator<<(std::ostream& out, const XmppArchive::Admission& admission) {
    return out << "{" << (admission.News ? "news" : "no news") << ", tag " << admission.Tag << "}";
}
} // namespace velantro::standins

namespace {

constexpr const char* Device = "0123456789abcdef";

XmppArrival FromBob(std::string archiveId, std::string messageId, std::string queryId = {}) {
    XmppArrival arrival;
    arrival.What = XmppArrival::Kind::Received;
    arrival.Partner = "bob@example.org";
    arrival.Body = "text of " + archiveId;
    arrival.ArchiveId = std::move(archiveId);
    arrival.SenderKey = messageId.empty() ? std::string() : "bob@example.org\n" + messageId;
    arrival.QueryId = std::move(queryId);
    return arrival;
}

ArchivePage Page(std::string last, bool complete) {
    return {true, false, complete, std::move(last)};
}

ArchiveState Known(std::string after, std::vector<std::string> settled = {}) {
    return {Device, true, std::move(after), std::move(settled)};
}

std::optional<XmppArchive::Query> End(XmppArchive& archive, const ArchivePage& page) {
    std::string problem;
    std::string note;
    auto next = archive.PageEnded(page, problem, note);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(note, "");
    return next;
}

// ---------------------------------------------------------------------------
// Reading

TEST(XmppArchive, WithoutAStateOnlyTheNewestMessageIsAskedForAndMarksWhereReadingStarts) {
    XmppArchive archive(std::nullopt);
    EXPECT_EQ(archive.Device().size(), 16u);
    EXPECT_FALSE(archive.Changed()) << "nothing worth saving before a position is known";
    const XmppArchive::Query query = archive.Begin();
    EXPECT_TRUE(query.Newest);
    // The newest message's own result is no news, and what arrives live
    // meanwhile is news but not tracked: it came before the mark.
    EXPECT_EQ(archive.Admit(FromBob("A7", "m7", query.Id)), XmppArchive::Admission{});
    EXPECT_EQ(archive.Admit(FromBob("A6", "m6")), (XmppArchive::Admission{true, 0}));
    EXPECT_EQ(End(archive, Page("A7", true)), std::nullopt);
    EXPECT_FALSE(archive.Reading());
    ASSERT_TRUE(archive.Changed());
    const ArchiveState state = archive.TakeState();
    EXPECT_EQ(state, (ArchiveState{archive.Device(), true, "A7", {}}));
    EXPECT_FALSE(archive.Changed());

    // An empty archive: reading starts from its start next time.
    XmppArchive empty(std::nullopt);
    empty.Begin();
    End(empty, Page("", true));
    EXPECT_EQ(empty.TakeState(), (ArchiveState{empty.Device(), true, "", {}}));
}

TEST(XmppArchive, PagesAfterThePositionGiveEachMessageOnceInArchiveOrder) {
    XmppArchive archive(Known("A1"));
    const XmppArchive::Query first = archive.Begin();
    EXPECT_EQ(first.After, "A1");
    EXPECT_FALSE(first.Newest);

    // Offline delivery comes before the archive's pages, and again in them.
    const auto offline = archive.Admit(FromBob("A3", "m3"));
    EXPECT_TRUE(offline.News);
    EXPECT_EQ(archive.Admit(FromBob("A2", "m2", first.Id)).News, true);
    EXPECT_EQ(archive.Admit(FromBob("A3", "m3", first.Id)), XmppArchive::Admission{});
    // The same message by its sender's id, without an archive id.
    EXPECT_EQ(archive.Admit(FromBob("", "m2")), XmppArchive::Admission{});
    // A result of another query (an earlier one, or forged) is ignored.
    EXPECT_EQ(archive.Admit(FromBob("A9", "m9", "other query")), XmppArchive::Admission{});
    const auto second = End(archive, Page("A3", false));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->After, "A3");
    const auto fourth = archive.Admit(FromBob("A4", "m4", second->Id));
    EXPECT_TRUE(fourth.News);
    // Live, while the last page is read: kept back until it is placed.
    const auto live = archive.Admit(FromBob("A5", "m5"));
    EXPECT_TRUE(live.News);
    EXPECT_EQ(End(archive, Page("A4", true)), std::nullopt);
    EXPECT_EQ(archive.Admit(FromBob("A9", "m9", second->Id)), XmppArchive::Admission{})
        << "read to the end";
    EXPECT_EQ(archive.Admit(FromBob("A4", "m4")), XmppArchive::Admission{});
}

TEST(XmppArchive, ThePositionMovesPastAMessageOnlyOnceItAndAllBeforeItAreSettled) {
    XmppArchive archive(Known("A1"));
    const XmppArchive::Query query = archive.Begin();
    const std::uint64_t offline = archive.Admit(FromBob("A3", "m3")).Tag;
    const std::uint64_t second = archive.Admit(FromBob("A2", "m2", query.Id)).Tag;
    archive.Admit(FromBob("A3", "m3", query.Id));
    XmppArrival mine = FromBob("A4", "p4", query.Id);
    mine.What = XmppArrival::Kind::Own; // never missed: settled at once
    EXPECT_TRUE(archive.Admit(mine).News);
    End(archive, Page("A4", true));
    const std::uint64_t live = archive.Admit(FromBob("A5", "m5")).Tag;
    ASSERT_THAT((std::vector<std::uint64_t>{offline, second, live}),
                ::testing::Each(::testing::Ne(0u)));

    const struct {
        std::uint64_t Settle;
        ArchiveState Expected;
    } steps[] = {
        {offline, Known("A1", {"A3", "A4"})},
        {offline, Known("A1", {"A3", "A4"})}, // twice: no change
        {12345, Known("A1", {"A3", "A4"})},   // no such message
        {second, Known("A4")},
        {live, Known("A5")},
    };
    for (const auto& step : steps) {
        archive.Settled(step.Settle);
        EXPECT_EQ(archive.TakeState(), step.Expected) << "after settling " << step.Settle;
    }
}

TEST(XmppArchive, MessagesSettledInAnEarlierRunAreNotOfferedAgain) {
    XmppArchive archive(Known("A1", {"A3"}));
    const XmppArchive::Query query = archive.Begin();
    const std::uint64_t second = archive.Admit(FromBob("A2", "m2", query.Id)).Tag;
    EXPECT_EQ(archive.Admit(FromBob("A3", "m3", query.Id)), XmppArchive::Admission{});
    EXPECT_TRUE(archive.Admit(FromBob("A4", "m4", query.Id)).News);
    End(archive, Page("A4", true));
    EXPECT_EQ(archive.TakeState(), Known("A1", {"A3"}));
    archive.Settled(second);
    EXPECT_EQ(archive.TakeState(), Known("A3"));
}

TEST(XmppArchive, AMessageThatNeverSettlesHoldsBackAtMostMaxWaitingOthers) {
    XmppArchive archive(Known("A0"));
    const XmppArchive::Query query = archive.Begin();
    archive.Admit(FromBob("A1", "m1", query.Id)); // never settled
    std::vector<std::uint64_t> tags;
    for (std::size_t i = 2; i <= XmppArchive::MaxWaiting; ++i) {
        tags.push_back(archive.Admit(FromBob("A" + std::to_string(i), "", query.Id)).Tag);
    }
    for (const std::uint64_t tag : tags) {
        archive.Settled(tag);
    }
    EXPECT_EQ(archive.TakeState().After, "A0");
    archive.Admit(FromBob("A-next", "", query.Id));
    const ArchiveState state = archive.TakeState();
    EXPECT_EQ(state.After, "A" + std::to_string(XmppArchive::MaxWaiting))
        << "moved past the one that never settled, and the settled ones after it";
    EXPECT_THAT(state.Settled, IsEmpty());
}

TEST(XmppArchive, ReadingStopsAtItsLimitsAndRestartsWhereTheServerLostThePosition) {
    struct Case {
        std::string Name;
        ArchivePage Page;
        std::size_t Results;
        bool Next;
        std::string NextAfter;
        std::string Problem;
        std::string Note;
    };
    const std::vector<Case> cases = {
        {"a page", Page("B100", false), XmppArchive::PageSize, true, "B100", "", ""},
        {"too many", Page("B", false), XmppArchive::MaxPerSignIn + 5, false, "",
         "more than 10000 messages", ""},
        {"lost position", {false, true, false, ""}, 0, true, "", "", "no longer holds"},
        {"refused", {false, false, false, ""}, 0, false, "", "did not answer", ""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.Name);
        XmppArchive archive(Known("A1"));
        const XmppArchive::Query query = archive.Begin();
        std::size_t news = 0;
        for (std::size_t i = 0; i < row.Results; ++i) {
            news += archive.Admit(FromBob("B" + std::to_string(i), "", query.Id)).News ? 1 : 0;
        }
        EXPECT_EQ(news, std::min(row.Results, XmppArchive::MaxPerSignIn));
        std::string problem;
        std::string note;
        const auto next = archive.PageEnded(row.Page, problem, note);
        EXPECT_EQ(next.has_value(), row.Next);
        if (next) {
            EXPECT_EQ(next->After, row.NextAfter);
            EXPECT_FALSE(next->Newest);
            EXPECT_NE(next->Id, query.Id);
        }
        EXPECT_EQ(archive.Reading(), row.Next);
        // Empty when none is expected, else holding the words expected.
        const auto says = [](const std::string& text, const std::string& words) {
            return words.empty() ? text.empty() : text.find(words) != std::string::npos;
        };
        EXPECT_TRUE(says(problem, row.Problem)) << problem;
        EXPECT_TRUE(says(note, row.Note)) << note;
    }
}

TEST(XmppArchive, MessagesHeldWhileAReadingStopsShortAreNeverTracked) {
    // Their place in the archive is unknown: moving past them could skip
    // what was not read.
    XmppArchive archive(Known("A1"));
    archive.Begin();
    const std::uint64_t live = archive.Admit(FromBob("A9", "m9")).Tag;
    archive.SignedOut();
    archive.Settled(live);
    EXPECT_FALSE(archive.Changed());
    // A new sign-in reads again from the same position.
    EXPECT_EQ(archive.Begin().After, "A1");
}

// ---------------------------------------------------------------------------
// The state file

TEST(ArchiveStateFile, TextRoundTripsAndAnythingElseIsNoState) {
    const ArchiveState state = Known("F_DT5hPSNUFOexK", {"s1", "s-2"});
    EXPECT_EQ(ReadArchiveStateText(ArchiveStateText(state)), state);
    const ArchiveState fromStart{Device, true, "", {}};
    EXPECT_EQ(ReadArchiveStateText(ArchiveStateText(fromStart)), fromStart);
    const ArchiveState unknown{Device, false, "", {}};
    EXPECT_EQ(ReadArchiveStateText(ArchiveStateText(unknown)), unknown);
    EXPECT_EQ(ReadArchiveStateText("# a comment\r\n\r\ndevice 0123456789abcdef\r\nafter A1\r\n"),
              Known("A1"));

    const std::vector<std::string> refused = {
        "",
        "after A1\n",
        "device 0123456789ABCDEF\n",
        "device 0123456789abcde\n",
        "device 0123456789abcdef\ndevice 0123456789abcdef\n",
        "device 0123456789abcdef\nafter A1\nafter A2\n",
        "device 0123456789abcdef\nafter A 1\n",
        "device 0123456789abcdef\nsettled\n",
        "device 0123456789abcdef\nsettled \xC3\xA9\n",
        "device 0123456789abcdef\nbefore A1\n",
        "device 0123456789abcdef\nafter " + std::string(257, 'x') + "\n",
    };
    for (const std::string& text : refused) {
        EXPECT_EQ(ReadArchiveStateText(text), std::nullopt) << text;
    }

    std::string many = "device 0123456789abcdef\n";
    for (std::size_t i = 0; i < XmppArchive::MaxRememberedSettled + 3; ++i) {
        many += "settled s" + std::to_string(i) + "\n";
    }
    const auto trimmed = ReadArchiveStateText(many);
    ASSERT_TRUE(trimmed.has_value());
    EXPECT_EQ(trimmed->Settled.size(), XmppArchive::MaxRememberedSettled);
    EXPECT_EQ(trimmed->Settled.front(), "s3") << "the last ones are kept";
}

TEST(ArchiveStateFile, LivesInTheUsersStateFolderNamedAfterTheAccount) {
    const struct {
        std::string Account, StateHome, Home, Expected;
    } cases[] = {
        {"alice@example.org", "/state", "/home/a", "/state/velantro/xmpp-alice@example.org.state"},
        {"alice@example.org", "", "/home/a",
         "/home/a/.local/state/velantro/xmpp-alice@example.org.state"},
        {"alice@example.org", "relative", "/home/a",
         "/home/a/.local/state/velantro/xmpp-alice@example.org.state"},
        {"al/../ice@example.org", "/s", "", "/s/velantro/xmpp-al%2F..%2Fice@example.org.state"},
        {"\xC3\xA9@example.org", "/s", "", "/s/velantro/xmpp-%C3%A9@example.org.state"},
        {"alice@example.org", "", "", ""},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(ArchiveStatePath(row.Account, row.StateHome, row.Home), row.Expected)
            << row.Account << " " << row.StateHome << " " << row.Home;
    }
}

TEST(ArchiveStateFile, IsWrittenWholeAndReadWithSuspicion) {
    const std::filesystem::path folder = std::filesystem::path(::testing::TempDir()) /
                                         ("archive-state-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    const std::string path = (folder / "velantro" / "xmpp-alice.state").string();
    std::string problem;
    EXPECT_EQ(LoadArchiveState(path, problem), std::nullopt);
    EXPECT_EQ(problem, "") << "none yet is no problem";

    const ArchiveState state = Known("A1", {"A3"});
    SaveArchiveState(path, state);
    EXPECT_EQ(LoadArchiveState(path, problem), state);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(std::filesystem::status(folder / "velantro").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    SaveArchiveState(path, Known("A2"));
    EXPECT_EQ(LoadArchiveState(path, problem), Known("A2"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "velantro"),
                            std::filesystem::directory_iterator()),
              1)
        << "no temporary file left behind";

    const auto write = [&](const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    };
    write("device 0123456789abcdef\nafter A1\n" + std::string(XmppArchive::MaxStateBytes, '#'));
    EXPECT_EQ(LoadArchiveState(path, problem), std::nullopt);
    EXPECT_THAT(problem, HasSubstr("larger than"));
    write("<html>not mine</html>\n");
    EXPECT_EQ(LoadArchiveState(path, problem), std::nullopt);
    EXPECT_THAT(problem, HasSubstr("not one skype-peer wrote"));

    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_EQ(LoadArchiveState(path, problem), std::nullopt);
    EXPECT_THAT(problem, HasSubstr("not a regular file"));
    EXPECT_THROW(SaveArchiveState(path, state), std::runtime_error);
    std::filesystem::remove(path);
    std::filesystem::create_symlink("/etc/passwd", path);
    EXPECT_EQ(LoadArchiveState(path, problem), std::nullopt);
    EXPECT_THAT(problem, HasSubstr("cannot read"));
    EXPECT_THROW(SaveArchiveState(path, state), std::runtime_error);

    // A folder that cannot be made.
    std::filesystem::remove(path);
    write("");
    EXPECT_THROW(SaveArchiveState(path + "/below/x.state", state), std::runtime_error);
    std::filesystem::remove_all(folder);
}

} // namespace

// The history file: its layout and migrations, what survives a killed
// writer, the files it refuses and leaves alone, deletion that leaves no
// text behind, and reading pages and searching them.

#include "history/HistoryStore.h"

#include "support/ScratchFolder.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <ostream>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velantro::history {

void PrintTo(const StoredEntry& e, std::ostream* out) {
    *out << "{" << e.Id << " " << e.Time << " " << e.Partner << " way " << int(e.Way) << " \""
         << e.Original << "\" \"" << e.Translation << "\" " << e.FromLanguage << "->"
         << e.ToLanguage << " result " << int(e.Result) << " " << e.Translated << e.Missed << "}";
}

void PrintTo(Problem problem, std::ostream* out) {
    const char* const names[] = {"None",  "Unreadable",   "Locked",
                                 "Newer", "CannotCreate", "Unsupported"};
    *out << names[static_cast<int>(problem)];
}

namespace {

namespace fs = std::filesystem;
using testing::FileContents;
using testing::ScratchFolder;

/// The first column of sql's first row, through a connection of the test's own.
std::string Raw(const fs::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt* statement = nullptr;
    std::string value = "error";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        const auto* text = sqlite3_column_text(statement, 0);
        value = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

void Exec(const fs::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
}

StoredEntry Entry(std::string partner, std::string original, std::string translation = "") {
    StoredEntry entry;
    entry.Time = 1700000000;
    entry.Partner = std::move(partner);
    entry.Original = std::move(original);
    entry.Translated = !translation.empty();
    entry.Translation = std::move(translation);
    return entry;
}

std::vector<std::string> Originals(const std::vector<StoredEntry>& entries) {
    std::vector<std::string> texts;
    texts.reserve(entries.size());
    for (const auto& e : entries) {
        texts.push_back(e.Original);
    }
    return texts;
}

/// Entry i's text, of varied lengths, some spilling over several pages.
std::string Numbered(std::uint32_t i) {
    return std::to_string(i) + " " + std::string(std::size_t{i % 7} * 9000, 'x');
}

struct HistoryStoreTest : ::testing::Test {
    ScratchFolder Folder{"velantro-history-"};
    fs::path File = Folder.Path / "history.db";

    HistoryStoreTest() { fs::create_directories(Folder.Path); }

    std::unique_ptr<HistoryStore> OpenStore() {
        auto opened = HistoryStore::Open(File);
        EXPECT_EQ(opened.Why, Problem::None) << opened.Detail;
        return std::move(opened.Store);
    }

    /// Why Open refuses the file, run in a child process that is killed
    /// when it takes longer than limit: empty then.
    std::optional<Problem> OpenWithin(std::chrono::milliseconds limit) const {
        const pid_t child = ::fork();
        if (child == 0) {
            ::_exit(static_cast<int>(HistoryStore::Open(File).Why));
        }
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (::waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                return std::nullopt;
            }
            ::usleep(10000);
        }
        return WIFEXITED(status) ? std::optional(static_cast<Problem>(WEXITSTATUS(status)))
                                 : std::nullopt;
    }

    /// Neither the file nor its log and shared memory hold any of texts.
    void ExpectNoneOf(std::initializer_list<std::string> texts, const char* when) const {
        for (const auto* suffix : {"", "-wal", "-shm"}) {
            const std::string bytes = FileContents(File.string() + suffix);
            for (const auto& text : texts) {
                EXPECT_EQ(bytes.find(text), std::string::npos)
                    << text << " in " << suffix << " " << when;
            }
        }
    }
};

TEST_F(HistoryStoreTest, AFreshFileIsMadeAtTheLatestVersionInPrivateFolders) {
    File = Folder.Path / "a" / "b" / "history.db";
    ASSERT_TRUE(OpenStore());
    EXPECT_EQ(Raw(File, "PRAGMA user_version"), std::to_string(HistoryStore::SchemaVersion));
    EXPECT_EQ(Raw(File, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(Raw(File, "SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_schema "
                        "WHERE type = 'table' AND name NOT LIKE 'entries\\_text\\_%' ESCAPE '\\' "
                        "ORDER BY name)"),
              "conversations entries entries_text");
    for (const auto& [path, mode] : {std::pair{File.parent_path(), 0700u},
                                     {File, 0600u},
                                     {fs::path(File.string() + ".lock"), 0600u}}) {
        struct stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0) << path;
        EXPECT_EQ(status.st_mode & 0777, mode) << path;
    }
}

TEST_F(HistoryStoreTest, AVersion1FileIsBroughtUpToDateAndItsEntriesFound) {
    // The first release's layout, as it wrote it.
    Exec(File, R"(
        CREATE TABLE conversations(id INTEGER PRIMARY KEY, partner TEXT NOT NULL,
                                   partner_key TEXT NOT NULL UNIQUE);
        CREATE TABLE entries(id INTEGER PRIMARY KEY,
            conversation INTEGER NOT NULL REFERENCES conversations(id), time INTEGER NOT NULL,
            direction INTEGER NOT NULL, original TEXT NOT NULL, translation TEXT NOT NULL,
            from_language INTEGER NOT NULL, to_language INTEGER NOT NULL,
            outcome INTEGER NOT NULL, translated INTEGER NOT NULL, missed INTEGER NOT NULL);
        CREATE INDEX entries_by_conversation ON entries(conversation, id);
        INSERT INTO conversations VALUES (1, 'Bob', 'bob'), (2, 'alice', 'alice');
        INSERT INTO entries VALUES (1, 2, 100, 0, 'hola amigo', 'hello friend', 3, 1, 0, 1, 0),
                                   (2, 1, 101, 1, 'see you', 'à bientôt', 1, 2, 1, 1, 0);
        PRAGMA application_id = 1449946696;
        PRAGMA user_version = 1;)");
    auto store = OpenStore();
    ASSERT_TRUE(store);
    EXPECT_EQ(Raw(File, "PRAGMA user_version"), std::to_string(HistoryStore::SchemaVersion));
    // Entries of the first release have no sender.
    EXPECT_EQ(store->Recent("alice", 1).Entries.at(0).Sender, "");
    EXPECT_EQ(store->Conversations(), (std::vector<std::string>{"Bob", "alice"}));
    EXPECT_EQ(Originals(store->Search("ALICE", "friend", 10)),
              std::vector<std::string>{"hola amigo"});
    EXPECT_EQ(Originals(store->Search("bob", "bientot", 10)), std::vector<std::string>{"see you"});
    const auto id = store->Append(Entry("bob", "a new one, found too"));
    ASSERT_TRUE(id);
    EXPECT_EQ(store->Search("bob", "found", 10).at(0).Id, *id);
}

TEST_F(HistoryStoreTest, AWriterKilledMidwayLeavesEveryWholeEntryAndASoundFile) {
    int acks[2];
    ASSERT_EQ(::pipe(acks), 0);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        ::close(acks[0]);
        auto opened = HistoryStore::Open(File);
        for (std::uint32_t i = 0; opened.Store; ++i) {
            if (!opened.Store->Append(Entry("alice", Numbered(i))) ||
                ::write(acks[1], &i, sizeof i) != sizeof i) {
                break;
            }
        }
        ::_exit(1);
    }
    ::close(acks[1]);
    std::uint32_t acknowledged = 0;
    while (acknowledged < 300 && ::read(acks[0], &acknowledged, sizeof acknowledged) > 0) {
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(acks[0]);
    ASSERT_GE(acknowledged, 300u);

    auto store = OpenStore(); // the dead writer's lock went with it
    ASSERT_TRUE(store);
    EXPECT_EQ(Raw(File, "PRAGMA integrity_check"), "ok");
    const auto entries = store->Recent("alice", HistoryStore::MaxSliceEntries).Entries;
    ASSERT_GT(entries.size(), acknowledged);
    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        ASSERT_EQ(entries[i].Original, Numbered(i));
    }
}

TEST_F(HistoryStoreTest, OneStorePerFileAtATime) {
    auto first = OpenStore();
    ASSERT_TRUE(first);
    const auto second = HistoryStore::Open(File);
    EXPECT_EQ(second.Why, Problem::Locked) << second.Detail;
    EXPECT_FALSE(second.Store);
    first.reset();
    EXPECT_TRUE(OpenStore());
}

TEST_F(HistoryStoreTest, FilesThatAreNotOursOrTooNewAreRefusedAndKeepEveryByte) {
    struct Case {
        const char* Name;
        std::string Sql; // run on a fresh database, or empty for garbage bytes
        Problem Expected;
    };
    const std::vector<Case> cases = {
        {"garbage bytes", "", Problem::Unreadable},
        {"a newer release's", "CREATE TABLE future(x); PRAGMA user_version = 99;", Problem::Newer},
        {"another program's", "CREATE TABLE notes(text);", Problem::Unreadable},
        {"another application id", "PRAGMA application_id = 7;", Problem::Unreadable},
        {"damaged and left open",
         "PRAGMA application_id = 1449946696; PRAGMA user_version = 2;"
         "CREATE TABLE t(x); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
         "FROM n WHERE i < 2000) INSERT INTO t SELECT printf('%0100d', i) FROM n;",
         Problem::Unreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove(File);
        if (c.Sql.empty()) {
            std::ofstream(File, std::ios::binary) << std::string(8192, '\x5A') << "SQLite format 3";
        } else {
            Exec(File, c.Sql);
        }
        if (std::string(c.Name).starts_with("damaged")) {
            std::fstream file(File, std::ios::binary | std::ios::in | std::ios::out);
            file.seekp(4096 * 3 + 100);
            file << std::string(2000, '\xEE');
        }
        if (std::string(c.Name).ends_with("left open")) {
            // As a writer that crashed leaves it: its log beside it.
            std::ofstream(File.string() + "-wal", std::ios::binary);
        }
        const std::string before = FileContents(File);
        const auto opened = HistoryStore::Open(File);
        EXPECT_EQ(opened.Why, c.Expected) << opened.Detail;
        EXPECT_FALSE(opened.Store);
        EXPECT_NE(opened.Detail.find(File.string()), std::string::npos) << opened.Detail;
        EXPECT_EQ(FileContents(File), before);
    }
}

TEST_F(HistoryStoreTest, WhatIsNotARegularFileIsRefusedAtOnce) {
    struct Case {
        const char* Name;
        fs::path Path; // made a FIFO or a folder
        bool Fifo;
        Problem Expected;
    };
    const fs::path lock = File.string() + ".lock";
    const std::vector<Case> cases = {
        {"a FIFO at the file", File, true, Problem::Unreadable},
        {"a folder at the file", File, false, Problem::Unreadable},
        {"a FIFO at the lock", lock, true, Problem::CannotCreate},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::create_directories(Folder.Path);
        fs::remove_all(c.Path);
        ASSERT_EQ(c.Fifo ? ::mkfifo(c.Path.c_str(), 0600) : ::mkdir(c.Path.c_str(), 0700), 0);
        EXPECT_EQ(OpenWithin(std::chrono::seconds(2)), std::optional(c.Expected));
        EXPECT_EQ(fs::status(c.Path).type(),
                  c.Fifo ? fs::file_type::fifo : fs::file_type::directory);
        fs::remove_all(c.Path);
    }
}

TEST_F(HistoryStoreTest, ADeletedConversationLeavesNoTextInTheFileOrItsLog) {
    const std::string word = "quokkazanzibar";
    const std::string handle = "Xylophonist.Handle";
    {
        auto store = OpenStore();
        ASSERT_TRUE(store);
        // One entry over several pages; the others small, which leaves the
        // index in segments that a deletion does not merge by itself.
        for (int i = 0; i < 200; ++i) {
            const std::string filler = i == 7 ? std::string(20000, 'y') + " " : "";
            ASSERT_TRUE(store->Append(
                Entry(handle, "about the " + word + " " + std::to_string(i), filler + word)));
            ASSERT_TRUE(store->Append(Entry("bob", "bob's own " + std::to_string(i))));
        }
        const auto bytes = FileContents(File) + FileContents(File.string() + "-wal");
        ASSERT_NE(bytes.find(word), std::string::npos); // the check below can see it
        EXPECT_TRUE(store->DeleteConversation("xylophonist.handle")) << store->LastError();
        EXPECT_EQ(store->Conversations(), std::vector<std::string>{"bob"});
        EXPECT_TRUE(store->Search(handle, word, 10).empty());
        EXPECT_EQ(store->Search("bob", "own 199", 10).size(), 1u);
        EXPECT_TRUE(store->DeleteConversation("nobody"));
        ExpectNoneOf({word, handle}, "while open");
    }
    ExpectNoneOf({word, handle}, "after closing");
    EXPECT_EQ(Raw(File, "PRAGMA integrity_check"), "ok");
}

TEST_F(HistoryStoreTest, EntriesReadBackAsStoredInPagesOfTheAskedSize) {
    auto store = OpenStore();
    ASSERT_TRUE(store);
    StoredEntry full = Entry("Alice", "hola", "hello");
    full.Way = Direction::Sent;
    full.FromLanguage = 3;
    full.ToLanguage = 1;
    full.Result = Outcome::SentLate;
    full.Missed = true;
    std::vector<std::int64_t> ids;
    for (int i = 0; i < 10; ++i) {
        full.Original = "a" + std::to_string(i);
        ids.push_back(store->Append(full).value_or(0));
        store->Append(Entry("bob", "b" + std::to_string(i))); // interleaved ids
    }
    full.Id = ids[9];
    EXPECT_EQ(store->Recent("ALICE", 1).Entries, std::vector<StoredEntry>{full});
    EXPECT_EQ(store->Conversations(), (std::vector<std::string>{"Alice", "bob"}));

    using Strings = std::vector<std::string>;
    struct Case {
        const char* Name;
        HistoryStore::Slice Got;
        Strings Entries;
        bool MoreBefore, MoreAfter;
    };
    const std::vector<Case> cases = {
        {"recent 3", store->Recent("alice", 3), {"a7", "a8", "a9"}, true, false},
        {"recent, more than there are",
         store->Recent("alice", 50),
         {"a0", "a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "a9"},
         false,
         false},
        {"recent 0", store->Recent("alice", 0), {}, true, false},
        {"before a5", store->Before("alice", ids[5], 2), {"a3", "a4"}, true, true},
        {"before a1", store->Before("alice", ids[1], 5), {"a0"}, false, true},
        {"from a2", store->From("alice", ids[2], 3), {"a2", "a3", "a4"}, true, true},
        {"from a7 to the end", store->From("alice", ids[7], 9), {"a7", "a8", "a9"}, true, false},
        {"from past the end", store->From("alice", ids[9] + 1, 9), {}, true, false},
        {"no such partner", store->Recent("carol", 5), {}, false, false},
        {"a limit past the clamp",
         store->Recent("bob", SIZE_MAX),
         {"b0", "b1", "b2", "b3", "b4", "b5", "b6", "b7", "b8", "b9"},
         false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Originals(c.Got.Entries), c.Entries);
        EXPECT_EQ(c.Got.MoreBefore, c.MoreBefore);
        EXPECT_EQ(c.Got.MoreAfter, c.MoreAfter);
    }
}

TEST_F(HistoryStoreTest, ReplacedEntriesKeepTheirPlaceAndAreFoundByTheirNewText) {
    auto store = OpenStore();
    ASSERT_TRUE(store);
    const auto first = store->Append(Entry("alice", "hola")).value_or(0);
    store->Append(Entry("alice", "adios"));
    EXPECT_TRUE(store->Replace(first, Entry("alice", "hola", "hello")));
    EXPECT_EQ(Originals(store->Recent("alice", 5).Entries),
              (std::vector<std::string>{"hola", "adios"}));
    EXPECT_EQ(store->Search("alice", "hello", 5).at(0).Id, first);
    EXPECT_FALSE(store->Replace(first + 100, Entry("alice", "x")));
    EXPECT_FALSE(store->LastError().empty());
}

TEST_F(HistoryStoreTest, OverlongTextIsCutAtAWholeCharacterAndBadHandlesRefused) {
    auto store = OpenStore();
    ASSERT_TRUE(store);
    std::string cyrillic; // two bytes a letter, so the limit falls inside one
    while (cyrillic.size() < 3 * HistoryStore::MaxTextBytes) {
        cyrillic += "\xD0\x96";
    }
    const std::string odd = "x" + cyrillic;
    ASSERT_TRUE(store->Append(Entry("alice", odd, cyrillic)));
    const auto stored = store->Recent("alice", 1).Entries.at(0);
    EXPECT_EQ(stored.Original, odd.substr(0, HistoryStore::MaxTextBytes - 1));
    EXPECT_EQ(stored.Translation, cyrillic.substr(0, HistoryStore::MaxTextBytes));
    EXPECT_FALSE(store->Append(Entry("", "x")));
    EXPECT_FALSE(store->Append(Entry(std::string(HistoryStore::MaxPartnerBytes + 1, 'a'), "x")));
}

TEST_F(HistoryStoreTest, SearchFindsEveryWordLiterallyWithinOnePartner) {
    auto store = OpenStore();
    ASSERT_TRUE(store);
    const std::vector<std::string> texts = {
        "Shall we meet for coffee at five?",
        "Un café con leche, por favor",
        "quoted \"NEAR(x\" then a-b, c:d OR e* -minus",
        "Здравей, приятелю!",
        "coffee again, later",
    };
    for (const auto& text : texts) {
        store->Append(Entry("Alice", text));
    }
    store->Append(Entry("bob", "coffee for bob, five times"));
    using Strings = std::vector<std::string>;
    struct Case {
        const char* Query;
        Strings Found; // newest first
    };
    const std::vector<Case> cases = {
        {"five coffee", {texts[0]}},
        {"coff", {texts[4], texts[0]}},
        {"cafe", {texts[1]}},
        {"CAFÉ LECHE", {texts[1]}},
        {"ПРИЯТЕЛ", {texts[3]}},
        {"\"NEAR(x\"", {texts[2]}},
        {"NEAR(", {texts[2]}},
        {"c:d", {texts[2]}},
        {"a-b", {texts[2]}},
        {"OR", {texts[2]}},
        {"-minus", {texts[2]}},
        {"e*", {texts[2]}},
        {"coffee OR tea", {}},
        {"\"", {}},
        {"*", {}},
        {"", {}},
        {"  \t ", {}},
        {"bob", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Query);
        EXPECT_EQ(Originals(store->Search("alice", c.Query, 10)), c.Found);
    }
    EXPECT_EQ(store->Search("ALICE", "coffee", 1).size(), 1u);
    EXPECT_EQ(store->LastError(), ""); // no query was a syntax error
}

} // namespace
} // namespace velantro::history

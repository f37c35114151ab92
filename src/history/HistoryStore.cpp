#include "history/HistoryStore.h"

#include "common/AsciiText.h"
#include "common/IntegerText.h"
#include "history/HistoryFile.h"
#include "history/Schema.h"
#include "history/Sqlite.h"

#include <algorithm>
#include <limits>
#include <sqlite3.h>
#include <utility>

namespace velantro::history {

namespace {

/// The columns an entry is read from, in the order State::Read takes them.
std::string EntryColumns(std::string_view table) {
    std::string columns;
    for (const char* name : {"id", "time", "direction", "original", "translation", "from_language",
                             "to_language", "outcome", "translated", "missed", "sender"}) {
        columns += (columns.empty() ? "" : ", ") + std::string(table) + "." + name;
    }
    return columns;
}

/// text cut to MaxTextBytes, never inside a UTF-8 character.
std::string_view CutText(std::string_view text) {
    if (text.size() <= HistoryStore::MaxTextBytes) {
        return text;
    }
    std::size_t end = HistoryStore::MaxTextBytes;
    for (int back = 0;
         back < 3 && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80; ++back) {
        --end;
    }
    return text.substr(0, end);
}

std::size_t Clamped(std::size_t limit) {
    return std::min(limit, HistoryStore::MaxSliceEntries);
}

std::int64_t AsInteger(std::size_t limit) {
    return static_cast<std::int64_t>(Clamped(limit));
}

bool IsSeparator(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

/// An FTS5 query that finds every word of text literally: each word a quoted
/// string (a quote in it doubled), so no character of it is query syntax;
/// the last one also as a prefix. Empty when text has no word.
std::string MatchExpression(std::string_view text) {
    std::string expression;
    std::size_t at = 0;
    while (at < text.size()) {
        if (IsSeparator(text[at])) {
            ++at;
            continue;
        }
        if (!expression.empty()) {
            expression += ' ';
        }
        expression += '"';
        for (; at < text.size() && !IsSeparator(text[at]); ++at) {
            expression += text[at];
            if (text[at] == '"') {
                expression += '"';
            }
        }
        expression += '"';
    }
    if (!expression.empty()) {
        expression += '*';
    }
    return expression;
}

/// Whether this SQLite can make the full-text index the file needs.
bool FullTextSearchAvailable(std::string& why) {
    const Connection db = OpenConnection(
        ":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, why);
    return db && Execute(db.get(),
                         "CREATE VIRTUAL TABLE probe USING fts5(text, tokenize = 'unicode61 "
                         "remove_diacritics 2')",
                         why);
}

std::optional<std::int64_t> QueryInteger(sqlite3* db, const char* sql, std::string& why) {
    const auto text = QueryText(db, sql, why);
    if (!text) {
        return std::nullopt;
    }
    const auto value = common::ReadDecimal(*text);
    if (!value) {
        why = std::string(sql) + " gave " + *text;
        return std::nullopt;
    }
    return *value;
}

struct Inspection {
    Problem Why = Problem::None;
    std::string Detail;
};

/// Whether the last program to write the file did not close it: its
/// write-ahead log is left beside it (a clean close removes it).
bool LeftOpen(const std::filesystem::path& file) {
    std::error_code ignored;
    return std::filesystem::exists(file.string() + "-wal", ignored);
}

/// Looks at an existing file through a read-only connection, so that a file
/// that is not ours, damaged or newer keeps every byte. The whole file is
/// read through only when its last writer did not close it (a crash, a
/// power cut): reading it all takes longer than the rest of the start, and
/// SQLite tells of damage it meets later on its own.
Inspection Inspect(const std::filesystem::path& file) {
    const bool leftOpen = LeftOpen(file); // before a connection of ours opens it
    const std::string name = file.string();
    std::string why;
    const Connection db = OpenConnection(name, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, why);
    if (!db) {
        return {Problem::Unreadable, name + ": " + why};
    }
    const auto version = QueryInteger(db.get(), "PRAGMA user_version", why);
    const auto application =
        version ? QueryInteger(db.get(), "PRAGMA application_id", why) : std::nullopt;
    const auto objects = application
                             ? QueryInteger(db.get(), "SELECT count(*) FROM sqlite_schema", why)
                             : std::nullopt;
    if (!objects) {
        return {Problem::Unreadable, name + ": not a history file: " + why};
    }
    if ((*application != 0 && *application != ApplicationId) || (*version == 0 && *objects != 0) ||
        *version < 0) {
        return {Problem::Unreadable, name + ": a database of another program"};
    }
    if (*version > HistoryStore::SchemaVersion) {
        return {Problem::Newer, name + ": written by a newer Velantro (history version " +
                                    std::to_string(*version) + ", this one knows up to " +
                                    std::to_string(HistoryStore::SchemaVersion) + ")"};
    }
    if (!leftOpen) {
        return {};
    }
    const auto check = QueryText(db.get(), "PRAGMA quick_check", why);
    if (!check || *check != "ok") {
        return {Problem::Unreadable, name + ": damaged: " + (check ? *check : why)};
    }
    return {};
}

bool Configure(sqlite3* db, std::string& why) {
    const auto mode = QueryText(db, "PRAGMA journal_mode = WAL", why);
    if (!mode || *mode != "wal") {
        why =
            "cannot use a write-ahead log" + (mode ? " (journal mode " + *mode + ")" : ": " + why);
        return false;
    }
    // In WAL mode NORMAL syncs at each checkpoint, not at each commit: a crash
    // of the program loses nothing committed, a power cut at most the last
    // commits, and neither can damage the file.
    // secure_delete: what a deletion frees is overwritten with zeros, so a
    // deleted conversation's text does not stay in free pages.
    return Execute(db,
                   "PRAGMA synchronous = NORMAL; PRAGMA secure_delete = ON; "
                   "PRAGMA foreign_keys = ON;",
                   why);
}

/// Brings the file from its version to SchemaVersion, one transaction per
/// migration, so an interrupted start leaves a whole older version.
bool Migrate(sqlite3* db, std::string& why) {
    const auto version = QueryInteger(db, "PRAGMA user_version", why);
    if (!version) {
        return false;
    }
    for (auto next = *version + 1; next <= HistoryStore::SchemaVersion; ++next) {
        const std::string stamp = "PRAGMA user_version = " + std::to_string(next) +
                                  "; PRAGMA application_id = " + std::to_string(ApplicationId) +
                                  ";";
        if (!Execute(db, "BEGIN IMMEDIATE", why)) {
            return false;
        }
        if (!Execute(db, Migrations[static_cast<std::size_t>(next - 1)], why) ||
            !Execute(db, stamp.c_str(), why) || !Execute(db, "COMMIT", why)) {
            std::string ignored;
            Execute(db, "ROLLBACK", ignored);
            why = "cannot bring the file to version " + std::to_string(next) + ": " + why;
            return false;
        }
    }
    return true;
}

/// One write transaction: rolled back unless committed.
class Transaction {
public:
    Transaction(sqlite3* db, sqlite3_stmt* begin, sqlite3_stmt* commit, sqlite3_stmt* rollback)
        : Db(db)
        , CommitStatement(commit)
        , RollbackStatement(rollback) {
        Began = StatementUse(begin).Run();
    }
    ~Transaction() {
        if (sqlite3_get_autocommit(Db) == 0) {
            StatementUse(RollbackStatement).Run();
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool Open() const { return Began; }
    bool Commit() { return StatementUse(CommitStatement).Run(); }

private:
    sqlite3* Db;
    sqlite3_stmt* CommitStatement;
    sqlite3_stmt* RollbackStatement;
    bool Began = false;
};

} // namespace

struct HistoryStore::State {
    // Declared first, so the lock is released after the file is closed.
    common::FileDescriptor Lock;
    Connection Db;
    // Statements after the connection: they are finalized before it closes.
    Statement Begin, Commit, Rollback;
    Statement FindConversation, AddConversation, ListConversations;
    Statement AddEntry, ReplaceEntry;
    Statement EntriesBefore, EntriesFrom, AnyBefore, AnyFrom;
    Statement SearchEntries;
    Statement DeleteEntries, DeleteConversationRow, CompactIndex, Vacuum, Checkpoint;
    std::string Error;

    struct Conversation {
        std::int64_t Id = 0;
        std::string Partner;
    };

    bool Prepare(std::string& why);
    /// Records SQLite's reason for the last failure; false.
    bool Failed() {
        Error = sqlite3_errmsg(Db.get());
        return false;
    }
    Transaction Write() { return Transaction(Db.get(), Begin.get(), Commit.get(), Rollback.get()); }
    /// partner's conversation; empty when there is none or the lookup
    /// failed (failed says which).
    std::optional<Conversation> Find(std::string_view partner, bool* failed = nullptr);
    bool Exists(sqlite3_stmt* query, std::int64_t conversation, std::int64_t id);
    std::vector<StoredEntry> Read(StatementUse& use, const std::string& partner);
};

bool HistoryStore::State::Prepare(std::string& why) {
    sqlite3* db = Db.get();
    const std::string entry = EntryColumns("entries");
    const std::string content = "time = ?2, direction = ?3, original = ?4, translation = ?5, "
                                "from_language = ?6, to_language = ?7, outcome = ?8, "
                                "translated = ?9, missed = ?10, sender = ?11";
    const std::pair<Statement*, std::string> statements[] = {
        {&Begin, "BEGIN IMMEDIATE"},
        {&Commit, "COMMIT"},
        {&Rollback, "ROLLBACK"},
        {&FindConversation, "SELECT id, partner FROM conversations WHERE partner_key = ?1"},
        {&AddConversation, "INSERT INTO conversations(partner, partner_key) VALUES (?1, ?2)"},
        {&ListConversations, "SELECT partner FROM conversations ORDER BY id"},
        {&AddEntry, "INSERT INTO entries(conversation, time, direction, original, translation, "
                    "from_language, to_language, outcome, translated, missed, sender) "
                    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)"},
        {&ReplaceEntry, "UPDATE entries SET " + content + " WHERE id = ?1"},
        {&EntriesBefore, "SELECT " + entry +
                             " FROM entries WHERE conversation = ?1 AND id < ?2 "
                             "ORDER BY id DESC LIMIT ?3"},
        {&EntriesFrom, "SELECT " + entry +
                           " FROM entries WHERE conversation = ?1 AND id >= ?2 "
                           "ORDER BY id LIMIT ?3"},
        {&AnyBefore, "SELECT EXISTS (SELECT 1 FROM entries WHERE conversation = ?1 AND id < ?2)"},
        {&AnyFrom, "SELECT EXISTS (SELECT 1 FROM entries WHERE conversation = ?1 AND id >= ?2)"},
        // The index leads (CROSS JOIN keeps it outside), newest first, so the
        // search stops at the limit instead of matching every entry.
        {&SearchEntries, "SELECT " + EntryColumns("e") +
                             " FROM entries_text CROSS JOIN entries AS e "
                             "ON e.id = entries_text.rowid WHERE entries_text MATCH ?1 "
                             "AND e.conversation = ?2 ORDER BY entries_text.rowid DESC LIMIT ?3"},
        {&DeleteEntries, "DELETE FROM entries WHERE conversation = ?1"},
        {&DeleteConversationRow, "DELETE FROM conversations WHERE id = ?1"},
        // Merges the index into one segment, which drops what the deletions
        // marked instead of keeping their words until some later merge.
        {&CompactIndex, "INSERT INTO entries_text(entries_text) VALUES ('optimize')"},
        {&Vacuum, "VACUUM"},
        {&Checkpoint, "PRAGMA wal_checkpoint(TRUNCATE)"},
    };
    for (const auto& [statement, sql] : statements) {
        *statement = history::Prepare(db, sql, why);
        if (!*statement) {
            return false;
        }
    }
    return true;
}

std::optional<HistoryStore::State::Conversation> HistoryStore::State::Find(std::string_view partner,
                                                                           bool* failed) {
    const std::string key = PartnerKey(partner);
    StatementUse use(FindConversation.get());
    use.Bind(1, key);
    const int status = use.Step();
    if (status == SQLITE_ROW) {
        return Conversation{use.Integer(0), use.Text(1)};
    }
    if (status != SQLITE_DONE) {
        Failed();
    }
    if (failed != nullptr) {
        *failed = status != SQLITE_DONE;
    }
    return std::nullopt;
}

bool HistoryStore::State::Exists(sqlite3_stmt* query, std::int64_t conversation, std::int64_t id) {
    StatementUse use(query);
    use.Bind(1, conversation).Bind(2, id);
    return use.Step() == SQLITE_ROW && use.Integer(0) != 0;
}

std::vector<StoredEntry> HistoryStore::State::Read(StatementUse& use, const std::string& partner) {
    std::vector<StoredEntry> entries;
    int status = SQLITE_ROW;
    while ((status = use.Step()) == SQLITE_ROW) {
        StoredEntry& entry = entries.emplace_back();
        entry.Id = use.Integer(0);
        entry.Time = use.Integer(1);
        entry.Partner = partner;
        // A value this release does not know reads as the first one.
        entry.Way = use.Integer(2) == 1 ? Direction::Sent : Direction::Received;
        entry.Original = use.Text(3);
        entry.Translation = use.Text(4);
        entry.FromLanguage = static_cast<std::int32_t>(use.Integer(5));
        entry.ToLanguage = static_cast<std::int32_t>(use.Integer(6));
        const auto outcome = use.Integer(7);
        entry.Result = outcome == 1   ? Outcome::Sent
                       : outcome == 2 ? Outcome::SentLate
                                      : Outcome::Shown;
        entry.Translated = use.Integer(8) != 0;
        entry.Missed = use.Integer(9) != 0;
        entry.Sender = use.Text(10);
    }
    if (status != SQLITE_DONE) {
        Failed();
    }
    return entries;
}

namespace {

/// Binds ?2 to ?11 to entry's content, as AddEntry and ReplaceEntry take it.
void BindContent(StatementUse& use, const StoredEntry& entry) {
    use.Bind(2, entry.Time)
        .Bind(3, static_cast<std::int64_t>(entry.Way))
        .Bind(4, CutText(entry.Original))
        .Bind(5, CutText(entry.Translation))
        .Bind(6, std::int64_t{entry.FromLanguage})
        .Bind(7, std::int64_t{entry.ToLanguage})
        .Bind(8, static_cast<std::int64_t>(entry.Result))
        .Bind(9, std::int64_t{entry.Translated})
        .Bind(10, std::int64_t{entry.Missed})
        .Bind(11, std::string_view(entry.Sender).substr(0, HistoryStore::MaxPartnerBytes));
}

} // namespace

OpenResult HistoryStore::Open(const std::filesystem::path& file) {
    std::string why;
    if (!FullTextSearchAvailable(why)) {
        return {nullptr, Problem::Unsupported,
                std::string("SQLite ") + sqlite3_libversion() +
                    " lacks full-text search (FTS5 with unicode61): " + why};
    }
    if (!MakeFolders(file.parent_path(), why)) {
        return {nullptr, Problem::CannotCreate, why};
    }
    const auto target = RegularFileAt(file, why);
    if (!target) {
        return {nullptr, Problem::Unreadable, why};
    }
    Lock lock = TakeLock(target->Path.string() + ".lock");
    if (!lock.Held) {
        return {nullptr, lock.Busy ? Problem::Locked : Problem::CannotCreate, lock.Why};
    }
    if (target->Exists) {
        auto inspection = Inspect(target->Path);
        if (inspection.Why != Problem::None) {
            return {nullptr, inspection.Why, std::move(inspection.Detail)};
        }
    } else if (!CreatePrivateFile(target->Path, why)) {
        return {nullptr, Problem::CannotCreate, why};
    }
    auto state = std::make_unique<State>();
    state->Lock = std::move(lock.Held);
    const std::string name = target->Path.string();
    state->Db = OpenConnection(name, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, why);
    if (!state->Db || !Configure(state->Db.get(), why) || !Migrate(state->Db.get(), why) ||
        !state->Prepare(why)) {
        return {nullptr, Problem::CannotCreate, name + ": " + why};
    }
    return {std::make_unique<HistoryStore>(Key{}, std::move(state)), Problem::None, {}};
}

HistoryStore::HistoryStore(Key, std::unique_ptr<State> state)
    : Self(std::move(state)) {}

HistoryStore::~HistoryStore() = default;

std::optional<std::int64_t> HistoryStore::Append(const StoredEntry& entry) {
    if (entry.Partner.empty() || entry.Partner.size() > MaxPartnerBytes) {
        Self->Error =
            "a partner's handle must have 1 to " + std::to_string(MaxPartnerBytes) + " bytes";
        return std::nullopt;
    }
    auto transaction = Self->Write();
    if (!transaction.Open()) {
        Self->Failed();
        return std::nullopt;
    }
    std::int64_t conversation = 0;
    bool failed = false;
    if (const auto known = Self->Find(entry.Partner, &failed)) {
        conversation = known->Id;
    } else if (failed) {
        return std::nullopt;
    } else {
        const std::string key = PartnerKey(entry.Partner);
        StatementUse add(Self->AddConversation.get());
        if (!add.Bind(1, entry.Partner).Bind(2, key).Run()) {
            Self->Failed();
            return std::nullopt;
        }
        conversation = sqlite3_last_insert_rowid(Self->Db.get());
    }
    StatementUse add(Self->AddEntry.get());
    add.Bind(1, conversation);
    BindContent(add, entry);
    if (!add.Run()) {
        Self->Failed();
        return std::nullopt;
    }
    const std::int64_t id = sqlite3_last_insert_rowid(Self->Db.get());
    if (!transaction.Commit()) {
        Self->Failed();
        return std::nullopt;
    }
    return id;
}

bool HistoryStore::Replace(std::int64_t id, const StoredEntry& entry) {
    auto transaction = Self->Write();
    if (!transaction.Open()) {
        return Self->Failed();
    }
    StatementUse replace(Self->ReplaceEntry.get());
    replace.Bind(1, id);
    BindContent(replace, entry);
    if (!replace.Run()) {
        return Self->Failed();
    }
    if (sqlite3_changes64(Self->Db.get()) != 1) {
        Self->Error = "no entry " + std::to_string(id);
        return false;
    }
    return transaction.Commit() || Self->Failed();
}

std::vector<std::string> HistoryStore::Conversations() const {
    std::vector<std::string> partners;
    StatementUse use(Self->ListConversations.get());
    int status = SQLITE_ROW;
    while ((status = use.Step()) == SQLITE_ROW) {
        partners.push_back(use.Text(0));
    }
    if (status != SQLITE_DONE) {
        Self->Failed();
    }
    return partners;
}

HistoryStore::Slice HistoryStore::Recent(std::string_view partner, std::size_t limit) const {
    return Before(partner, std::numeric_limits<std::int64_t>::max(), limit);
}

HistoryStore::Slice HistoryStore::Before(std::string_view partner, std::int64_t id,
                                         std::size_t limit) const {
    const auto conversation = Self->Find(partner);
    if (!conversation) {
        return {};
    }
    Slice slice;
    {
        // One more than asked tells whether there are older ones.
        StatementUse use(Self->EntriesBefore.get());
        use.Bind(1, conversation->Id).Bind(2, id).Bind(3, AsInteger(limit) + 1);
        slice.Entries = Self->Read(use, conversation->Partner);
    }
    if (slice.Entries.size() > Clamped(limit)) {
        slice.MoreBefore = true;
        slice.Entries.pop_back();
    }
    std::reverse(slice.Entries.begin(), slice.Entries.end());
    // What follows the newest ones before id starts at id.
    slice.MoreAfter = Self->Exists(Self->AnyFrom.get(), conversation->Id, id);
    return slice;
}

HistoryStore::Slice HistoryStore::From(std::string_view partner, std::int64_t id,
                                       std::size_t limit) const {
    const auto conversation = Self->Find(partner);
    if (!conversation) {
        return {};
    }
    Slice slice;
    {
        StatementUse use(Self->EntriesFrom.get());
        use.Bind(1, conversation->Id).Bind(2, id).Bind(3, AsInteger(limit) + 1);
        slice.Entries = Self->Read(use, conversation->Partner);
    }
    if (slice.Entries.size() > Clamped(limit)) {
        slice.MoreAfter = true;
        slice.Entries.pop_back();
    }
    slice.MoreBefore = Self->Exists(Self->AnyBefore.get(), conversation->Id, id);
    return slice;
}

std::vector<StoredEntry> HistoryStore::Search(std::string_view partner, std::string_view text,
                                              std::size_t limit) const {
    const std::string expression = MatchExpression(text);
    if (expression.empty() || limit == 0) {
        return {};
    }
    const auto conversation = Self->Find(partner);
    if (!conversation) {
        return {};
    }
    StatementUse use(Self->SearchEntries.get());
    use.Bind(1, expression).Bind(2, conversation->Id).Bind(3, AsInteger(limit));
    return Self->Read(use, conversation->Partner);
}

bool HistoryStore::DeleteConversation(std::string_view partner) {
    bool failed = false;
    const auto conversation = Self->Find(partner, &failed);
    if (!conversation) {
        return !failed;
    }
    {
        auto transaction = Self->Write();
        if (!transaction.Open()) {
            return Self->Failed();
        }
        StatementUse entries(Self->DeleteEntries.get());
        StatementUse row(Self->DeleteConversationRow.get());
        StatementUse compact(Self->CompactIndex.get());
        if (!entries.Bind(1, conversation->Id).Run() || !row.Bind(1, conversation->Id).Run() ||
            !compact.Run() || !transaction.Commit()) {
            return Self->Failed();
        }
    }
    // Zeroing what a deletion frees is not enough: the free space of a page
    // may still hold copies of cells that moved while the file grew. The
    // file is written anew, which leaves none of them.
    if (StatementUse vacuum(Self->Vacuum.get()); !vacuum.Run()) {
        return Self->Failed();
    }
    // The write-ahead log still holds the pages as they were before: copy
    // the overwritten ones into the file and empty the log.
    StatementUse checkpoint(Self->Checkpoint.get());
    if (checkpoint.Step() != SQLITE_ROW) {
        return Self->Failed();
    }
    if (checkpoint.Integer(0) != 0) {
        Self->Error = "the conversation is deleted, but its text stays in the write-ahead log "
                      "until the next start";
        return false;
    }
    return true;
}

std::string HistoryStore::LastError() const {
    return Self->Error;
}

std::string HistoryStore::PartnerKey(std::string_view partner) {
    return common::LowerAscii(partner);
}

} // namespace velantro::history

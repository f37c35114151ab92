#include "history/Sqlite.h"

#include <sqlite3.h>

namespace velantro::history {

void CloseConnection::operator()(sqlite3* db) const noexcept {
    // Every statement is finalized before its connection closes (the store
    // declares them after it), so this closes at once.
    sqlite3_close_v2(db);
}

void FinalizeStatement::operator()(sqlite3_stmt* statement) const noexcept {
    sqlite3_finalize(statement);
}

Connection OpenConnection(const std::string& file, int flags, std::string& why) {
    sqlite3* raw = nullptr;
    const int status = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    Connection db(raw);
    if (status != SQLITE_OK) {
        why = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(status);
        return {};
    }
    sqlite3_extended_result_codes(raw, 1);
    return db;
}

Statement Prepare(sqlite3* db, std::string_view sql, std::string& why) {
    sqlite3_stmt* raw = nullptr;
    const int status = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                          SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    Statement statement(raw);
    if (status != SQLITE_OK) {
        why = sqlite3_errmsg(db);
        return {};
    }
    return statement;
}

bool Execute(sqlite3* db, const char* sql, std::string& why) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) {
        return true;
    }
    why = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

std::optional<std::string> QueryText(sqlite3* db, const char* sql, std::string& why) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        why = sqlite3_errmsg(db);
        return std::nullopt;
    }
    const Statement statement(raw);
    StatementUse use(raw);
    const int status = use.Step();
    if (status == SQLITE_ROW) {
        return use.Text(0);
    }
    why = status == SQLITE_DONE ? "no answer to " + std::string(sql) : sqlite3_errmsg(db);
    return std::nullopt;
}

StatementUse::~StatementUse() {
    sqlite3_reset(S);
    sqlite3_clear_bindings(S);
}

StatementUse& StatementUse::Bind(int index, std::int64_t value) {
    BindFailed |= sqlite3_bind_int64(S, index, value) != SQLITE_OK;
    return *this;
}

StatementUse& StatementUse::Bind(int index, std::string_view text) {
    // A non-null pointer even for empty text, so it binds '' and not NULL.
    BindFailed |= sqlite3_bind_text64(S, index, text.empty() ? "" : text.data(), text.size(),
                                      SQLITE_STATIC, SQLITE_UTF8) != SQLITE_OK;
    return *this;
}

int StatementUse::Step() {
    return BindFailed ? SQLITE_MISUSE : sqlite3_step(S);
}

bool StatementUse::Run() {
    int status = Step();
    while (status == SQLITE_ROW) {
        status = Step();
    }
    return status == SQLITE_DONE;
}

std::int64_t StatementUse::Integer(int column) const {
    return sqlite3_column_int64(S, column);
}

std::string StatementUse::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(S, column));
    const int size = sqlite3_column_bytes(S, column);
    return text != nullptr ? std::string(text, static_cast<std::size_t>(size)) : std::string();
}

} // namespace velantro::history

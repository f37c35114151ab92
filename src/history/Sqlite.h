#pragma once

// Owners of SQLite's connection and statement handles, and the few calls the
// history store makes through them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace velantro::history {

struct CloseConnection {
    void operator()(sqlite3* db) const noexcept;
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const noexcept;
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

/// Opens file with SQLite's open flags; on failure, empty and why says so.
Connection OpenConnection(const std::string& file, int flags, std::string& why);

/// A statement kept for reuse (prepared once for the connection's life).
/// Empty on failure, with the reason in why.
Statement Prepare(sqlite3* db, std::string_view sql, std::string& why);

/// Runs sql, which may hold several statements and returns no rows used.
bool Execute(sqlite3* db, const char* sql, std::string& why);

/// The first column of the first row of sql (a pragma's value); empty when it
/// fails or gives no row.
std::optional<std::string> QueryText(sqlite3* db, const char* sql, std::string& why);

/// One use of a prepared statement: binds, steps and reads, and resets it
/// and clears its bindings when done, so the next use starts clean and a
/// finished read holds no snapshot of the file. Text is bound without a copy:
/// it must outlive the use.
class StatementUse {
public:
    explicit StatementUse(sqlite3_stmt* statement)
        : S(statement) {}
    ~StatementUse();
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;

    StatementUse& Bind(int index, std::int64_t value);
    StatementUse& Bind(int index, std::string_view text);

    /// SQLITE_ROW, SQLITE_DONE or an error code.
    int Step();
    /// Steps to the end; true when it got there without an error.
    bool Run();

    std::int64_t Integer(int column) const;
    std::string Text(int column) const;

private:
    sqlite3_stmt* S;
    bool BindFailed = false;
};

} // namespace velantro::history

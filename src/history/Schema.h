#pragma once

// The history file's layout, one migration per release that changed it. A
// file's PRAGMA user_version is the number of migrations it has had; each
// runs in a transaction of its own with the version it brings. Published
// migrations are never changed, only followed by new ones.

#include <array>
#include <cstdint>

namespace velantro::history {

/// PRAGMA application_id of a history file, "VlnH", set with each migration.
/// A database that carries another program's is never taken for one.
inline constexpr std::int32_t ApplicationId = 0x566C6E48;

/// Migrations[n - 1] brings a file from version n - 1 to version n.
inline constexpr std::array<const char*, 3> Migrations = {
    // 1: conversations in page order, entries in the order they came.
    R"sql(
CREATE TABLE conversations(
    id INTEGER PRIMARY KEY,
    partner TEXT NOT NULL,
    partner_key TEXT NOT NULL UNIQUE
);
CREATE TABLE entries(
    id INTEGER PRIMARY KEY,
    conversation INTEGER NOT NULL REFERENCES conversations(id),
    time INTEGER NOT NULL,
    direction INTEGER NOT NULL,
    original TEXT NOT NULL,
    translation TEXT NOT NULL,
    from_language INTEGER NOT NULL,
    to_language INTEGER NOT NULL,
    outcome INTEGER NOT NULL,
    translated INTEGER NOT NULL,
    missed INTEGER NOT NULL
);
CREATE INDEX entries_by_conversation ON entries(conversation, id);
)sql",
    // 2: full-text search over originals and translations. The index holds
    // no copy of the text (external content); triggers keep it in step.
    R"sql(
CREATE VIRTUAL TABLE entries_text USING fts5(
    original, translation,
    content = 'entries', content_rowid = 'id',
    tokenize = 'unicode61 remove_diacritics 2'
);
CREATE TRIGGER entries_text_insert AFTER INSERT ON entries BEGIN
    INSERT INTO entries_text(rowid, original, translation)
        VALUES (new.id, new.original, new.translation);
END;
CREATE TRIGGER entries_text_delete AFTER DELETE ON entries BEGIN
    INSERT INTO entries_text(entries_text, rowid, original, translation)
        VALUES ('delete', old.id, old.original, old.translation);
END;
CREATE TRIGGER entries_text_update AFTER UPDATE OF original, translation ON entries BEGIN
    INSERT INTO entries_text(entries_text, rowid, original, translation)
        VALUES ('delete', old.id, old.original, old.translation);
    INSERT INTO entries_text(rowid, original, translation)
        VALUES (new.id, new.original, new.translation);
END;
INSERT INTO entries_text(entries_text) VALUES ('rebuild');
)sql",
    // 3: the handle each entry shows as its sender, so that the user's own
    // entries keep the handle they were written as. Entries of older files
    // have none: received ones show their partner, sent ones the user now.
    R"sql(
ALTER TABLE entries ADD COLUMN sender TEXT NOT NULL DEFAULT '';
)sql",
};

} // namespace velantro::history

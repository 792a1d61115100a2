#include "port/linux/registry_schema.h"

namespace utils::linuxport::schema {

// Journal mode: DELETE, the rollback journal, not WAL. A WAL reader must write the
// shared-memory index (-shm) or find -wal and -shm already there, so an
// unprivileged user could not read a root-owned machine file in a root-owned
// folder; a rollback-journal reader needs read permission only (its lock is a
// read lock on a read-only descriptor). Of the rollback modes, DELETE leaves no
// journal behind when idle, so a reader's check for a hot journal is one failed
// access(), where TRUNCATE and PERSIST make every reader open and read a leftover
// journal. synchronous=EXTRA is FULL plus an fsync of the folder after the
// journal is unlinked: that unlink is the commit point in DELETE mode, and
// without the folder sync a power cut could bring the journal back and undo a
// write that was reported done. Writers wait for each other and for readers
// (see Connection's busy handler); registry writes are rare and short.
const char kConnectionSettings[] =
    "PRAGMA synchronous=EXTRA;"
    "PRAGMA cell_size_check=ON;";

// Keys: the root is row 1 with parent 0 and name ''. folded is the key's own name
// folded to upper case, unique among its siblings; name is as first spelled.
// Enumeration follows the folded names (byte order of UTF-8 = code point order).
const char kCreate[] =
    "CREATE TABLE registry_keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  name TEXT NOT NULL);"
    "CREATE UNIQUE INDEX registry_keys_by_parent ON registry_keys(parent, folded);"
    "CREATE TABLE registry_values("
    "  key INTEGER NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  name TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(key, folded)) WITHOUT ROWID;"
    "INSERT INTO registry_keys(id, parent, folded, name) VALUES(1, 0, '', '');"
    "PRAGMA application_id=1431455047;"
    "PRAGMA user_version=2;";
static_assert(kApplicationId == 1431455047 && kCurrentLayout == 2, "keep kCreate in step");

// Layout 1 keys had path (the folded path from the root, unique) instead of
// folded. A key's own folded name is what follows the last backslash of its
// path: rtrim(path, <every character of path but '\'>) leaves the path up to and
// including that backslash. The sequence row moves with the renamed table.
const char kMigrateFromFirstLayout[] =
    "CREATE TABLE registry_keys_next("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  name TEXT NOT NULL);"
    "INSERT INTO registry_keys_next(id, parent, folded, name)"
    "  SELECT id, parent, substr(path, length(rtrim(path, replace(path, '\\', ''))) + 1), name"
    "  FROM registry_keys ORDER BY id;"
    "UPDATE sqlite_sequence SET seq=max(seq, (SELECT seq FROM sqlite_sequence WHERE name='registry_keys'))"
    "  WHERE name='registry_keys_next';"
    "DROP TABLE registry_keys;"
    "ALTER TABLE registry_keys_next RENAME TO registry_keys;"
    "CREATE UNIQUE INDEX registry_keys_by_parent ON registry_keys(parent, folded);"
    "PRAGMA user_version=2;";

namespace {

struct QueryText {
  const char* current;
  const char* first;  // layout 1, null when only written (never in layout 1)
};

// Indexed by Query.
constexpr QueryText kQueries[] = {
    {"BEGIN", "BEGIN"},
    {"BEGIN IMMEDIATE", "BEGIN IMMEDIATE"},
    {"COMMIT", "COMMIT"},
    {"ROLLBACK", "ROLLBACK"},
    {"SELECT id FROM registry_keys WHERE parent=?1 AND folded=?2",
     "SELECT k.id FROM registry_keys AS p, registry_keys AS k WHERE p.id=?1"
     " AND k.path=(CASE WHEN p.path='' THEN ?2 ELSE p.path || '\\' || ?2 END)"},
    {"SELECT 1 FROM registry_keys WHERE id=?1", "SELECT 1 FROM registry_keys WHERE id=?1"},
    {"INSERT INTO registry_keys(parent, folded, name) VALUES(?1, ?2, ?3)", nullptr},
    {"SELECT type, data FROM registry_values WHERE key=?1 AND folded=?2",
     "SELECT type, data FROM registry_values WHERE key=?1 AND folded=?2"},
    {"INSERT INTO registry_values(key, folded, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
     " ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data",
     nullptr},
    {"DELETE FROM registry_values WHERE key=?1 AND folded=?2", nullptr},
    {"SELECT name, type, data FROM registry_values WHERE key=?1 ORDER BY folded LIMIT 1 OFFSET ?2",
     "SELECT name, type, data FROM registry_values WHERE key=?1 ORDER BY folded LIMIT 1 OFFSET ?2"},
    // Siblings' paths share their parent's prefix, so layout 1's path order is
    // the order of their own names.
    {"SELECT name FROM registry_keys WHERE parent=?1 ORDER BY folded LIMIT 1 OFFSET ?2",
     "SELECT name FROM registry_keys WHERE parent=?1 ORDER BY path LIMIT 1 OFFSET ?2"},
    {"SELECT count(*) FROM registry_keys WHERE parent=?1", "SELECT count(*) FROM registry_keys WHERE parent=?1"},
    {"SELECT count(*) FROM registry_values WHERE key=?1", "SELECT count(*) FROM registry_values WHERE key=?1"},
    // ?1: the top of the subtree. ?2: a key of it to keep (the top, or 0 for none).
    // UNION, not UNION ALL: a damaged file whose parents form a loop still ends.
    {"WITH RECURSIVE tree(id) AS (SELECT ?1 UNION SELECT k.id FROM registry_keys AS k JOIN tree ON k.parent=tree.id)"
     " DELETE FROM registry_values WHERE key IN tree",
     nullptr},
    {"WITH RECURSIVE tree(id) AS (SELECT ?1 UNION SELECT k.id FROM registry_keys AS k JOIN tree ON k.parent=tree.id)"
     " DELETE FROM registry_keys WHERE id IN tree AND id<>?2",
     nullptr},
};
static_assert(sizeof kQueries / sizeof kQueries[0] == kQueryCount, "one text per query");

}  // namespace

const char* querySql(Query query, int64_t layout) {
  return layout == kFirstLayout ? kQueries[query].first : kQueries[query].current;
}

}  // namespace utils::linuxport::schema

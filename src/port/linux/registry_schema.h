// The layout of a registry store file: its marks, tables and statements, in the
// current layout (2) and the one the first release wrote (1).
//
// Layout 2 keeps one row per key with its parent's id and its own name, so a
// file grows with the names it holds. Layout 1 kept every key's full path (and
// indexed it twice), so a deep tree grew with the square of its depth. Files in
// layout 1 are read as they are and rewritten to layout 2, in one transaction, by
// the first process that writes to them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace utils::linuxport::schema {

// Marks a SQLite file as ours (PRAGMA application_id, "UREG"); a file with other
// marks is someone else's and is never touched.
inline constexpr int64_t kApplicationId = 0x55524547;
inline constexpr int64_t kFirstLayout = 1;
inline constexpr int64_t kCurrentLayout = 2;

// The statements the store runs, by purpose. A statement with no text for a
// layout is not available there (layout 1 files are only read).
enum Query : size_t {
  kBegin,
  kBeginImmediate,
  kCommit,
  kRollback,
  kChildKey,
  kKeyExists,
  kInsertKey,
  kValue,
  kUpsertValue,
  kDeleteValue,
  kValueAt,
  kSubKeyAt,
  kCountSubKeys,
  kCountValues,
  kDeleteTreeValues,
  kDeleteTreeKeys,
  kQueryCount,
};

// The SQL of a statement in a layout, or null.
const char* querySql(Query query, int64_t layout);

// Settings run on every new connection (see the .cpp for the choice of journal).
extern const char kConnectionSettings[];

// Makes an empty file a store in the current layout.
extern const char kCreate[];

// Rewrites a layout 1 file to the current layout, keeping every key's id and the
// id sequence, so handles stay valid and deleted ids are never reused.
extern const char kMigrateFromFirstLayout[];

}  // namespace utils::linuxport::schema

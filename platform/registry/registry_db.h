// Inside the registry: the one SQLite connection of the process, its prepared
// statements, key handles, and the helpers the Reg* functions share.
//
// Every Reg* function takes the registry lock (RegistryLock) for its whole
// run: the connection and its statements are used by one thread at a time.
// The database is opened on first use, once per process; statements are
// prepared once with it.
#pragma once

#include "platform/registry.h"

#include <sqlite3.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace registry {

// The key table holds one row per key; its `path` is the case-folded full
// path below HKEY_LOCAL_MACHINE ("" for the root, components joined by '\'),
// unique and indexed, so opening a key is one lookup.
constexpr sqlite3_int64 kRootKeyId = 1;

// Longest key name component and value name, in UTF-16 units; largest value.
constexpr size_t kMaxKeyNameUnits = 255;
constexpr size_t kMaxValueNameUnits = 16383;
constexpr size_t kMaxValueBytes = 1u << 20;

enum Stmt {
  kFindKey,        // ?1 path -> id, name
  kKeyExists,      // ?1 id -> 1
  kInsertKey,      // ?1 parent, ?2 name, ?3 path
  kGetValue,       // ?1 key, ?2 fold -> type, data
  kSetValue,       // ?1 key, ?2 name, ?3 fold, ?4 type, ?5 data
  kDeleteValue,    // ?1 key, ?2 fold
  kDeleteTreeVals, // ?1 path, ?2 path + '\', ?3 path + ']'
  kDeleteTreeKeys, // same
  kEnumKey,        // ?1 parent, ?2 index -> name
  kEnumValue,      // ?1 key, ?2 index -> name, type, data
  kBegin,
  kCommit,
  kRollback,
  kStmtCount
};

// The lock every Reg* function holds while it works.
std::unique_lock<std::mutex> RegistryLock();

// With the lock held: the open connection (opening it on first use; never
// null afterwards, since a file that cannot be used is replaced by memory).
sqlite3 *Db();
// With the lock held: a prepared statement, reset and unbound.
sqlite3_stmt *Statement(Stmt which);

// Runs one statement that was bound by the caller. Outside a write
// transaction it retries while another connection keeps the database busy.
// Returns SQLITE_ROW, SQLITE_DONE or an error code; an error is remembered
// so that Write can tell a full or read-only file from other failures.
int Step(sqlite3_stmt *stmt);

// Runs `work` inside BEGIN IMMEDIATE ... COMMIT, with the lock held. `work`
// returns a registry error code; anything but ERROR_SUCCESS rolls back.
// While another process holds the write lock, waits (busy time-out) and
// retries. When the file cannot be written (read-only, disk full, I/O error)
// the registry moves to memory with the file's current contents, says so
// once, and runs `work` again there. Returns work's result, or an error code
// when the database failed.
LONG Write(const std::function<LONG()> &work);

// Maps a SQLite result to a registry error code.
LONG ErrorFromSqlite(int rc);

// Key handles. A handle is a heap record listed in a table of live handles,
// so a closed or made-up handle is refused instead of read.
struct KeyRecord {
  sqlite3_int64 id;
  std::string path; // case-folded full path
};
// Looks up a handle (HKEY_LOCAL_MACHINE included). False when not valid.
bool ResolveKey(HKEY key, KeyRecord *out);
// Makes a new handle for a key; RegCloseKey frees it.
HKEY NewKeyHandle(sqlite3_int64 id, const std::string &path);
// Frees a handle. False when it was not a live handle.
bool FreeKeyHandle(HKEY key);
// Whether the key behind a handle is still there (another thread or process
// may have deleted it). Returns ERROR_SUCCESS, ERROR_KEY_DELETED or an error.
LONG CheckKeyExists(sqlite3_int64 id);
// The answer when a key has no such row: `answer`, unless the key itself has
// gone (ERROR_KEY_DELETED) or could not be checked (an error).
LONG AnswerUnlessKeyGone(sqlite3_int64 id, LONG answer);

// Names. Encodes a UTF-16 name as UTF-8 (unpaired surrogates kept as their
// three-byte forms, so every name survives the round trip), folding ASCII and
// Latin-1 capitals to small letters when `fold` is set.
std::string EncodeName(const WCHAR *name, size_t units, bool fold);
std::u16string DecodeName(const unsigned char *utf8, size_t bytes);
// Splits a key path on '\' into folded and as-written components, skipping
// empty ones (so leading and trailing backslashes are allowed). False when a
// component is longer than kMaxKeyNameUnits.
struct PathPart {
  std::string name; // as written, UTF-8
  std::string fold; // case-folded, UTF-8
};
bool SplitKeyPath(const WCHAR *subKey, std::vector<PathPart> *parts);
// The folded full path of a child below `parentPath`.
std::string JoinPath(const std::string &parentPath, const std::string &fold);

// Binds a blob that may be empty (a zero-length blob, never NULL).
int BindBlob(sqlite3_stmt *stmt, int index, const void *data, size_t size);

// Hands out the value on a statement's row, its type in column `typeColumn`
// and its bytes in the next: the type when asked for, the bytes when `data`
// is given and they fit in *size (ERROR_MORE_DATA when they do not), and
// their length in *size. `result` is the answer so far; bytes are copied only
// while it is ERROR_SUCCESS. Returns the answer.
LONG CopyValue(sqlite3_stmt *stmt, int typeColumn, LONG result, DWORD *type, BYTE *data,
               DWORD *size);

} // namespace registry

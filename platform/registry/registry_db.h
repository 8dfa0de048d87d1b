// Inside the registry: the connections of the process, their prepared
// statements, key handles, the changes waiting to be written, and the helpers
// the Reg* functions share.
//
// Every Reg* function takes the registry lock (RegistryLock) for its whole
// run: the connections and their statements are used by one thread at a
// time. The database is opened on first use, once per process; statements
// are prepared once per connection.
//
// Reads and writes go to the active connection: the file, or, while changes
// wait to be written (the file was full, failing, read-only or held by
// another process too long) or the file is refused, an in-memory copy of it
// holding those changes too. Waiting changes are kept as WriteOps and written
// to the file, in order, at the next write, by the retry thread (promptly
// once another process lets the database go), by RegistryFlush and at exit.
#pragma once

#include "platform/registry.h"

#include <sqlite3.h>

#include <cstdint>
#include <memory>
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

// The lock every Reg* function holds while it works. Letting it go tells
// the unsaved-changes notifier, outside the lock, when changes have just
// started to be kept in memory only.
class Locked {
public:
  Locked();
  ~Locked();
  Locked(const Locked &) = delete;
  Locked &operator=(const Locked &) = delete;
};
inline Locked RegistryLock() { return Locked(); }

// With the lock held: the active connection (opening the database on first
// use). Null only while another process keeps the file from being read at
// all; the Reg* functions then answer ERROR_TIMEOUT.
sqlite3 *Db();
// With the lock held: a prepared statement of the active connection, reset
// and unbound; null when Db() is.
sqlite3_stmt *Statement(Stmt which);
// Bumped whenever the active connection changes, since key ids may differ
// between the file and the in-memory copy.
uint64_t Generation();

// Runs one statement that was bound by the caller. Outside a transaction it
// retries while another connection keeps the database busy for a moment.
// Returns SQLITE_ROW, SQLITE_DONE or an error code; an error is remembered
// (LastError) so that a write can tell a full or read-only file from other
// failures.
int Step(sqlite3_stmt *stmt);
int LastError();
void ClearLastError();

// Moves the change count (RegistryChangeCount) on: a change was made in
// this process, or the database was changed for another.
void NoteChange();

// Maps a SQLite result to a registry error code.
LONG ErrorFromSqlite(int rc);

// Names of keys: as written and case-folded, UTF-8.
struct PathPart {
  std::string name; // as written
  std::string fold; // case-folded
};

// One change, described by data so that it can be made again later on
// another connection. keyId is the key on the active connection (the handle's
// key; for kCreateKey the key below which `parts` are created); keyPath its
// folded full path. When the change is kept for later, `parts` becomes the
// full path of the key from the root, as written, so that it can be made
// again if it is missing then.
struct WriteOp {
  enum Kind { kCreateKey, kSetValue, kDeleteValue, kDeleteKey } kind;
  sqlite3_int64 keyId = 0;
  std::string keyPath;
  std::vector<PathPart> parts;
  std::string name, fold; // value name as written and folded
  DWORD type = 0;
  std::vector<BYTE> data;
  // Filled by the write: kCreateKey's key, its full path, whether new.
  sqlite3_int64 resultId = 0;
  std::string resultPath;
  bool created = false;
};

// With the lock held: makes one change. Tries the file, waiting a short
// while for another process that holds it; when the file cannot take the
// change (full, I/O error, read-only, held too long) the change is made in
// the in-memory copy and kept for later, unless keeping is switched off
// (RegistryConfigureWrites), in which case the failure is the answer.
// Returns the change's own answer (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND,
// ERROR_KEY_DELETED...) or an error code.
LONG Write(WriteOp &op);

// With the lock held: makes `op` on the active connection inside the
// current transaction. `again`: the change is being made again from the
// queue, by path; missing keys are made and missing values ignored.
LONG ApplyOp(WriteOp &op, bool again);

// Key handles. A handle is a heap record listed in a table of live handles,
// so a closed or made-up handle is refused instead of read.
struct BluetoothKey;
struct KeyRecord {
  sqlite3_int64 id;
  std::string path; // case-folded full path
  // Set for a key of the Bluetooth area served by BlueZ (bluetooth_keys.h):
  // it has no row; the Reg* functions hand it to the Bluetooth functions.
  std::shared_ptr<BluetoothKey> bt;
};
// Looks up a handle (HKEY_LOCAL_MACHINE included). False when not valid.
bool ResolveKey(HKEY key, KeyRecord *out);
// Makes a new handle for a key (of the Bluetooth area when bt is set);
// RegCloseKey frees it.
HKEY NewKeyHandle(sqlite3_int64 id, const std::string &path,
                  std::shared_ptr<BluetoothKey> bt = nullptr);
// Frees a handle. False when it was not a live handle.
bool FreeKeyHandle(HKEY key);
// Looks a key up by its folded full path on the active connection. Returns
// SQLITE_ROW with *id (and *name, when given) set, SQLITE_DONE when there is
// no such key, or an error.
int FindKey(const std::string &path, sqlite3_int64 *id, std::string *name = nullptr);
// Whether the key behind a handle is still there (another thread or process
// may have deleted it). Returns ERROR_SUCCESS, ERROR_KEY_DELETED or an error.
LONG CheckKeyExists(sqlite3_int64 id);
// The answer when a key has no such row: `answer`, unless the key itself has
// gone (ERROR_KEY_DELETED) or could not be checked (an error).
LONG AnswerUnlessKeyGone(sqlite3_int64 id, LONG answer);

// With the lock held: the key behind a handle, the parts of a path below it
// and their full path; or why the handle (ERROR_INVALID_HANDLE) or the path
// (ERROR_INVALID_PARAMETER) will not do.
LONG ResolveSubKey(HKEY parent, LPCWSTR subKey, KeyRecord *base, std::vector<PathPart> *parts,
                   std::string *path);

// Names. Encodes a UTF-16 name as UTF-8 (unpaired surrogates kept as their
// three-byte forms, so every name survives the round trip), folding ASCII and
// Latin-1 capitals to small letters when `fold` is set.
std::string EncodeName(const WCHAR *name, size_t units, bool fold);
std::u16string DecodeName(const unsigned char *utf8, size_t bytes);
// Splits a key path on '\' into folded and as-written components, skipping
// empty ones (so leading and trailing backslashes are allowed). False when a
// component is longer than kMaxKeyNameUnits.
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

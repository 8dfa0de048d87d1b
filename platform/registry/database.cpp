// Opening the registry database: where it lives, recognising it as this
// program's, making it ready without writing when it already is, keeping a
// damaged one aside with what could still be read, and running from memory
// when the file cannot be used.
//
// The state is made once per process and never destroyed, so a thread still
// using the registry while the process exits does not meet a destroyed mutex.
#include "platform/registry/registry_state.h"

#include "platform/trace.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <map>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace registry {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY,"
    " parent INTEGER,"
    " name TEXT NOT NULL,"
    " path TEXT NOT NULL UNIQUE);"
    "CREATE INDEX IF NOT EXISTS keys_parent ON keys(parent);"
    "CREATE TABLE IF NOT EXISTS vals("
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " fold TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE(key, fold));"
    "CREATE INDEX IF NOT EXISTS vals_key ON vals(key);"
    "INSERT INTO keys(id, parent, name, path) SELECT 1, NULL, 'HKEY_LOCAL_MACHINE', ''"
    " WHERE NOT EXISTS (SELECT 1 FROM keys WHERE id = 1);";

namespace {

const char *const kStatementText[kStmtCount] = {
    "SELECT id, name FROM keys WHERE path = ?1",
    "SELECT 1 FROM keys WHERE id = ?1",
    "INSERT INTO keys(parent, name, path) VALUES(?1, ?2, ?3)",
    "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2",
    "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND fold = ?2",
    "DELETE FROM vals WHERE key IN "
    "(SELECT id FROM keys WHERE path = ?1 OR (path >= ?2 AND path < ?3))",
    "DELETE FROM keys WHERE path = ?1 OR (path >= ?2 AND path < ?3)",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
};

// The columns of this program's two tables, in order.
const char *const kKeyColumns[] = {"id", "parent", "name", "path"};
const char *const kValColumns[] = {"key", "name", "fold", "type", "data"};

constexpr int kStepAttempts = 6;

enum class Outcome {
  kOk,         // open for writing (tables made, or to be made: fileReady)
  kBusy,       // another process keeps it from being read just now
  kForeign,    // not recognisably this program's database: never touched
  kDamaged,    // this program's database, damaged
  kUnwritable, // cannot be written now (read-only, full, I/O error)
};

Outcome Classify(int rc) {
  switch (rc & 0xff) {
  case SQLITE_BUSY:
  case SQLITE_LOCKED:
    return Outcome::kBusy;
  case SQLITE_NOTADB:
  case SQLITE_CORRUPT:
    return Outcome::kForeign; // cannot even be read as a database
  default:
    return Outcome::kUnwritable;
  }
}

std::string DefaultPath() {
  if (const char *env = getenv("VANTREL_REGISTRY"); env && *env)
    return env;
  std::string base;
  if (const char *xdg = getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char *home = getenv("HOME");
    if (!home || !*home) {
      if (struct passwd *pw = getpwuid(getuid()))
        home = pw->pw_dir;
    }
    if (!home || !*home)
      return std::string();
    base = std::string(home) + "/.config";
  }
  return base + "/vantrel/registry.db";
}

// Creates the folders above `path`. On failure fills *why.
bool MakeParentFolders(const std::string &path, std::string *why) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string dir = path.substr(0, slash);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      *why = "cannot create folder " + dir + ": " + strerror(errno);
      return false;
    }
  }
  return true;
}

// Waits for another process holding the database until the current
// operation's deadline, explaining the wait once when it grows long.
int OnBusy(void *context, int) {
  State &s = *static_cast<State *>(context);
  Clock::time_point now = Clock::now();
  if (now >= s.waitDeadline)
    return 0;
  if (!s.saidWaiting && now - s.waitStart >= std::chrono::milliseconds(kSayWaitingAfterMs)) {
    s.saidWaiting = true;
    Say("waiting for the settings database %s, held by another process",
        s.status.path.c_str());
  }
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(s.waitDeadline - now);
  std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
  return 1;
}

// A one-row, one-column answer; empty on error (rc in *rc).
std::string QueryText(sqlite3 *db, const char *sql, int *rc) {
  std::string text;
  sqlite3_stmt *stmt = nullptr;
  *rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  if (*rc == SQLITE_OK) {
    *rc = sqlite3_step(stmt);
    if (*rc == SQLITE_ROW) {
      const unsigned char *t = sqlite3_column_text(stmt, 0);
      text = t ? reinterpret_cast<const char *>(t) : "";
      *rc = SQLITE_OK;
    } else if (*rc == SQLITE_DONE) {
      *rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(stmt);
  return text;
}

// The column names of a table, in order; empty on error (rc in *rc).
std::vector<std::string> ColumnNames(sqlite3 *db, const char *table, int *rc) {
  std::vector<std::string> names;
  sqlite3_stmt *stmt = nullptr;
  std::string sql = std::string("PRAGMA table_info(") + table + ")";
  *rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  while (*rc == SQLITE_OK && (*rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const unsigned char *t = sqlite3_column_text(stmt, 1);
    names.push_back(t ? reinterpret_cast<const char *>(t) : "");
    *rc = SQLITE_OK;
  }
  if (*rc == SQLITE_DONE)
    *rc = SQLITE_OK;
  sqlite3_finalize(stmt);
  return names;
}

template <size_t N>
bool SameColumns(const std::vector<std::string> &have, const char *const (&want)[N]) {
  if (have.size() != N)
    return false;
  for (size_t i = 0; i < N; ++i)
    if (have[i] != want[i])
      return false;
  return true;
}

enum class Schema { kEmpty, kOurs, kOther };

// What the file holds, read from its schema without writing: nothing yet,
// this program's two tables, or something else (*why says what).
Schema ReadSchema(sqlite3 *db, int *rc, std::string *why) {
  std::set<std::string> tables;
  bool anything = false;
  sqlite3_stmt *stmt = nullptr;
  *rc = sqlite3_prepare_v2(db, "SELECT type, name FROM sqlite_master", -1, &stmt, nullptr);
  while (*rc == SQLITE_OK && (*rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    anything = true;
    const unsigned char *type = sqlite3_column_text(stmt, 0);
    const unsigned char *name = sqlite3_column_text(stmt, 1);
    if (type && name && strcmp(reinterpret_cast<const char *>(type), "table") == 0)
      tables.insert(reinterpret_cast<const char *>(name));
    *rc = SQLITE_OK;
  }
  if (*rc == SQLITE_DONE)
    *rc = SQLITE_OK;
  sqlite3_finalize(stmt);
  if (*rc != SQLITE_OK)
    return Schema::kOther;
  if (!anything)
    return Schema::kEmpty;
  if (tables != std::set<std::string>{"keys", "vals"}) {
    std::string list;
    for (const std::string &t : tables)
      list += (list.empty() ? "" : ", ") + t;
    *why = "it holds the tables " + (list.empty() ? std::string("(none)") : list);
    return Schema::kOther;
  }
  std::vector<std::string> keys = ColumnNames(db, "keys", rc);
  if (*rc != SQLITE_OK)
    return Schema::kOther;
  std::vector<std::string> vals = ColumnNames(db, "vals", rc);
  if (*rc != SQLITE_OK)
    return Schema::kOther;
  if (!SameColumns(keys, kKeyColumns) || !SameColumns(vals, kValColumns)) {
    *why = "its tables have other columns";
    return Schema::kOther;
  }
  return Schema::kOurs;
}

std::string SqliteWhy(sqlite3 *db, int rc, const char *what) {
  std::string why = std::string(what) + ": ";
  bool detailed = db && sqlite3_errcode(db) != SQLITE_OK;
  why += detailed ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (int sysErr = db ? sqlite3_system_errno(db) : 0)
    why += std::string(" (") + strerror(sysErr) + ")";
  return why;
}

// Before the first connection: no connection takes a bulk of page cache up
// front. SQLite would otherwise allocate twenty pages' worth (some 85 KB)
// for each, the file's and the in-memory copy's, while the settings fill a
// few pages; each page is allocated as it is needed instead. Once per
// process; a process that used SQLite before keeps its configuration.
void ConfigureSqliteOnce() {
  static const bool configured = [] {
    return sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0) == SQLITE_OK;
  }();
  (void)configured;
}

// Opens the file read-write and makes it ready, writing only when its
// tables have to be made. On kOk `out` is open, with its statements when
// *ready; otherwise it is closed and *why says what went wrong.
Outcome TryOpenFile(State &s, const std::string &path, Conn *out, bool *ready,
                    std::string *why) {
  *ready = false;
  ConfigureSqliteOnce();
  sqlite3 *db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  auto fail = [&](Outcome outcome, const std::string &text) {
    *why = text;
    if (db) // leave a file that is not used exactly as it was found
      sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    Conn c{db, {}};
    CloseConn(c);
    return outcome;
  };
  if (rc != SQLITE_OK)
    return fail(Classify(rc) == Outcome::kBusy ? Outcome::kBusy : Outcome::kUnwritable,
                SqliteWhy(db, rc, "cannot open"));
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_handler(db, OnBusy, &s);
  if (sqlite3_db_readonly(db, "main") == 1)
    return fail(Outcome::kUnwritable, "the file is read-only");

  // Is it ours? Only the schema is read, so another program's file and a
  // file that is not a database at all are left exactly as they are.
  std::string other;
  Schema schema = ReadSchema(db, &rc, &other);
  if (rc != SQLITE_OK)
    return fail(Classify(rc), SqliteWhy(db, rc, "cannot read it as a database"));
  if (schema == Schema::kOther)
    return fail(Outcome::kForeign, other);

  // Check before anything is written, so a damaged file is kept as found.
  std::string check = QueryText(db, "PRAGMA quick_check", &rc);
  if (rc == SQLITE_OK && check != "ok")
    rc = SQLITE_CORRUPT;
  if ((rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB) {
    std::string text = "damaged: " + (check.empty() ? std::string(sqlite3_errstr(rc)) : check);
    return fail(schema == Schema::kOurs ? Outcome::kDamaged : Outcome::kForeign, text);
  }
  if (rc != SQLITE_OK)
    return fail(Classify(rc), SqliteWhy(db, rc, "cannot check"));

  std::string mode = QueryText(db, "PRAGMA journal_mode", &rc);
  if (rc == SQLITE_OK && mode != "wal")
    mode = QueryText(db, "PRAGMA journal_mode=WAL", &rc);
  if (rc != SQLITE_OK)
    return fail(Classify(rc), SqliteWhy(db, rc, "cannot use"));
  if (mode != "wal")
    return fail(Outcome::kUnwritable,
                "cannot use write-ahead logging (journal mode " + mode + ")");
  rc = sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK)
    return fail(Classify(rc), SqliteWhy(db, rc, "cannot use"));

  out->db = db;
  bool hasRoot = false;
  if (schema == Schema::kOurs) {
    std::string root = QueryText(db, "SELECT 1 FROM keys WHERE id = 1", &rc);
    hasRoot = rc == SQLITE_OK && root == "1";
  }
  if (!hasRoot) {
    // The one write of an open: a new file gets its tables. When that
    // cannot happen now, the file stays open and the tables are made with
    // the first changes written back.
    rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      if (!sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
      *why = SqliteWhy(db, rc, "cannot make its tables");
      return Outcome::kOk;
    }
  }
  // The statements are prepared as each is first used (Statement): a run
  // that only reads its settings never builds the writing ones.
  *ready = true;
  return Outcome::kOk;
}

// A file URI that opens `path` as immutable: read without locks and without
// the -shm file, which a read-only folder may not let SQLite make.
std::string ImmutableUri(const std::string &path) {
  std::string uri = "file:";
  for (unsigned char c : path) {
    if (c == '%' || c == '?' || c == '#' || c < 0x20) {
      char esc[4];
      snprintf(esc, sizeof esc, "%%%02X", c);
      uri += esc;
    } else {
      uri += static_cast<char>(c);
    }
  }
  return uri + "?immutable=1";
}

// Opens a file of ours for reading only; null when it cannot be read. A
// command that only reads opens a file without a write-ahead log (nothing
// waits in one) as immutable, as reading through the log would make the
// log and its index beside the file.
sqlite3 *OpenForReading(State &s, const std::string &path) {
  ConfigureSqliteOnce();
  sqlite3 *file = nullptr;
  struct stat wal;
  bool hasLog = stat((path + "-wal").c_str(), &wal) == 0;
  if ((!s.readOnly || hasLog) &&
      sqlite3_open_v2(path.c_str(), &file, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) ==
          SQLITE_OK &&
      sqlite3_exec(file, "SELECT count(*) FROM keys", nullptr, nullptr, nullptr) == SQLITE_OK) {
    sqlite3_busy_handler(file, OnBusy, &s);
    return file;
  }
  sqlite3_close_v2(file);
  file = nullptr;
  if (sqlite3_open_v2(ImmutableUri(path).c_str(), &file,
                      SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                      nullptr) == SQLITE_OK)
    return file;
  sqlite3_close_v2(file);
  return nullptr;
}

// The file is not used this run: settings live in memory only, and say so.
void Refuse(State &s, const std::string &why) {
  CloseConn(s.file);
  CopyIntoMemory(s, nullptr);
  s.refused = true;
  s.status.inMemory = true;
  s.status.refused = true;
  s.status.problem = why;
  Say("cannot use %s (%s); it is left as it is and settings are kept in memory only",
      s.status.path.c_str(), why.c_str());
}

// The file cannot be written now: what it holds is read into memory, and
// the file is tried again when there are changes to write.
void RunFromCopy(State &s, const std::string &path, const std::string &why) {
  sqlite3 *file = path.empty() ? nullptr : OpenForReading(s, path);
  bool whole = false;
  CopyIntoMemory(s, file, &whole);
  sqlite3_close_v2(file);
  if (!path.empty() && !whole) {
    // Nothing of it could be read: changes made from an empty copy would
    // later overwrite what it holds, so it is not used at all.
    return Refuse(s, why + ", and it cannot be read either");
  }
  s.status.inMemory = true;
  s.status.problem = why;
  if (s.keepUnsaved)
    Say("cannot write %s (%s); settings are read from it, and changes are kept in memory until "
        "it can be written",
        s.status.path.c_str(), why.c_str());
  else
    Say("cannot write %s (%s); it can only be read", s.status.path.c_str(), why.c_str());
}

std::string AsideName(const std::string &path) {
  char stamp[32];
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  std::string base = path + ".damaged-" + stamp;
  std::string name = base;
  struct stat st;
  for (int n = 2; lstat(name.c_str(), &st) == 0; ++n)
    name = base + "-" + std::to_string(n);
  return name;
}

// Renames a damaged file and its -wal and -shm companions. False (with *why)
// when the main file could not be moved.
bool MoveAside(const std::string &path, std::string *aside, std::string *why) {
  *aside = AsideName(path);
  if (rename(path.c_str(), aside->c_str()) != 0) {
    *why = "damaged, and cannot be kept aside: " + std::string(strerror(errno));
    return false;
  }
  for (const char *suffix : {"-wal", "-shm"})
    rename((path + suffix).c_str(), (*aside + suffix).c_str());
  return true;
}

// Hands `take` every row of `sql` that can be read, in rowid order. `sql`
// selects the rowid first and the rows with "rowid >= ?1". A damaged page
// makes one stretch of rowids unreadable; the rows after it are found again
// by looking for the first rowid from which reading works: one rowid at a
// time for a while (which misses nothing), then in doubling steps narrowed
// down again. Every look is one seek; their number is bounded.
template <typename Take>
void ReadEveryReadableRow(sqlite3 *db, const char *sql, Take take) {
  constexpr long kOneByOne = 1L << 16;
  constexpr long kMostLooks = 1L << 17;
  constexpr sqlite3_int64 kLast = std::numeric_limits<sqlite3_int64>::max();
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return;
  }
  long looks = 0;
  auto readsFrom = [&](sqlite3_int64 from) {
    ++looks;
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, from);
    int rc = sqlite3_step(st);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
  };
  sqlite3_int64 from = 1; // rowids of this program's rows start at 1
  for (;;) {
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, from);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      sqlite3_int64 rowid = sqlite3_column_int64(st, 0);
      if (rowid < from) {
        rc = SQLITE_CORRUPT; // out of order: the page is not to be trusted
        break;
      }
      take(st);
      if (rowid == kLast) {
        rc = SQLITE_DONE;
        break;
      }
      from = rowid + 1;
    }
    if (rc == SQLITE_DONE)
      break;
    // Reading fails from `from` on: find the first rowid from which it
    // works again. From `failed` it does not; from `works` it does.
    sqlite3_int64 failed = from, works = 0, step = 1;
    bool found = false;
    while (!found && looks < kMostLooks && failed <= kLast - step) {
      sqlite3_int64 at = failed + step;
      if (readsFrom(at)) {
        works = at;
        found = true;
      } else {
        failed = at;
        if (looks >= kOneByOne && step <= kLast / 2)
          step *= 2;
      }
    }
    if (!found)
      break;
    while (works - failed > 1 && looks < kMostLooks) {
      sqlite3_int64 mid = failed + (works - failed) / 2;
      if (readsFrom(mid))
        works = mid;
      else
        failed = mid;
    }
    from = works;
  }
  sqlite3_finalize(st);
}

// Copies every key and value that can still be read from a damaged file
// into the fresh database (a file, or the in-memory copy of a command that
// only reads). Rows are read straight from the tables (not through their
// indexes), past any stretch that cannot be read; a key whose parents were
// lost gets them back, named by its path. Returns the values copied.
int Salvage(State &s, sqlite3 *fresh, const std::string &damaged) {
  sqlite3 *old = OpenForReading(s, damaged);
  if (!old)
    return 0;
  struct OldKey {
    sqlite3_int64 id;
    std::string name, path;
  };
  struct OldVal {
    sqlite3_int64 key;
    std::string name, fold;
    sqlite3_int64 type;
    std::vector<BYTE> data;
  };
  auto text = [](sqlite3_stmt *st, int col) {
    const unsigned char *t = sqlite3_column_text(st, col);
    return std::string(t ? reinterpret_cast<const char *>(t) : "",
                       static_cast<size_t>(sqlite3_column_bytes(st, col)));
  };
  std::vector<OldKey> keys;
  std::vector<OldVal> vals;
  ReadEveryReadableRow(
      old, "SELECT id, name, path FROM keys NOT INDEXED WHERE id >= ?1 ORDER BY id",
      [&](sqlite3_stmt *st) {
        keys.push_back(OldKey{sqlite3_column_int64(st, 0), text(st, 1), text(st, 2)});
      });
  ReadEveryReadableRow(old,
                       "SELECT rowid, key, name, fold, type, data FROM vals NOT INDEXED "
                       "WHERE rowid >= ?1 ORDER BY rowid",
                       [&](sqlite3_stmt *st) {
                         const BYTE *b = static_cast<const BYTE *>(sqlite3_column_blob(st, 5));
                         size_t n = static_cast<size_t>(sqlite3_column_bytes(st, 5));
                         if (n <= kMaxValueBytes)
                           vals.push_back(OldVal{sqlite3_column_int64(st, 1), text(st, 2),
                                                 text(st, 3), sqlite3_column_int64(st, 4),
                                                 std::vector<BYTE>(b, b + n)});
                       });
  sqlite3_close_v2(old);

  sqlite3_stmt *find = nullptr, *insertKey = nullptr, *insertVal = nullptr;
  sqlite3_prepare_v2(fresh, "SELECT id FROM keys WHERE path = ?1", -1, &find, nullptr);
  sqlite3_prepare_v2(fresh, "INSERT INTO keys(parent, name, path) VALUES(?1, ?2, ?3)", -1,
                     &insertKey, nullptr);
  sqlite3_prepare_v2(fresh,
                     "INSERT OR IGNORE INTO vals(key, name, fold, type, data) "
                     "VALUES(?1, ?2, ?3, ?4, ?5)",
                     -1, &insertVal, nullptr);
  // The id of the key at `path` in the fresh file, made (with its parents)
  // when missing; 0 when it cannot be.
  auto ensure = [&](const std::string &path, const std::string &name) -> sqlite3_int64 {
    sqlite3_int64 parent = kRootKeyId;
    size_t from = 0;
    while (from <= path.size()) {
      size_t end = path.find('\\', from);
      if (end == std::string::npos)
        end = path.size();
      std::string at = path.substr(0, end);
      bool last = end == path.size();
      sqlite3_reset(find);
      sqlite3_bind_text(find, 1, at.data(), static_cast<int>(at.size()), SQLITE_TRANSIENT);
      sqlite3_int64 id = 0;
      if (sqlite3_step(find) == SQLITE_ROW) {
        id = sqlite3_column_int64(find, 0);
      } else {
        std::string own = last ? name : path.substr(from, end - from);
        sqlite3_reset(insertKey);
        sqlite3_bind_int64(insertKey, 1, parent);
        sqlite3_bind_text(insertKey, 2, own.data(), static_cast<int>(own.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insertKey, 3, at.data(), static_cast<int>(at.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(insertKey) != SQLITE_DONE)
          return 0;
        id = sqlite3_last_insert_rowid(fresh);
      }
      parent = id;
      from = end + 1;
    }
    return parent;
  };
  int copied = 0;
  if (find && insertKey && insertVal &&
      sqlite3_exec(fresh, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
    std::map<sqlite3_int64, sqlite3_int64> newId{{kRootKeyId, kRootKeyId}};
    for (const OldKey &k : keys)
      if (k.id != kRootKeyId && !k.path.empty())
        if (sqlite3_int64 id = ensure(k.path, k.name))
          newId[k.id] = id;
    for (const OldVal &v : vals) {
      auto it = newId.find(v.key);
      if (it == newId.end())
        continue; // its key was not readable
      sqlite3_reset(insertVal);
      sqlite3_bind_int64(insertVal, 1, it->second);
      sqlite3_bind_text(insertVal, 2, v.name.data(), static_cast<int>(v.name.size()),
                        SQLITE_TRANSIENT);
      sqlite3_bind_text(insertVal, 3, v.fold.data(), static_cast<int>(v.fold.size()),
                        SQLITE_TRANSIENT);
      sqlite3_bind_int64(insertVal, 4, v.type);
      BindBlob(insertVal, 5, v.data.data(), v.data.size());
      if (sqlite3_step(insertVal) == SQLITE_DONE && sqlite3_changes(fresh) > 0)
        ++copied;
    }
    if (sqlite3_exec(fresh, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      sqlite3_exec(fresh, "ROLLBACK", nullptr, nullptr, nullptr);
      copied = 0;
    }
  }
  sqlite3_finalize(find);
  sqlite3_finalize(insertKey);
  sqlite3_finalize(insertVal);
  return copied;
}

// A command that only reads: the file is read into memory and is never
// created, moved or written; a damaged one is left as it is and what can
// still be read from it is used.
void OpenReadOnly(State &s, const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT)
      return Refuse(s, std::string("cannot look at the file: ") + strerror(errno));
    CopyIntoMemory(s, nullptr); // nothing stored yet
    s.status.inMemory = true;
    return;
  }
  if (!S_ISREG(st.st_mode))
    return Refuse(s, "not a regular file");
  sqlite3 *file = OpenForReading(s, path);
  if (!file)
    return Refuse(s, "cannot read the file");
  int rc = SQLITE_OK;
  std::string other, check, why;
  Schema schema = ReadSchema(file, &rc, &other);
  if (rc == SQLITE_OK && schema == Schema::kOurs) {
    check = QueryText(file, "PRAGMA quick_check", &rc);
    if (rc == SQLITE_OK && check != "ok")
      rc = SQLITE_CORRUPT;
  }
  bool damaged = schema == Schema::kOurs && (rc & 0xff) == SQLITE_CORRUPT;
  if (rc != SQLITE_OK && !damaged)
    why = Classify(rc) == Outcome::kForeign
              ? "not a Vantrel settings database: " +
                    SqliteWhy(file, rc, "cannot read it as a database")
              : SqliteWhy(file, rc, "cannot read it");
  else if (schema == Schema::kOther)
    why = "not a Vantrel settings database: " + other;
  bool whole = false;
  if (why.empty() && !damaged)
    CopyIntoMemory(s, schema == Schema::kOurs ? file : nullptr, &whole);
  sqlite3_close_v2(file);
  if (!why.empty())
    return Refuse(s, why);
  s.status.inMemory = true;
  if (damaged) {
    CopyIntoMemory(s, nullptr);
    int copied = Salvage(s, s.mem.db, path);
    std::string detail =
        check.empty() || check == "ok" ? std::string(sqlite3_errstr(rc)) : check;
    s.status.problem = "damaged: " + detail;
    Say("%s is damaged (%s); it is left as it is, and only the %d values that could still be "
        "read from it are seen",
        path.c_str(), detail.c_str(), copied);
  } else if (schema == Schema::kOurs && !whole) {
    Refuse(s, "cannot read the file whole");
  }
}

} // namespace

State &S() {
  static State *state = new State;
  return *state;
}

void SetWait(State &s, int ms) {
  s.waitStart = Clock::now();
  s.waitDeadline = s.waitStart + std::chrono::milliseconds(ms < 0 ? 0 : ms);
  s.saidWaiting = false;
}

void Say(const char *fmt, ...) {
  char line[1024];
  va_list args;
  va_start(args, fmt);
  vsnprintf(line, sizeof line, fmt, args);
  va_end(args);
  fprintf(stderr, "%s: %s\n", program_invocation_short_name, line);
  if (!S().exiting) // the trace may already be gone at exit
    PlatformTrace("registry: %s", line);
}

int PrepareStatements(Conn &c) {
  for (int i = 0; i < kStmtCount; ++i) {
    if (c.stmts[i])
      continue;
    int rc = sqlite3_prepare_v3(c.db, kStatementText[i], -1, SQLITE_PREPARE_PERSISTENT,
                                &c.stmts[i], nullptr);
    if (rc != SQLITE_OK) {
      FinalizeStatements(c);
      return rc;
    }
  }
  return SQLITE_OK;
}

void FinalizeStatements(Conn &c) {
  for (auto &stmt : c.stmts) {
    sqlite3_finalize(stmt);
    stmt = nullptr;
  }
}

void CloseConn(Conn &c) {
  FinalizeStatements(c);
  if (c.db)
    sqlite3_close_v2(c.db);
  c.db = nullptr;
}

bool CopyIntoMemory(State &s, sqlite3 *source, bool *whole) {
  if (whole)
    *whole = source != nullptr;
  CloseConn(s.mem);
  ConfigureSqliteOnce();
  sqlite3 *mem = nullptr;
  if (sqlite3_open_v2(":memory:", &mem, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    sqlite3_close_v2(mem);
    PlatformTrace("registry: cannot open an in-memory database either");
    s.active = nullptr;
    return false;
  }
  sqlite3_extended_result_codes(mem, 1);
  if (source) {
    bool copied = false;
    if (sqlite3_backup *b = sqlite3_backup_init(mem, "main", source, "main")) {
      copied = sqlite3_backup_step(b, -1) == SQLITE_DONE;
      copied = sqlite3_backup_finish(b) == SQLITE_OK && copied;
    }
    int rc = SQLITE_OK;
    if (!copied || QueryText(mem, "PRAGMA quick_check", &rc) != "ok") {
      // Start empty rather than from a copy that is not whole.
      sqlite3_close_v2(mem);
      return CopyIntoMemory(s, nullptr, whole);
    }
  }
  s.mem.db = mem;
  if (sqlite3_exec(mem, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
      PrepareStatements(s.mem) != SQLITE_OK) {
    CloseConn(s.mem);
    if (source)
      return CopyIntoMemory(s, nullptr, whole);
    s.active = nullptr;
    return false;
  }
  s.active = &s.mem;
  ++s.generation;
  return true;
}

void Open(State &s) {
  std::string path = s.chosenPath.empty() ? DefaultPath() : s.chosenPath;
  s.status = RegistryStatus{};
  s.status.path = path;
  s.lastError = SQLITE_OK;
  s.opened = true;
  if (path.empty())
    return Refuse(s, "no home folder to keep them in");
  if (s.readOnly)
    return OpenReadOnly(s, path);
  std::string why;
  if (!MakeParentFolders(path, &why))
    return Refuse(s, why);
  // Opening may wait longer than a write: until it is open nothing is known.
  Clock::time_point deadline = s.waitDeadline, start = s.waitStart;
  SetWait(s, std::max(s.waitMs, kOpenWaitMs));
  std::string aside, damage;
  for (int attempt = 0; attempt < 3; ++attempt) {
    // A file that is there must be a regular file this user can read;
    // anything else is left exactly as it is.
    struct stat before;
    bool exists = stat(path.c_str(), &before) == 0;
    if (!exists && errno != ENOENT)
      return Refuse(s, std::string("cannot look at the file: ") + strerror(errno));
    if (exists) {
      if (!S_ISREG(before.st_mode))
        return Refuse(s, "not a regular file");
      int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0)
        return Refuse(s, std::string("cannot read the file: ") + strerror(errno));
      close(fd);
    }
    bool ready = false;
    Outcome outcome = TryOpenFile(s, path, &s.file, &ready, &why);
    if (outcome == Outcome::kOk) {
      s.fileReady = ready;
      if (!aside.empty()) {
        int copied = ready ? Salvage(s, s.file.db, aside) : 0;
        Say("%s was damaged (%s); kept it aside as %s and started a fresh one with the %d "
            "values that could still be read",
            path.c_str(), damage.c_str(), aside.c_str(), copied);
      }
      if (ready) {
        s.active = &s.file;
        ++s.generation;
      } else {
        // A new file whose tables cannot be made now: it holds nothing, so
        // an empty copy in memory is faithful; the tables come with the
        // first changes written back.
        CopyIntoMemory(s, nullptr);
        s.status.inMemory = true;
        s.status.problem = why;
        Say("cannot write %s (%s); changes are kept in memory until it can be written",
            path.c_str(), why.c_str());
      }
      s.waitDeadline = deadline;
      s.waitStart = start;
      return;
    }
    s.waitDeadline = deadline;
    s.waitStart = start;
    switch (outcome) {
    case Outcome::kBusy:
      // Nothing can be read now; the next call tries again.
      s.opened = false;
      s.status.problem = why;
      PlatformTrace("registry: cannot open %s yet: %s", path.c_str(), why.c_str());
      return;
    case Outcome::kForeign:
      return Refuse(s, "not a Vantrel settings database: " + why);
    case Outcome::kUnwritable:
      return RunFromCopy(s, exists ? path : std::string(), why);
    default:
      break;
    }
    // Damaged, and ours. Move it aside only if it is still the file that was
    // looked at, so a fresh database another process has just made is kept.
    struct stat now;
    if (stat(path.c_str(), &now) != 0 || now.st_ino != before.st_ino ||
        now.st_dev != before.st_dev)
      continue;
    std::string moveWhy;
    if (!MoveAside(path, &aside, &moveWhy))
      return Refuse(s, moveWhy);
    damage = why;
    SetWait(s, std::max(s.waitMs, kOpenWaitMs));
  }
  Refuse(s, "the file stays damaged: " + why);
}

bool ReopenFile(State &s, std::string *why) {
  if (s.file.db)
    return true;
  bool ready = false;
  if (TryOpenFile(s, s.status.path, &s.file, &ready, why) != Outcome::kOk)
    return false;
  s.fileReady = ready;
  return true;
}

Locked::Locked() { S().mu.lock(); SetWait(S(), S().waitMs); }

Locked::~Locked() {
  State &s = S();
  std::string notice;
  notice.swap(s.notice);
  RegistryUnsavedNotifier notifier = s.notifier;
  s.mu.unlock();
  if (!notice.empty() && notifier)
    notifier(notice.c_str());
}

sqlite3 *Db() {
  State &s = S();
  if (!s.opened)
    Open(s);
  return s.active ? s.active->db : nullptr;
}

sqlite3_stmt *Statement(Stmt which) {
  State &s = S();
  if (!Db())
    return nullptr;
  sqlite3_stmt *&slot = s.active->stmts[which];
  if (!slot && sqlite3_prepare_v3(s.active->db, kStatementText[which], -1, SQLITE_PREPARE_PERSISTENT,
                                  &slot, nullptr) != SQLITE_OK) {
    sqlite3_finalize(slot);
    slot = nullptr;
  }
  sqlite3_stmt *stmt = slot;
  if (stmt) {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
  }
  return stmt;
}

uint64_t Generation() { return S().generation; }

int Step(sqlite3_stmt *stmt) {
  State &s = S();
  if (!stmt || !s.active) {
    s.lastError = SQLITE_BUSY;
    return SQLITE_BUSY;
  }
  int rc = sqlite3_step(stmt);
  // Outside a transaction a reader can still meet SQLITE_BUSY while another
  // process recovers or restarts the log; the busy handler has waited what
  // it may, so try again a few times before giving up.
  for (int attempt = 0; (rc & 0xff) == SQLITE_BUSY && attempt < kStepAttempts &&
                        sqlite3_get_autocommit(s.active->db);
       ++attempt) {
    sqlite3_reset(stmt);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    rc = sqlite3_step(stmt);
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    s.lastError = rc;
    // A statement that met a busy database stays ready to go on, holding
    // its read snapshot; let it go, so later transactions start afresh.
    sqlite3_reset(stmt);
  }
  return rc;
}

int LastError() { return S().lastError; }
void ClearLastError() { S().lastError = SQLITE_OK; }

LONG ErrorFromSqlite(int rc) {
  switch (rc & 0xff) {
  case SQLITE_OK:
  case SQLITE_ROW:
  case SQLITE_DONE:
    return ERROR_SUCCESS;
  case SQLITE_BUSY:
  case SQLITE_LOCKED:
    return ERROR_TIMEOUT;
  case SQLITE_NOMEM:
    return ERROR_NOT_ENOUGH_MEMORY;
  case SQLITE_CORRUPT:
  case SQLITE_NOTADB:
    return ERROR_BADDB;
  case SQLITE_FULL:
  case SQLITE_READONLY:
  case SQLITE_IOERR:
  case SQLITE_CANTOPEN:
    return ERROR_CANTWRITE;
  default:
    return ERROR_GEN_FAILURE;
  }
}

int BindBlob(sqlite3_stmt *stmt, int index, const void *data, size_t size) {
  if (size == 0)
    return sqlite3_bind_zeroblob(stmt, index, 0);
  return sqlite3_bind_blob64(stmt, index, data, size, SQLITE_TRANSIENT);
}

} // namespace registry

// Opening the registry database: where it lives, making it ready, keeping a
// damaged file aside, and running from memory when the file cannot be used.
//
// The connection is opened once per process, on first use, and kept for the
// life of the process. Its state is never destroyed, so a thread still using
// the registry while the process exits does not meet a destroyed mutex.
#include "platform/registry/registry_db.h"

#include "platform/trace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace registry {

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

// Keys keep their creation order by id, values by rowid; enumeration by
// index follows those orders.
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

// How long an open waits for another process that holds the database.
constexpr int kBusyTimeoutMs = 5000;
constexpr int kOpenAttempts = 6;

struct State {
  std::mutex mu;
  sqlite3 *db = nullptr;
  sqlite3_stmt *stmts[kStmtCount] = {};
  RegistryStatus status;
  std::string chosenPath; // RegistryUseDatabase; empty: the environment rule
  bool announced = false; // the move to memory has been reported
  int lastError = SQLITE_OK;
};

State &S() {
  static State *state = new State;
  return *state;
}

enum class Outcome { kOk, kDamaged, kUnwritable };

Outcome Classify(int rc) {
  switch (rc & 0xff) {
  case SQLITE_OK:
  case SQLITE_ROW:
  case SQLITE_DONE:
    return Outcome::kOk;
  case SQLITE_NOTADB:
  case SQLITE_CORRUPT:
  case SQLITE_ERROR: // a file that is a database, but not one of ours
    return Outcome::kDamaged;
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

void CloseDb(State &s) {
  for (auto &stmt : s.stmts) {
    sqlite3_finalize(stmt);
    stmt = nullptr;
  }
  if (s.db)
    sqlite3_close_v2(s.db);
  s.db = nullptr;
}

// Runs SQL, retrying while another process holds the database a long time.
int ExecRetrying(sqlite3 *db, const char *sql) {
  int rc = SQLITE_OK;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if ((rc & 0xff) != SQLITE_BUSY && (rc & 0xff) != SQLITE_LOCKED)
      break;
  }
  return rc;
}

// A one-row, one-column answer of a pragma; empty on error (rc in *rc).
std::string PragmaText(sqlite3 *db, const char *sql, int *rc) {
  std::string text;
  sqlite3_stmt *stmt = nullptr;
  *rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  if (*rc == SQLITE_OK) {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
      *rc = sqlite3_step(stmt);
      if ((*rc & 0xff) != SQLITE_BUSY)
        break;
      sqlite3_reset(stmt);
    }
    if (*rc == SQLITE_ROW) {
      const unsigned char *t = sqlite3_column_text(stmt, 0);
      text = t ? reinterpret_cast<const char *>(t) : "";
      *rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(stmt);
  return text;
}

// Creates the tables and prepares the statements on an open connection.
int PrepareSchema(State &s, sqlite3 *db) {
  int rc = ExecRetrying(db, "BEGIN IMMEDIATE");
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
      rc = ExecRetrying(db, "COMMIT");
    if (rc != SQLITE_OK)
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK)
    return rc;
  for (int i = 0; i < kStmtCount; ++i) {
    rc = sqlite3_prepare_v3(db, kStatementText[i], -1, SQLITE_PREPARE_PERSISTENT, &s.stmts[i],
                            nullptr);
    if (rc != SQLITE_OK)
      return rc;
  }
  return SQLITE_OK;
}

// Opens the file read-write and makes it ready. On anything but kOk the
// connection is closed again and *why says what went wrong.
Outcome TryOpenFile(State &s, const std::string &path, std::string *why) {
  sqlite3 *db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  auto fail = [&](int code, const char *what) {
    int sysErr = db ? sqlite3_system_errno(db) : 0;
    bool detailed = db && sqlite3_errcode(db) != SQLITE_OK; // not cleared by a rollback
    *why = std::string(what) + ": " + (detailed ? sqlite3_errmsg(db) : sqlite3_errstr(code));
    if (sysErr)
      *why += std::string(" (") + strerror(sysErr) + ")";
    Outcome outcome = Classify(code);
    if (outcome == Outcome::kDamaged && db) // leave the damaged file as it is
      sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    for (auto &stmt : s.stmts) {
      sqlite3_finalize(stmt);
      stmt = nullptr;
    }
    sqlite3_close_v2(db);
    return outcome;
  };
  if (rc != SQLITE_OK)
    return fail(rc, "cannot open");
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  if (sqlite3_db_readonly(db, "main") == 1) {
    *why = "the file is read-only";
    sqlite3_close_v2(db);
    return Outcome::kUnwritable;
  }
  // Check before anything is written, so a damaged file is kept as found.
  std::string check = PragmaText(db, "PRAGMA quick_check", &rc);
  if (rc != SQLITE_OK)
    return fail(rc, "cannot check");
  if (check != "ok")
    return fail(SQLITE_CORRUPT, ("damaged: " + check).c_str());
  std::string mode = PragmaText(db, "PRAGMA journal_mode=WAL", &rc);
  if (rc != SQLITE_OK)
    return fail(rc, "cannot use");
  if (mode != "wal") {
    *why = "cannot use write-ahead logging (journal mode " + mode + ")";
    sqlite3_close_v2(db);
    return Outcome::kUnwritable;
  }
  rc = ExecRetrying(db, "PRAGMA synchronous=FULL");
  if (rc != SQLITE_OK)
    return fail(rc, "cannot use");
  rc = PrepareSchema(s, db);
  if (rc != SQLITE_OK)
    return fail(rc, "cannot prepare");
  s.db = db;
  return Outcome::kOk;
}

// A connection to an empty in-memory registry, filled from `source` when
// given (a backup copy of its pages).
bool OpenMemory(State &s, sqlite3 *source) {
  sqlite3 *mem = nullptr;
  if (sqlite3_open_v2(":memory:", &mem, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    sqlite3_close_v2(mem);
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
    if (!copied || PragmaText(mem, "PRAGMA quick_check", &rc) != "ok") {
      // Start empty rather than from a copy that is not whole.
      sqlite3_close_v2(mem);
      return OpenMemory(s, nullptr);
    }
  }
  if (PrepareSchema(s, mem) != SQLITE_OK) {
    for (auto &stmt : s.stmts) {
      sqlite3_finalize(stmt);
      stmt = nullptr;
    }
    sqlite3_close_v2(mem);
    if (source)
      return OpenMemory(s, nullptr);
    return false;
  }
  s.db = mem;
  return true;
}

// Reports once per database that this run keeps its settings in memory.
void Announce(State &s, const std::string &why) {
  s.status.inMemory = true;
  s.status.problem = why;
  if (s.announced)
    return;
  s.announced = true;
  fprintf(stderr, "vantrel: cannot keep settings in %s (%s); this run keeps them in memory only\n",
          s.status.path.c_str(), why.c_str());
  PlatformTrace("registry: cannot keep settings in %s (%s); this run keeps them in memory only",
                s.status.path.c_str(), why.c_str());
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

// Copies what can still be read of the file into memory and goes on there.
void OpenMemoryFromFile(State &s, const std::string &path, const std::string &why) {
  sqlite3 *file = nullptr;
  bool readable = false;
  if (!path.empty()) {
    readable = sqlite3_open_v2(path.c_str(), &file, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                               nullptr) == SQLITE_OK &&
               sqlite3_exec(file, "SELECT count(*) FROM keys", nullptr, nullptr, nullptr) ==
                   SQLITE_OK;
    if (!readable) {
      sqlite3_close_v2(file);
      file = nullptr;
      readable = sqlite3_open_v2(ImmutableUri(path).c_str(), &file,
                                 SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                 nullptr) == SQLITE_OK;
    }
  }
  if (readable)
    sqlite3_busy_timeout(file, kBusyTimeoutMs);
  if (!OpenMemory(s, readable ? file : nullptr))
    PlatformTrace("registry: cannot open an in-memory database either");
  sqlite3_close_v2(file);
  Announce(s, why);
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

void Open(State &s) {
  std::string path = s.chosenPath.empty() ? DefaultPath() : s.chosenPath;
  s.status = RegistryStatus{path, false, std::string()};
  s.lastError = SQLITE_OK;
  if (path.empty()) {
    OpenMemory(s, nullptr);
    Announce(s, "no home folder to keep them in");
    return;
  }
  std::string why;
  if (!MakeParentFolders(path, &why)) {
    OpenMemory(s, nullptr);
    Announce(s, why);
    return;
  }
  for (int attempt = 0; attempt < 3; ++attempt) {
    // A file that is there must be a regular file this user can read;
    // anything else is left exactly as it is.
    struct stat before;
    bool exists = stat(path.c_str(), &before) == 0;
    if (!exists && errno != ENOENT) {
      OpenMemory(s, nullptr);
      Announce(s, std::string("cannot look at the file: ") + strerror(errno));
      return;
    }
    if (exists) {
      if (!S_ISREG(before.st_mode)) {
        OpenMemory(s, nullptr);
        Announce(s, "not a regular file");
        return;
      }
      int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        std::string reason = std::string("cannot read the file: ") + strerror(errno);
        OpenMemory(s, nullptr);
        Announce(s, reason);
        return;
      }
      close(fd);
    }
    Outcome outcome = TryOpenFile(s, path, &why);
    if (outcome == Outcome::kOk)
      return;
    if (outcome == Outcome::kUnwritable) {
      OpenMemoryFromFile(s, exists ? path : std::string(), why);
      return;
    }
    // Damaged. Move it aside only if it is still the file that was looked
    // at, so a fresh database another process has just made is kept.
    struct stat now;
    if (stat(path.c_str(), &now) != 0 || now.st_ino != before.st_ino ||
        now.st_dev != before.st_dev)
      continue;
    std::string aside, moveWhy;
    if (!MoveAside(path, &aside, &moveWhy)) {
      OpenMemory(s, nullptr);
      Announce(s, moveWhy);
      return;
    }
    PlatformTrace("registry: %s was damaged (%s); kept aside as %s, starting a fresh one",
                  path.c_str(), why.c_str(), aside.c_str());
  }
  OpenMemory(s, nullptr);
  Announce(s, "the file stays damaged: " + why);
}

} // namespace

std::unique_lock<std::mutex> RegistryLock() { return std::unique_lock<std::mutex>(S().mu); }

sqlite3 *Db() {
  State &s = S();
  if (!s.db)
    Open(s);
  return s.db;
}

sqlite3_stmt *Statement(Stmt which) {
  State &s = S();
  if (!s.db)
    Open(s);
  sqlite3_stmt *stmt = s.stmts[which];
  if (stmt) {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
  }
  return stmt;
}

int Step(sqlite3_stmt *stmt) {
  State &s = S();
  int rc = sqlite3_step(stmt);
  // Outside a transaction a reader can still meet SQLITE_BUSY while another
  // process recovers or restarts the log; the busy handler has already
  // waited, so try again a few times before giving up.
  for (int attempt = 0; (rc & 0xff) == SQLITE_BUSY && attempt < kOpenAttempts &&
                        sqlite3_get_autocommit(s.db);
       ++attempt) {
    sqlite3_reset(stmt);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    rc = sqlite3_step(stmt);
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE)
    s.lastError = rc;
  return rc;
}

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

LONG Write(const std::function<LONG()> &work) {
  State &s = S();
  if (!s.db)
    Open(s);
  for (int attempt = 0; attempt < 2 * kOpenAttempts; ++attempt) {
    s.lastError = SQLITE_OK;
    int rc = Step(Statement(kBegin));
    LONG result = ERROR_SUCCESS;
    if (rc == SQLITE_DONE) {
      result = work();
      if (result == ERROR_SUCCESS && s.lastError == SQLITE_OK) {
        rc = Step(Statement(kCommit));
        if (rc == SQLITE_DONE)
          return ERROR_SUCCESS;
      }
      sqlite3_reset(s.stmts[kCommit]);
      if (!sqlite3_get_autocommit(s.db))
        Step(Statement(kRollback));
      if (s.lastError == SQLITE_OK)
        return result; // the work's own answer (missing key, bad input)
      rc = s.lastError;
    }
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    case SQLITE_FULL:
    case SQLITE_READONLY:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
      if (!s.status.inMemory) {
        // Keep the run going in memory, from what the file holds now.
        std::string why = std::string("cannot write: ") + sqlite3_errstr(rc);
        sqlite3 *file = s.db;
        for (auto &stmt : s.stmts) {
          sqlite3_finalize(stmt);
          stmt = nullptr;
        }
        s.db = nullptr;
        if (!OpenMemory(s, file)) {
          sqlite3_close_v2(file);
          Open(s);
          return ErrorFromSqlite(rc);
        }
        sqlite3_close_v2(file);
        Announce(s, why);
        continue;
      }
      return ErrorFromSqlite(rc);
    default:
      PlatformTrace("registry: write failed: %s", sqlite3_errstr(rc));
      return ErrorFromSqlite(rc);
    }
  }
  return ERROR_TIMEOUT;
}

} // namespace registry

RegistryStatus RegistryGetStatus() {
  auto lock = registry::RegistryLock();
  registry::Db();
  return registry::S().status;
}

void RegistryUseDatabase(const std::string &path) {
  auto lock = registry::RegistryLock();
  registry::State &s = registry::S();
  registry::CloseDb(s);
  s.chosenPath = path;
  s.announced = false;
  s.status = RegistryStatus{};
}

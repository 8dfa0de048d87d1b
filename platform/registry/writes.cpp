// Writing: one change at a time into the file; when the file cannot take it
// (another process holds it too long, the disk is full, an I/O error, a
// read-only file), into the in-memory copy, kept as a WriteOp and written
// back to the file in order as soon as it can take it again.
#include "platform/registry/registry_state.h"

#include "platform/core/counted_thread.h"
#include "platform/trace.h"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace registry {

namespace {

// How soon kept changes are tried again. Kept changes live in memory only,
// and a kill takes them with it: they go back to the file as soon as it can
// take them. While another process holds the database, a try meets its lock
// at once and costs no more than asking for it, so the lock is asked for
// every kRetryWhileHeld and the changes are written within that of its
// release. Other faults (a full disk, an I/O error) cost a whole
// transaction per try: tried again after kRetryFirst, then twice as long
// each time, up to kRetryLongest.
constexpr auto kRetryWhileHeld = std::chrono::milliseconds(20);
constexpr auto kRetryFirst = std::chrono::milliseconds(50);
constexpr auto kRetryLongest = std::chrono::milliseconds(1000);
// How long a try for a fault other than the lock waits for another
// process, and how long the last try at exit waits.
constexpr int kRetryWaitMs = 100;
constexpr int kExitWaitMs = 2000;
// A lock held by another process is worth telling the person about only
// once it has kept changes from the file this long.
constexpr auto kBusyNoticeAfter = std::chrono::seconds(5);

bool IsPassingFault(int rc) {
  switch (rc & 0xff) {
  case SQLITE_BUSY:
  case SQLITE_LOCKED:
  case SQLITE_FULL:
  case SQLITE_READONLY:
  case SQLITE_IOERR:
  case SQLITE_CANTOPEN:
  case SQLITE_PROTOCOL:
    return true;
  default:
    return false;
  }
}

bool IsBusy(int rc) { return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED; }

std::string FaultText(int rc) {
  if (IsBusy(rc))
    return "the settings database is held by another process";
  if ((rc & 0xff) == SQLITE_FULL)
    return "the disk is full";
  return std::string("cannot write: ") + sqlite3_errstr(rc);
}

// Walks `parts` down from the key `parentId` at the folded path `at`, making
// every key that is missing. ERROR_SUCCESS with *id and *path set to the last
// key; *created tells whether any key was made.
LONG MakeKeyChain(sqlite3_int64 parentId, std::string at, const std::vector<PathPart> &parts,
                  sqlite3_int64 *id, std::string *path, bool *created) {
  *created = false;
  for (const PathPart &part : parts) {
    at = JoinPath(at, part.fold);
    sqlite3_int64 childId = 0;
    int found = FindKey(at, &childId);
    if (found == SQLITE_DONE) {
      sqlite3_stmt *insert = Statement(kInsertKey);
      sqlite3_bind_int64(insert, 1, parentId);
      sqlite3_bind_text(insert, 2, part.name.data(), static_cast<int>(part.name.size()),
                        SQLITE_STATIC);
      sqlite3_bind_text(insert, 3, at.data(), static_cast<int>(at.size()), SQLITE_STATIC);
      int done = Step(insert);
      sqlite3_reset(insert);
      if (done != SQLITE_DONE)
        return ErrorFromSqlite(done);
      childId = sqlite3_last_insert_rowid(Db());
      *created = true;
    } else if (found != SQLITE_ROW) {
      return ErrorFromSqlite(found);
    }
    parentId = childId;
  }
  *id = parentId;
  *path = at;
  return ERROR_SUCCESS;
}

// The key at the folded path `path` with its parents, made when missing
// from `parts` (as written, from the root). ERROR_SUCCESS with *id set.
LONG EnsureKey(const std::vector<PathPart> &parts, sqlite3_int64 *id) {
  std::string path;
  bool created = false;
  return MakeKeyChain(kRootKeyId, std::string(), parts, id, &path, &created);
}

// The components of a folded key path as written, read from the active
// connection (a component it does not know keeps its folded form).
std::vector<PathPart> PartsOf(const std::string &path) {
  std::vector<PathPart> parts;
  size_t from = 0;
  while (!path.empty() && from <= path.size()) {
    size_t end = path.find('\\', from);
    if (end == std::string::npos)
      end = path.size();
    PathPart part;
    part.fold = path.substr(from, end - from);
    sqlite3_int64 id = 0;
    if (FindKey(path.substr(0, end), &id, &part.name) != SQLITE_ROW)
      part.name = part.fold;
    parts.push_back(part);
    from = end + 1;
  }
  return parts;
}

// Runs `op` in one transaction on the active connection. *fault: 0, or the
// SQLite failure that kept it from being made.
LONG Transaction(State &s, WriteOp &op, int *fault) {
  *fault = SQLITE_OK;
  ClearLastError();
  int rc = Step(Statement(kBegin));
  if (rc != SQLITE_DONE) {
    *fault = rc;
    return ErrorFromSqlite(rc);
  }
  LONG result = ApplyOp(op, false);
  if (result == ERROR_SUCCESS && LastError() == SQLITE_OK) {
    rc = Step(Statement(kCommit));
    if (rc == SQLITE_DONE)
      return ERROR_SUCCESS;
  }
  sqlite3_reset(s.active->stmts[kCommit]);
  int failure = LastError();
  if (!sqlite3_get_autocommit(s.active->db))
    Step(Statement(kRollback));
  if (failure == SQLITE_OK)
    return result; // the change's own answer (missing key, bad input)
  *fault = failure;
  return ErrorFromSqlite(failure);
}

// Tells the notifier (when the lock is let go) that changes are kept in
// memory only, once per stretch; a lock held by another process only once
// it has lasted a while.
void MaybeNotice(State &s) {
  if (!s.unsaved || s.noticeGiven)
    return;
  if (s.unsavedBecauseBusy && Clock::now() - s.unsavedSince < kBusyNoticeAfter)
    return;
  s.noticeGiven = true;
  s.notice = s.status.problem.empty() ? "unknown" : s.status.problem;
}

void RetryLoop();

void *RetryThread(void *) {
  RetryLoop();
  CountThreadEnded();
  return nullptr;
}

void FlushAtExit() {
  Locked lock;
  State &s = S();
  if (!s.pending.empty() && !s.refused) {
    FlushLocked(s, kExitWaitMs);
    if (!s.pending.empty())
      Say("%zu settings changes could not be saved to %s (%s)", s.pending.size(),
          s.status.path.c_str(), s.status.problem.c_str());
  }
  s.exiting = true;
}

// The changes are kept: starts the retry thread and the write at exit.
void KeepTrying(State &s) {
  if (!s.exitHookSet) {
    s.exitHookSet = true;
    atexit(FlushAtExit);
  }
  if (s.retryRunning || s.exiting)
    return;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  CountThreadStarting();
  s.retryRunning = pthread_create(&thread, &attr, RetryThread, nullptr) == 0;
  pthread_attr_destroy(&attr);
  if (!s.retryRunning) {
    CountThreadEnded();
    PlatformTrace("registry: cannot start the retry thread; changes are written at the next "
                  "write");
  }
}

void RetryLoop() {
  std::chrono::milliseconds pause = kRetryWhileHeld, backoff = kRetryFirst;
  for (;;) {
    std::this_thread::sleep_for(pause);
    Locked lock;
    State &s = S();
    if (s.exiting || s.pending.empty() || s.refused) {
      s.retryRunning = false;
      return;
    }
    // Held by another process: ask for its lock without waiting, as every
    // reader and writer of this process waits for the registry's lock
    // while a try runs.
    FlushLocked(s, s.unsavedBecauseBusy ? 0 : kRetryWaitMs);
    MaybeNotice(s);
    if (s.unsavedBecauseBusy) {
      pause = kRetryWhileHeld;
      backoff = kRetryFirst;
    } else {
      pause = backoff;
      backoff = std::min(backoff * 2, kRetryLongest);
    }
  }
}

// Changes are now kept in memory only (s.status.problem says why).
void MarkUnsaved(State &s, bool busy) {
  s.status.inMemory = true;
  if (!s.unsaved) {
    s.unsaved = true;
    s.unsavedBecauseBusy = busy;
    s.unsavedSince = Clock::now();
    s.noticeGiven = false;
    if (!s.refused)
      Say("cannot save settings changes to %s (%s); keeping them in memory and trying again",
          s.status.path.c_str(), s.status.problem.c_str());
  } else if (!busy) {
    s.unsavedBecauseBusy = false;
  }
  MaybeNotice(s);
}

// Makes the change in the in-memory copy (the active connection) and keeps
// it for the file.
LONG KeepInMemory(State &s, WriteOp &op, bool busy) {
  int fault = SQLITE_OK;
  LONG result = Transaction(s, op, &fault);
  if (fault != SQLITE_OK || result != ERROR_SUCCESS)
    return result;
  if (s.refused) {
    ++s.status.unsavedChanges;
  } else {
    if (op.kind == WriteOp::kCreateKey || op.kind == WriteOp::kSetValue)
      op.parts = PartsOf(op.kind == WriteOp::kCreateKey ? op.resultPath : op.keyPath);
    s.pending.push_back(op);
    s.status.unsavedChanges = s.pending.size();
    KeepTrying(s);
  }
  MarkUnsaved(s, busy);
  return result;
}

} // namespace

LONG ApplyOp(WriteOp &op, bool again) {
  switch (op.kind) {
  case WriteOp::kCreateKey: {
    if (again)
      return EnsureKey(op.parts, &op.resultId);
    LONG check = CheckKeyExists(op.keyId);
    if (check != ERROR_SUCCESS)
      return check;
    return MakeKeyChain(op.keyId, op.keyPath, op.parts, &op.resultId, &op.resultPath,
                        &op.created);
  }
  case WriteOp::kSetValue: {
    sqlite3_int64 id = op.keyId;
    LONG check = again ? EnsureKey(op.parts, &id) : CheckKeyExists(id);
    if (check != ERROR_SUCCESS)
      return check;
    sqlite3_stmt *stmt = Statement(kSetValue);
    sqlite3_bind_int64(stmt, 1, id);
    sqlite3_bind_text(stmt, 2, op.name.data(), static_cast<int>(op.name.size()), SQLITE_STATIC);
    sqlite3_bind_text(stmt, 3, op.fold.data(), static_cast<int>(op.fold.size()), SQLITE_STATIC);
    sqlite3_bind_int64(stmt, 4, op.type);
    BindBlob(stmt, 5, op.data.data(), op.data.size());
    int rc = Step(stmt);
    sqlite3_reset(stmt);
    return rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc);
  }
  case WriteOp::kDeleteValue: {
    sqlite3_int64 id = op.keyId;
    if (again) {
      int found = FindKey(op.keyPath, &id);
      if (found == SQLITE_DONE)
        return ERROR_SUCCESS; // the key is gone: so is the value
      if (found != SQLITE_ROW)
        return ErrorFromSqlite(found);
    }
    sqlite3_stmt *stmt = Statement(kDeleteValue);
    sqlite3_bind_int64(stmt, 1, id);
    sqlite3_bind_text(stmt, 2, op.fold.data(), static_cast<int>(op.fold.size()), SQLITE_STATIC);
    int rc = Step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE)
      return ErrorFromSqlite(rc);
    if (again || sqlite3_changes(Db()) > 0)
      return ERROR_SUCCESS;
    return AnswerUnlessKeyGone(id, ERROR_FILE_NOT_FOUND);
  }
  case WriteOp::kDeleteKey: {
    const std::string &path = op.keyPath;
    std::string from = path + '\\';
    std::string to = path + ']'; // the character after '\', so [from, to) is the subtree
    sqlite3_int64 id = 0;
    int found = FindKey(path, &id);
    if (found == SQLITE_DONE)
      return again ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    if (found != SQLITE_ROW)
      return ErrorFromSqlite(found);
    for (Stmt which : {kDeleteTreeVals, kDeleteTreeKeys}) {
      sqlite3_stmt *stmt = Statement(which);
      sqlite3_bind_text(stmt, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
      sqlite3_bind_text(stmt, 2, from.data(), static_cast<int>(from.size()), SQLITE_STATIC);
      sqlite3_bind_text(stmt, 3, to.data(), static_cast<int>(to.size()), SQLITE_STATIC);
      int rc = Step(stmt);
      sqlite3_reset(stmt);
      if (rc != SQLITE_DONE)
        return ErrorFromSqlite(rc);
    }
    return ERROR_SUCCESS;
  }
  }
  return ERROR_INVALID_PARAMETER;
}

bool FlushLocked(State &s, int waitMs) {
  if (s.refused || !s.opened || s.readOnly)
    return s.pending.empty();
  if (s.active == &s.file && s.pending.empty())
    return true;
  SetWait(s, waitMs);
  std::string why;
  if (!ReopenFile(s, &why)) {
    if (!why.empty())
      s.status.problem = why;
    return false;
  }
  Conn *copy = s.active;
  s.active = &s.file;
  int fault = sqlite3_exec(s.file.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (fault == SQLITE_OK && !s.fileReady) {
    fault = sqlite3_exec(s.file.db, kSchema, nullptr, nullptr, nullptr);
    if (fault == SQLITE_OK)
      fault = PrepareStatements(s.file);
  }
  ClearLastError();
  for (size_t i = 0; fault == SQLITE_OK && i < s.pending.size(); ++i) {
    ApplyOp(s.pending[i], true);
    fault = LastError();
  }
  if (fault == SQLITE_OK)
    fault = sqlite3_exec(s.file.db, "COMMIT", nullptr, nullptr, nullptr);
  if (fault != SQLITE_OK) {
    if (!sqlite3_get_autocommit(s.file.db))
      sqlite3_exec(s.file.db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (!s.fileReady)
      FinalizeStatements(s.file);
    s.active = copy;
    s.status.problem = FaultText(fault);
    if (!IsBusy(fault))
      s.unsavedBecauseBusy = false;
    return false;
  }
  size_t written = s.pending.size();
  s.fileReady = true;
  s.pending.clear();
  CloseConn(s.mem);
  ++s.generation;
  bool wasUnsaved = s.unsaved;
  s.unsaved = false;
  s.status.inMemory = false;
  s.status.unsavedChanges = 0;
  s.status.problem.clear();
  if (wasUnsaved)
    Say("saved the %zu settings changes kept in memory to %s", written, s.status.path.c_str());
  return true;
}

LONG Write(WriteOp &op) {
  State &s = S();
  // Once the change is made (or refused), readers of the change count read
  // the value again; the lock is still held, so they read it afterwards.
  struct Noted {
    ~Noted() { NoteChange(); }
  } noted;
  if (!Db())
    return ERROR_TIMEOUT; // nothing can be read yet, so nothing is changed
  if (s.readOnly)
    return ERROR_ACCESS_DENIED;
  if (s.active == &s.mem && !s.refused) {
    // Changes wait, or the file could not be written: try it first, so
    // the waiting changes reach it before this one. While another process
    // holds it, this try does not wait again (the retry thread does).
    FlushLocked(s, s.unsaved && s.unsavedBecauseBusy ? 0 : s.waitMs);
    SetWait(s, s.waitMs);
  }
  if (s.active == &s.mem) {
    if (!s.keepUnsaved)
      return s.refused ? ERROR_CANTWRITE
                       : (s.unsavedBecauseBusy ? ERROR_TIMEOUT : ERROR_CANTWRITE);
    return KeepInMemory(s, op, s.unsaved ? s.unsavedBecauseBusy : false);
  }
  int fault = SQLITE_OK;
  LONG result = Transaction(s, op, &fault);
  if (fault == SQLITE_OK)
    return result;
  if (!IsPassingFault(fault)) {
    PlatformTrace("registry: write failed: %s", sqlite3_errstr(fault));
    return result;
  }
  s.status.problem = FaultText(fault);
  if (!s.keepUnsaved)
    return result;
  // Go on from what the file holds now, in memory, with this change kept.
  // A copy that is not whole would make later changes overwrite what the
  // file holds: then the change is refused instead.
  bool whole = false;
  if (!CopyIntoMemory(s, s.file.db, &whole) || !whole) {
    CloseConn(s.mem);
    s.active = &s.file;
    ++s.generation;
    s.notice = s.status.problem + ", and the file cannot be read either";
    PlatformTrace("registry: a change is lost: %s", s.notice.c_str());
    return result;
  }
  return KeepInMemory(s, op, IsBusy(fault));
}

} // namespace registry

using namespace registry;

RegistryStatus RegistryGetStatus() {
  Locked lock;
  Db();
  State &s = S();
  if (!s.refused)
    s.status.unsavedChanges = s.pending.size();
  return s.status;
}

void RegistryUseDatabase(const std::string &path) {
  Locked lock;
  State &s = S();
  if (!s.pending.empty())
    FlushLocked(s, s.waitMs);
  CloseConn(s.file);
  CloseConn(s.mem);
  s.active = nullptr;
  s.opened = false;
  s.fileReady = false;
  s.refused = false;
  s.pending.clear();
  s.unsaved = false;
  s.unsavedBecauseBusy = false;
  s.noticeGiven = false;
  s.notice.clear();
  s.chosenPath = path;
  s.status = RegistryStatus{};
  ++s.generation;
  NoteChange();
}

void RegistryConfigureWrites(int waitMs, bool keepUnsaved) {
  Locked lock;
  State &s = S();
  s.waitMs = waitMs < 0 ? 0 : waitMs;
  s.keepUnsaved = keepUnsaved;
}

void RegistryReadOnly(bool readOnly) {
  Locked lock;
  S().readOnly = readOnly;
}

bool RegistryFlush(int waitMs) {
  Locked lock;
  State &s = S();
  FlushLocked(s, waitMs);
  return s.pending.empty() && !(s.refused && s.status.unsavedChanges);
}

void RegistrySetUnsavedNotifier(RegistryUnsavedNotifier notifier) {
  Locked lock;
  S().notifier = notifier;
}

// The registry's process-wide state and the steps of opening the database,
// shared by database.cpp (opening, recognising, damaged files) and
// writes.cpp (writing, keeping changes for later, writing them back).
// Everything here is used with the registry lock held.
#pragma once

#include "platform/registry/registry_db.h"

#include <chrono>

namespace registry {

using Clock = std::chrono::steady_clock;

// How long the program waits for another process holding the database
// before it keeps a change for later (RegistryConfigureWrites changes it).
constexpr int kDefaultWaitMs = 250;
// How long opening may wait while another process keeps the file from being
// read (rare: the file is not yet in write-ahead mode, or is being set up).
constexpr int kOpenWaitMs = 2000;
// After this long a wait is explained on stderr and in the trace.
constexpr int kSayWaitingAfterMs = 200;

// One connection and its prepared statements.
struct Conn {
  sqlite3 *db = nullptr;
  sqlite3_stmt *stmts[kStmtCount] = {};
};

struct State {
  std::mutex mu;
  Conn file;             // the database file, when open for writing
  Conn mem;              // the in-memory copy (see registry_db.h)
  Conn *active = nullptr; // &file or &mem; null until opened
  bool opened = false;   // opening was tried and settled
  bool fileReady = false; // the file holds the tables
  bool refused = false;  // the file is never used this run
  std::vector<WriteOp> pending; // changes not yet in the file, oldest first
  RegistryStatus status;
  std::string chosenPath; // RegistryUseDatabase; empty: the environment rule
  int lastError = SQLITE_OK;
  uint64_t generation = 1;

  // Writes: how long to wait, and whether a change the file cannot take
  // is kept for later (the program) or is the caller's failure (the tool).
  int waitMs = kDefaultWaitMs;
  bool keepUnsaved = true;
  // A command that only reads: the file is never created, moved or written.
  bool readOnly = false;
  // The wait of the current operation, for the busy handler.
  Clock::time_point waitStart, waitDeadline;
  bool saidWaiting = false;

  // The stretch of time during which changes are kept in memory only.
  bool unsaved = false;
  bool unsavedBecauseBusy = false;
  Clock::time_point unsavedSince;
  bool noticeGiven = false;
  std::string notice; // to tell the notifier when the lock is let go
  RegistryUnsavedNotifier notifier = nullptr;
  bool retryRunning = false;
  bool exitHookSet = false;
  bool exiting = false;
};

State &S();

// Sets how long the current operation may wait for another process.
void SetWait(State &s, int ms);

// Writes a line on stderr, prefixed with the program's name, and the same
// in the trace.
void Say(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Opens the database at the chosen path and makes it ready (sets active).
void Open(State &s);
// Opens the file again for writing after it could not be written. True
// with s.file open (its tables may still have to be made: s.fileReady).
bool ReopenFile(State &s, std::string *why);
// Prepares the statements of a connection. SQLITE_OK or an error.
int PrepareStatements(Conn &c);
void FinalizeStatements(Conn &c);
void CloseConn(Conn &c);
// The SQL that makes the tables (when missing) and the root key.
extern const char kSchema[];
// Makes s.mem a copy of `source` (empty when null or when the copy is not
// whole; *whole says which) and makes it active. False when not even an
// empty one can be made.
bool CopyIntoMemory(State &s, sqlite3 *source, bool *whole = nullptr);

// Writes the kept changes to the file. True when none are left.
bool FlushLocked(State &s, int waitMs);

} // namespace registry

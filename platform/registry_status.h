// Where the program's settings are kept and how that store is doing, for
// tools, tests and traces; the same calls on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct RegistryStatus {
  std::string path;      // database file in use
  bool inMemory = false; // reads and writes go to an in-memory copy: the file
                         // is refused, cannot be written, or changes wait
  bool refused = false;  // the file is not used at all this run (not this
                         // program's database, unreadable, not a file...)
  size_t unsavedChanges = 0; // changes kept in memory only, not yet in the file
  std::string problem;   // why, when inMemory
};
// Opens the database when it is not open yet. Opening only reads: the
// tables are made (a write) only when the file has none yet. A file that is
// not recognisably this program's database is never moved or written: the
// run goes on in memory and stderr says so. A damaged database of this
// program is kept aside as PATH.damaged-YYYYMMDD-HHMMSS, a fresh one is
// started with every value that could still be read from it (all rows
// outside the damaged pages), and stderr says so (see RegistryReadOnly for
// a command that only reads). A file that cannot be written is read into memory and written again
// once it can be.
RegistryStatus RegistryGetStatus();
// On Windows the settings are the registry's, which has no database file:
// the calls below do nothing there (RegistryFlush: true).
// Tests and tools: use another database file from now on (writes back what
// waits, within a short time, then closes the current one; handles opened
// before must not be used after). An empty path goes back to the
// VANTREL_REGISTRY rule.
void RegistryUseDatabase(const std::string &path);

// A number that grows whenever a stored value may have changed: at every
// change made through this process's Reg* calls (and RegistryUseDatabase),
// and when another process (the vantrel-reg tool) has committed a change to
// the database file. Changes of this process count at once; another
// process's are looked for at most once a second, by the call that finds
// the look due (it then takes the registry's lock and reads the file's data
// version); every other call is one atomic read. A caller keeps a setting
// it reads often cached while the number stays the same. Any thread.
uint64_t RegistryChangeCount();

// How writes meet a file that cannot take them. waitMs: how long a write
// waits for another process that holds the database (the program: 250 ms).
// keepUnsaved true (the program): a change the file cannot take now (held
// too long, full, I/O error, read-only) is made in memory, answered as done,
// and written to the file, in order, at the next write, by a retry (within
// about 20 ms of another process letting the database go; after other
// faults at growing intervals up to a second), by RegistryFlush and at
// exit. false (the tool): such a write fails
// with ERROR_TIMEOUT or ERROR_CANTWRITE and nothing is kept.
void RegistryConfigureWrites(int waitMs, bool keepUnsaved);
// For a command that only reads (the tool's list, get, export), before the
// database is opened: it is then never created, moved or written, nor its
// folder made. A missing one reads as empty; a damaged one is left as it is,
// what can still be read from it is seen and stderr says it is damaged.
// Every change fails with ERROR_ACCESS_DENIED.
void RegistryReadOnly(bool readOnly);
// Writes back the changes kept in memory, waiting up to waitMs for another
// process. True when no change is left unsaved.
bool RegistryFlush(int waitMs);
// Called once each time changes start to be kept in memory only (after a
// lock held by another process, only once that has lasted a few seconds),
// with the reason. Called outside the registry's lock, from the thread that
// wrote or from the retry thread; it must not wait for the user.
typedef void (*RegistryUnsavedNotifier)(const char *why);
void RegistrySetUnsavedNotifier(RegistryUnsavedNotifier notifier);

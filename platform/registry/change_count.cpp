// The registry's change count (see RegistryChangeCount in registry.h): one
// atomic counter, moved by this process's own changes as they are made and
// by other processes' commits when a look at the file's data version finds
// one. The look is a read of SQLite's "PRAGMA data_version", which changes
// whenever another connection committed to the file; it takes the registry
// lock and a read transaction, so it is made at most once a second, by the
// caller that finds it due, and never by a timer: a process that reads no
// settings makes no look at all.
#include "platform/registry.h"

#include "platform/core/monotonic_clock.h"
#include "platform/registry/registry_state.h"

#include <atomic>

namespace {

constexpr int64_t kLookEveryUs = 1000 * 1000;

std::atomic<uint64_t> gChanges{1};
std::atomic<int64_t> gNextLookUs{0};

// The file connection's data version; -1 before the first look (the first
// look only records it) or after the connection changed.
int64_t gDataVersion = -1; // under the registry lock
sqlite3 *gLookedAt = nullptr;

} // namespace

namespace registry {

void NoteChange() { gChanges.fetch_add(1, std::memory_order_acq_rel); }

} // namespace registry

uint64_t RegistryChangeCount() {
  int64_t now = MonotonicMicroseconds();
  int64_t next = gNextLookUs.load(std::memory_order_relaxed);
  if (now >= next && gNextLookUs.compare_exchange_strong(next, now + kLookEveryUs)) {
    registry::Locked lock;
    registry::State &s = registry::S();
    registry::Db();
    sqlite3 *file = s.file.db;
    if (file != gLookedAt) {
      gLookedAt = file;
      gDataVersion = -1;
    }
    sqlite3_stmt *stmt = nullptr;
    if (file && sqlite3_prepare_v2(file, "PRAGMA data_version", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      int64_t version = sqlite3_column_int64(stmt, 0);
      if (gDataVersion >= 0 && version != gDataVersion)
        registry::NoteChange();
      gDataVersion = version;
    }
    sqlite3_finalize(stmt);
  }
  return gChanges.load(std::memory_order_acquire);
}

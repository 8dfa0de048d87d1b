#include "platform/inject/kept_backends.h"

#include <mutex>
#include <vector>

void KeepBackend(const void *backend) {
  static std::mutex mutex;
  // Allocated once and never destroyed, so the list outlives every thread
  // that might still call into a backend during exit.
  static auto *kept = new std::vector<const void *>;
  std::lock_guard<std::mutex> lock(mutex);
  kept->push_back(backend);
}

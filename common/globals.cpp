#include "common/globals.h"

#include "platform/text.h"

#include <mutex>
#include <new>

AppGlobalsRecord AppGlobals;

namespace {
// Guards AppGlobals.statusText. Never destroyed, so a thread still running
// at exit can take it safely.
std::mutex &StatusTextMutex() {
  static std::mutex *mutex = new std::mutex;
  return *mutex;
}
constexpr size_t kStatusTextUnits = sizeof(AppGlobals.statusText) / sizeof(WCHAR);
} // namespace

void ResetAppGlobals() {
  AppGlobals.~AppGlobalsRecord();
  new (&AppGlobals) AppGlobalsRecord();
}

void WriteStatusText(const WCHAR *text) {
  std::lock_guard<std::mutex> lock(StatusTextMutex());
  WStrCopyN(AppGlobals.statusText, kStatusTextUnits, text ? text : u"");
}

void ReadStatusText(WCHAR *out, size_t units) {
  if (!out || units == 0)
    return;
  std::lock_guard<std::mutex> lock(StatusTextMutex());
  WStrCopyN(out, units, AppGlobals.statusText);
}

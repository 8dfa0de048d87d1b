// Choosing the injection backend from VANTREL_INJECT. The backends are one
// table, in the order of the default choice; a request starts at its row and
// walks on. Every row's open checks that the backend can work and, when it
// cannot, declines with a trace line saying why, so a misconfigured host
// still gets the log rather than keys silently dropped.
#include "platform/inject.h"
#include "platform/inject/log_backend.h"
#include "platform/trace.h"
#include "platform/uinput/uinput_backend.h"
#include "platform/xtest/xtest_backend.h"

#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

namespace {

struct InjectBackend {
  const char *name; // as VANTREL_INJECT names it
  // Opens the backend (arg: the log's file, empty for stdout; the others
  // take none). Returns its operations, close among them, or nullptr when
  // it cannot work, having traced why.
  const InjectOps *(*open)(const std::string &arg);
};

const InjectOps *OpenUinput(const std::string &) { return UinputInjectOpen(nullptr); }

const InjectOps *OpenXTest(const std::string &) {
  const char *display = getenv("DISPLAY");
  if (!display || !*display) {
    PlatformTrace("inject: xtest not usable: DISPLAY is not set");
    return nullptr;
  }
  return XTestInjectOpen(display);
}

const InjectOps *OpenLog(const std::string &path) { return LogInjectOpen(path.c_str()); }

constexpr InjectBackend kBackends[] = {
    {"uinput", OpenUinput},
    {"xtest", OpenXTest},
    {"log", OpenLog}, // last: it can always write to stdout
};
constexpr size_t kBackendCount = sizeof kBackends / sizeof kBackends[0];
constexpr size_t kLogRow = kBackendCount - 1;
static_assert(std::string_view(kBackends[kLogRow].name) == "log");

std::mutex gMutex;
bool gSelected = false;
bool gAtExitSet = false;
const InjectOps *gChosen = nullptr;

void ShutdownAtExit() { InjectShutdown(); }

} // namespace

const char *InjectSelectBackend() {
  std::lock_guard<std::mutex> lock(gMutex);
  if (gSelected)
    return gChosen ? gChosen->name : "none";
  gSelected = true;

  // The row to start at: a backend's name, "log:PATH", or by default the
  // first row.
  const char *env = getenv("VANTREL_INJECT");
  std::string request = env ? env : "";
  std::string logPath;
  size_t first = kBackendCount;
  for (size_t i = 0; i < kBackendCount; ++i)
    if (request == kBackends[i].name)
      first = i;
  if (first == kBackendCount && request.rfind("log:", 0) == 0) {
    logPath = request.substr(4);
    first = kLogRow;
  }
  if (first == kBackendCount) {
    if (!request.empty())
      PlatformTrace("inject: VANTREL_INJECT=%s is not known; choosing by default", request.c_str());
    first = 0;
  }

  for (size_t i = first; i < kBackendCount && !gChosen; ++i) {
    gChosen = kBackends[i].open(logPath);
    if (!gChosen)
      PlatformTrace("inject: backend %s failed, falling back", kBackends[i].name);
  }
  if (!gChosen && !logPath.empty()) {
    // The log file could not be opened: the log still goes to stdout.
    logPath.clear();
    gChosen = kBackends[kLogRow].open(logPath);
  }
  if (!gChosen) {
    PlatformTrace("inject: no backend could be opened; keys are dropped");
    return "none";
  }
  PlatformTrace("inject: using backend %s%s%s", gChosen->name, logPath.empty() ? "" : " to ",
                logPath.c_str());
  InjectSetBackend(gChosen);
  if (!gAtExitSet) {
    gAtExitSet = true;
    atexit(ShutdownAtExit);
  }
  return gChosen->name;
}

void InjectShutdown() {
  std::lock_guard<std::mutex> lock(gMutex);
  gSelected = false; // a later InjectSelectBackend chooses afresh
  if (!gChosen)
    return;
  if (InjectGetBackend() == gChosen)
    InjectSetBackend(nullptr);
  if (gChosen->close)
    gChosen->close(gChosen->self);
  gChosen = nullptr;
}

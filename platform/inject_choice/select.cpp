// Choosing the injection backend (see inject/select_chain.h): the table of
// backends, the walk along it, and the process-wide choice made from the
// environment. The one file that includes the backends: they know only the
// injection interface (platform/inject/) and the key maps they share
// (platform/keymaps/), never one another.
#include "platform/core/counted_thread.h"
#include "platform/inject.h"
#include "platform/inject/chosen.h"
#include "platform/inject/select_chain.h"
#include "platform/log/log_backend.h"
#include "platform/portal/portal_backend.h"
#include "platform/trace.h"
#include "platform/uinput/uinput_backend.h"
#if VANTREL_WAYLAND
#include "platform/wayland/wayland_backend.h"
#endif
#include "platform/xtest/xtest_backend.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace {

struct SelectContext {
  const InjectSession &session;
  const InjectOpeners &openers;
  const std::string &logPath;
  bool named; // this row is the one VANTREL_INJECT named
};

struct InjectBackend {
  const char *name; // as VANTREL_INJECT names it
  // Opens the backend: its operations (close among them), or nullptr with
  // why set to the reason it cannot work.
  const InjectOps *(*open)(const SelectContext &ctx, std::string &why);
  // Whose windows its keys reach in the session.
  InjectReach (*reach)(const InjectSession &session);
};

InjectReach ReachesWindows(const InjectSession &) { return InjectReach::kWindows; }
InjectReach ReachesNowhere(const InjectSession &) { return InjectReach::kNowhere; }
InjectReach XTestReach(const InjectSession &session) {
  return session.Wayland() ? InjectReach::kXwaylandOnly : InjectReach::kWindows;
}

const InjectOps *OpenWaylandRow(const SelectContext &ctx, std::string &why) {
  return ctx.openers.wayland(ctx.session, why);
}

const InjectOps *OpenPortalRow(const SelectContext &ctx, std::string &why) {
  // The portal asks the person before it types; outside a Wayland session
  // the X11 way needs no asking.
  if (!ctx.session.Wayland() && !ctx.named) {
    why = "this is not a Wayland session (VANTREL_INJECT=portal uses it all the same)";
    return nullptr;
  }
  if (!ctx.openers.portal) {
    why = "it cannot be opened here";
    return nullptr;
  }
  return ctx.openers.portal(why);
}

const InjectOps *OpenUinputRow(const SelectContext &ctx, std::string &why) {
  return ctx.openers.uinput(why);
}

const InjectOps *OpenXTestRow(const SelectContext &ctx, std::string &why) {
  if (ctx.session.display.empty()) {
    why = "DISPLAY is not set";
    return nullptr;
  }
  // Under Wayland, X11 keys reach only the programs running under Xwayland:
  // typing there by default would lose every key meant for a native window.
  if (ctx.session.Wayland() && !ctx.named) {
    why = "this is a Wayland session, where X11 keys reach only Xwayland's windows "
          "(VANTREL_INJECT=xtest uses it all the same)";
    return nullptr;
  }
  return ctx.openers.xtest(ctx.session.display.c_str(), why);
}

const InjectOps *OpenLogRow(const SelectContext &ctx, std::string &why) {
  return ctx.openers.log(ctx.logPath, why);
}

constexpr InjectBackend kBackends[] = {
    {"wayland", OpenWaylandRow, ReachesWindows},
    {"portal", OpenPortalRow, ReachesWindows},
    {"uinput", OpenUinputRow, ReachesWindows},
    {"xtest", OpenXTestRow, XTestReach},
    {"log", OpenLogRow, ReachesNowhere}, // last: it can always write to stdout
};
constexpr size_t kBackendCount = sizeof kBackends / sizeof kBackends[0];
constexpr size_t kLogRow = kBackendCount - 1;
static_assert(std::string_view(kBackends[kLogRow].name) == "log");

// The real openers.
const InjectOps *RealWayland(const InjectSession &session, std::string &why) {
  if (session.waylandDisplay.empty()) {
    why = "WAYLAND_DISPLAY is not set";
    return nullptr;
  }
#if VANTREL_WAYLAND
  return WaylandInjectOpen(&why);
#else
  why = "this build has no client of the Wayland virtual-keyboard protocol";
  return nullptr;
#endif
}
const InjectOps *RealPortal(std::string &why) { return PortalInjectOpen(&why); }
const InjectOps *RealUinput(std::string &why) { return UinputInjectOpen(nullptr, &why); }
const InjectOps *RealXTest(const char *display, std::string &why) {
  return XTestInjectOpen(display, &why);
}
const InjectOps *RealLog(const std::string &path, std::string &why) {
  const InjectOps *ops = LogInjectOpen(path.c_str());
  if (!ops)
    why = "the log file " + path + " cannot be opened";
  return ops;
}

std::mutex gInjectMutex;
bool gSelected = false;
bool gAtExitSet = false;
const InjectOps *gChosen = nullptr;
// Written under gInjectMutex, read without it: the window asks for them
// while a slow choice holds the mutex, and must not wait for the choice.
std::atomic<InjectReach> gReach{InjectReach::kWindows};
std::atomic<bool> gNamed{false};

// The thread of InjectSelectBackendInBackground while one is under way or
// not yet joined.
std::mutex gChooserMutex;
std::thread gChooser;

void ShutdownAtExit() { InjectShutdown(); }

// Ends the process's injection at its normal exit (once registered). Called
// with gInjectMutex held.
void ShutdownAtExitOnce() {
  if (!gAtExitSet) {
    gAtExitSet = true;
    atexit(ShutdownAtExit);
  }
}

std::string Env(const char *name) {
  const char *v = getenv(name);
  return v ? v : "";
}

} // namespace

bool InjectSession::Wayland() const {
  return !waylandDisplay.empty() || sessionType == "wayland";
}

InjectSession InjectSessionFromEnvironment() {
  return InjectSession{Env("VANTREL_INJECT"), Env("DISPLAY"), Env("WAYLAND_DISPLAY"),
                       Env("XDG_SESSION_TYPE")};
}

const InjectOpeners &RealInjectOpeners() {
  static const InjectOpeners openers{RealWayland, RealUinput, RealXTest, RealLog,
                                              RealPortal};
  return openers;
}

InjectChoice ChooseInjectBackend(const InjectSession &session, const InjectOpeners &openers) {
  InjectChoice choice;
  // The row to start at: a backend's name, "log:PATH", or by default the
  // first row.
  const std::string &request = session.request;
  std::string logPath;
  size_t first = kBackendCount;
  for (size_t i = 0; i < kBackendCount; ++i)
    if (request == kBackends[i].name)
      first = i;
  if (first == kBackendCount && request.rfind("log:", 0) == 0) {
    logPath = request.substr(4);
    first = kLogRow;
  }
  const bool named = first != kBackendCount;
  if (!named) {
    if (!request.empty()) {
      PlatformTrace("inject: VANTREL_INJECT=%s is not known; choosing by default", request.c_str());
      fprintf(stderr,
              "vantrel: VANTREL_INJECT=%s is not known (wayland, portal, uinput, xtest, log, "
              "log:PATH); "
              "choosing by default\n",
              request.c_str());
    }
    first = 0;
  }
  PlatformTrace("inject: session: %s, DISPLAY=%s, WAYLAND_DISPLAY=%s",
                session.Wayland() ? "Wayland" : "not Wayland", session.display.c_str(),
                session.waylandDisplay.c_str());

  bool namedFailed = false;
  for (size_t i = first; i < kBackendCount && !choice.ops; ++i) {
    std::string why;
    SelectContext ctx{session, openers, logPath, named && i == first};
    const InjectOps *ops = kBackends[i].open(ctx, why);
    if (ops) {
      choice.ops = ops;
      choice.reach = kBackends[i].reach(session);
      choice.named = ctx.named;
      break;
    }
    if (why.empty())
      why = "it cannot be opened";
    PlatformTrace("inject: backend %s declined: %s; falling back", kBackends[i].name, why.c_str());
    if (ctx.named) {
      namedFailed = true;
      fprintf(stderr, "vantrel: VANTREL_INJECT=%s cannot work: %s\n", request.c_str(),
              why.c_str());
    }
  }
  if (!choice.ops && !logPath.empty()) {
    // The log file could not be opened: the log still goes to stdout.
    logPath.clear();
    std::string why;
    SelectContext ctx{session, openers, logPath, false};
    choice.ops = kBackends[kLogRow].open(ctx, why);
  }
  if (!choice.ops) {
    PlatformError("inject: no way to type keys: they are dropped (no backend could be opened)");
    return choice;
  }
  choice.logPath = logPath;
  PlatformTrace("inject: using backend %s%s%s", choice.ops->name, logPath.empty() ? "" : " to ",
                logPath.c_str());
  if (choice.reach != InjectReach::kWindows)
    PlatformTrace("inject: keys typed through %s reach %s", choice.ops->name,
                  choice.reach == InjectReach::kNowhere ? "no window"
                                                        : "only X11 programs under Xwayland");
  if (namedFailed)
    fprintf(stderr, "vantrel: typing through %s instead\n", choice.ops->name);
  return choice;
}

const char *InjectSelectBackend() {
  std::lock_guard<std::mutex> lock(gInjectMutex);
  if (gSelected)
    return gChosen ? gChosen->name : "none";
  gSelected = true;
  InjectChoice choice = ChooseInjectBackend(InjectSessionFromEnvironment(), RealInjectOpeners());
  gChosen = choice.ops;
  gReach = choice.ops ? choice.reach : InjectReach::kNowhere;
  gNamed = choice.named;
  if (!gChosen)
    return "none";
  InjectInstallChosen(gChosen);
  ShutdownAtExitOnce();
  return gChosen->name;
}

void InjectSelectBackendInBackground(void (*chosen)(const char *name)) {
  std::lock_guard<std::mutex> lock(gChooserMutex);
  if (gChooser.joinable())
    return;
  {
    // A thread still running at exit would end the process badly: the
    // exit's handler waits for it.
    std::lock_guard<std::mutex> injectLock(gInjectMutex);
    ShutdownAtExitOnce();
  }
  InjectNoteChoosing(true);
  PlatformTrace("inject: choosing the way to type keys beside the start-up");
  gChooser = StartCountedThread([chosen] {
    const char *name = InjectSelectBackend();
    InjectNoteChoosing(false);
    if (chosen)
      chosen(name);
  });
}

void InjectWaitForBackend() {
  std::thread chooser;
  {
    std::lock_guard<std::mutex> lock(gChooserMutex);
    chooser = std::move(gChooser);
  }
  if (chooser.joinable())
    chooser.join();
}

InjectReach InjectBackendReach() { return gReach.load(); }

// gNamed is set only with a choice and cleared with it.
bool InjectBackendNamed() { return gNamed.load(); }

void InjectShutdown() {
  // A choice under way installs its backend first; then it is closed here.
  InjectWaitForBackend();
  std::lock_guard<std::mutex> lock(gInjectMutex);
  gSelected = false; // a later InjectSelectBackend chooses afresh
  gReach = InjectReach::kWindows;
  gNamed = false;
  InjectCloseChosen(gChosen);
  gChosen = nullptr;
}

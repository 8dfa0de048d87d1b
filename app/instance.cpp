#include "app/instance.h"

#include "common/globals.h"
#include "common/messages.h"
#include "link/link_controller.h"
#include "platform/qt_app.h"
#include "platform/single_instance.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "resources/resource_ids.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

const char kQuitRequest[] = "quit";

// What the main window knows of the link, for connect requests.
enum class LinkView { NotReady, ReadyIdle, Busy };
LinkView gLinkView = LinkView::NotReady;
bool gConnectPending = false;
bool gConnectAtStart = false;

// One instance per settings database: a sandbox with its own database (as
// the run script and the tests make) is its own instance and never hands
// its launches to the user's real one.
std::string InstanceName() {
  const char *db = getenv("VANTREL_REGISTRY");
  if (!db || !*db)
    return "";
  uint64_t hash = 1469598103934665603ull; // FNV-1a
  for (const char *p = db; *p; ++p)
    hash = (hash ^ static_cast<unsigned char>(*p)) * 1099511628211ull;
  char name[64];
  // The platform keeps it in the user's private runtime folder.
  snprintf(name, sizeof name, "vantrel-instance-%u-%016llx", static_cast<unsigned>(getuid()),
           static_cast<unsigned long long>(hash));
  return name;
}

void PostToggle() {
  HWND typingWnd = AppGlobals.link ? AppGlobals.link->typingWnd : nullptr;
  // Idle and no attempt under way (an automatic port search stays in the
  // idle state between its attempts, with the request flag set).
  if (!typingWnd || AppGlobals.linkState.load() != LINK_IDLE ||
      AppGlobals.connectRequested.load() != 0) {
    NKDbgPrintfW(u"Connect request dropped: the link is busy\r\n");
    return;
  }
  NKDbgPrintfW(u"Connecting as asked at launch\r\n");
  gLinkView = LinkView::Busy;
  PostMessageW(typingWnd, WM_TOGGLE_CONNECTION, 0, 0);
}

bool Claim(const char *request) {
  const std::string name = InstanceName();
  return name.empty() ? SingleInstanceClaim(request)
                      : SingleInstanceClaimNamed(name.c_str(), request);
}

void OnLaunchRequest(const char *request, void *) {
  if (strcmp(request, SINGLE_INSTANCE_CONNECT) == 0) {
    RequestConnect();
    return;
  }
  HWND main = AppGlobals.mainWindow;
  if (!main)
    return;
  if (strcmp(request, kQuitRequest) == 0) {
    NKDbgPrintfW(u"Quitting as a new launch asked\r\n");
    PostMessageW(main, WM_COMMAND, kCommandQuit, 0);
    return;
  }
  NKDbgPrintfW(u"Brought forward by a new launch\r\n");
  SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(main) | 1u));
  ShowWindow(main, SW_SHOW);
}

} // namespace

bool ClaimInstance() {
  if (!VantrelQtActive())
    return true;
  const char *request = gConnectAtStart ? SINGLE_INSTANCE_CONNECT : SINGLE_INSTANCE_SHOW;
  const bool first = Claim(request);
  if (first)
    SetSingleInstanceHandler(OnLaunchRequest, nullptr);
  else
    NKDbgPrintfW(u"Vantrel is already running: handed over the launch\r\n");
  return first;
}

bool AskRunningInstanceToQuit() {
  if (!VantrelQtActive() || Claim(kQuitRequest)) {
    ReleaseInstance();
    return false;
  }
  return true;
}

void ReleaseInstance() {
  if (VantrelQtActive())
    SingleInstanceRelease();
}

void RequestConnectAtStart() {
  gConnectAtStart = true;
  gConnectPending = true;
}

void RequestConnect() {
  switch (gLinkView) {
  case LinkView::ReadyIdle:
    gConnectPending = false;
    PostToggle();
    break;
  case LinkView::NotReady:
    gConnectPending = true;
    break;
  case LinkView::Busy:
    NKDbgPrintfW(u"Connect request ignored: already connecting or connected\r\n");
    break;
  }
}

void ConnectRequestOnLinkPhase(unsigned buttonState, long phase) {
  if (phase == 2) {
    gLinkView = LinkView::Busy;
    gConnectPending = false;
  } else if (phase == 0) {
    gLinkView = buttonState == 1 ? LinkView::ReadyIdle : LinkView::NotReady;
    if (gLinkView == LinkView::ReadyIdle && gConnectPending) {
      gConnectPending = false;
      PostToggle();
    }
  }
}

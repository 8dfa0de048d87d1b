// Connecting the keyboard again after a resume (see resume_reconnect.h).
#include "link/resume_reconnect.h"

#include "common/globals.h"
#include "common/messages.h"
#include "link/link_controller.h"
#include "platform/trace.h"
#include "platform/window.h"

namespace {

bool LinkConnected() {
  int32_t state = AppGlobals.linkState.load();
  return state == LINK_TYPING || state == LINK_CALIBRATING;
}

void OnSleep() {
  // A wish from an earlier resume not yet carried out is kept through this
  // sleep: that link is connected again after the next resume.
  const bool pending = AppGlobals.reconnectAfterResume.exchange(0) == 1;
  const bool connected = LinkConnected() || pending;
  AppGlobals.connectedAtSleep.store(connected ? 1 : 0);
  NKDbgPrintfW(connected ? u"Sleep: the keyboard is connected\r\n"
                         : u"Sleep: the keyboard is not connected\r\n");
}

void OnResume(HWND typingWnd) {
  if (AppGlobals.connectedAtSleep.exchange(0) == 0) {
    NKDbgPrintfW(u"Resumed: the keyboard was not connected before the sleep\r\n");
    return;
  }
  // The wish is set before the state is looked at, so that a disconnection
  // ending on the reader thread meanwhile either finds it or leaves an idle
  // link that is connected from here: exactly one side takes it.
  AppGlobals.reconnectAfterResume.store(1);
  const int32_t state = AppGlobals.linkState.load();
  if (state == LINK_IDLE && AppGlobals.connectRequested.load() == 0) {
    if (AppGlobals.reconnectAfterResume.exchange(0) == 1) {
      NKDbgPrintfW(u"Resumed: connecting the keyboard again\r\n");
      RequestConnection();
    }
    return;
  }
  if (state == LINK_IDLE || state == LINK_SYNCING || state == LINK_HANDSHAKE) {
    AppGlobals.reconnectAfterResume.store(0);
    NKDbgPrintfW(u"Resumed: a connection is under way already\r\n");
    return;
  }
  // Still looking connected, or closing: connected again once it has closed.
  NKDbgPrintfW(u"Resumed: the keyboard is connected again once its link has closed\r\n");
  SetTimer(typingWnd, kResumeReconnectTimer, kResumeReconnectWindowMs, nullptr);
}

} // namespace

void OnMachineSleep(HWND typingWnd, bool sleeping) {
  if (sleeping)
    OnSleep();
  else
    OnResume(typingWnd);
}

void ForgetResumeReconnect() {
  AppGlobals.connectedAtSleep.store(0);
  AppGlobals.reconnectAfterResume.store(0);
}

void OnResumeReconnectWindowEnd(HWND typingWnd) {
  KillTimer(typingWnd, kResumeReconnectTimer);
  if (AppGlobals.reconnectAfterResume.exchange(0) == 1)
    NKDbgPrintfW(u"The link outlived the sleep: it is not connected again\r\n");
}

bool ReconnectAfterResume() {
  if (AppGlobals.linkStopping.load() || AppGlobals.reconnectAfterResume.exchange(0) == 0)
    return false;
  NKDbgPrintfW(u"Connecting the keyboard again after the resume\r\n");
  RequestConnection();
  return true;
}

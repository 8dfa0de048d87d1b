#include "link/link_state.h"

#include "common/globals.h"
#include "common/messages.h"
#include "platform/serial.h"

bool AdvanceLinkState(int32_t from, int32_t to) {
  if (!AppGlobals.linkState.compare_exchange_strong(from, to))
    return false;
  WakeLinkReader();
  return true;
}

void WakeLinkReader() {
  HANDLE port = AppGlobals.portHandle.load();
  if (port != INVALID_HANDLE_VALUE)
    SetCommMask(port, EV_RXCHAR);
}

void ShowAttemptStatus(const WCHAR *text) {
  WriteStatusText(text);
  PostToWindow(AppGlobals.mainWindow, WM_STATUS_TEXT_CHANGED, 1);
}

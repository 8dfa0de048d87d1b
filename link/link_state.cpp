#include "link/link_state.h"

#include "common/globals.h"
#include "common/messages.h"

bool AdvanceLinkState(int32_t from, int32_t to) {
  return AppGlobals.linkState.compare_exchange_strong(from, to);
}

void ShowAttemptStatus(const WCHAR *text) {
  WriteStatusText(text);
  PostToWindow(AppGlobals.mainWindow, WM_STATUS_TEXT_CHANGED, 1);
}

#include "page_driver.h"

#include "common/globals.h"
#include "platform/controls.h"

namespace {

constexpr UINT kRunAction = WM_APP + 40;

std::function<void(HWND)> gAction;
HWND gHelper = nullptr;

LRESULT HelperProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != kRunAction)
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  HWND dialog = AppGlobals.openDialog.load();
  std::function<void(HWND)> action = std::move(gAction);
  gAction = nullptr;
  if (action)
    action(dialog);
  if (IsWindow(dialog) && IsWindowVisible(dialog))
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
  return 0;
}

HWND Helper() {
  if (gHelper && IsWindow(gHelper))
    return gHelper;
  static bool registered = [] {
    WNDCLASSW cls = {};
    cls.lpfnWndProc = HelperProc;
    cls.lpszClassName = u"PageDriver";
    return RegisterClassW(&cls) != 0;
  }();
  (void)registered;
  gHelper = CreateWindowExW(0, u"PageDriver", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                            nullptr);
  return gHelper;
}

} // namespace

void WhenOpen(std::function<void(HWND dialog)> action) {
  gAction = std::move(action);
  PostMessageW(Helper(), kRunAction, 0, 0);
}

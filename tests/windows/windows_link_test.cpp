// The link's hidden window under the real window system: the link
// controller is made and ended as the program does.
#include "common/globals.h"
#include "link/link_controller.h"
#include "platform/threads.h"
#include "platform/window.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowsLink, ControllerWindowAndReaderThreadStartAndEnd) {
  // No layout file here: the reader's message about it is not shown, and
  // the reader ends at once, whenever it is asked to stop.
  EndUserInterface();
  WNDCLASSW cls = {};
  cls.lpfnWndProc = DefWindowProcW;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = u"VantrelLinkTestMain";
  RegisterClassW(&cls);
  HWND main = CreateWindowExW(0, u"VantrelLinkTestMain", u"", 0, 0, 0, 10, 10, nullptr, nullptr,
                              cls.hInstance, nullptr);
  ASSERT_NE(main, nullptr);
  AppGlobals.mainWindow = main;
  static LinkController link;
  ASSERT_EQ(CreateLinkController(&link, cls.hInstance, main), 0) << GetLastError();
  EXPECT_NE(link.typingWnd, nullptr);
  HANDLE reader = StopLink(&link);
  ASSERT_NE(reader, nullptr);
  DWORD waited = WAIT_TIMEOUT;
  for (int i = 0; i < 600 && waited != WAIT_OBJECT_0; ++i) {
    waited = MsgWaitForMultipleObjects(1, &reader, FALSE, 100, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
  }
  EXPECT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0));
  DestroyWindow(main);
  AppGlobals.mainWindow = nullptr;
}

} // namespace

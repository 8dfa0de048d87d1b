// Window geometry and painting in the core alone (no toolkit linked): the
// rectangles a window is made and moved with, children placed inside their
// parents, WM_SIZE and WM_PAINT only when something changed, and a toolkit
// attached through hooks that applies moves and repaints and reports where
// its widgets ended up.
#include "platform/core/window_toolkit.h"
#include "platform/threads.h"
#include "platform/window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

struct Heard {
  HWND hwnd;
  UINT message;
  LPARAM lParam;
  RECT client; // GetClientRect as the procedure saw it then
};
std::vector<Heard> gHeard;

LRESULT CALLBACK_Geometry(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_SIZE || msg == WM_PAINT) {
    RECT client{};
    GetClientRect(hwnd, &client);
    gHeard.push_back(Heard{hwnd, msg, l, client});
  }
  return DefWindowProcW(hwnd, msg, w, l);
}

bool Same(const RECT &a, const RECT &b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
#define EXPECT_RECT(r, l, t, ri, b) EXPECT_TRUE(Same(r, RECT{l, t, ri, b})) << (r).left << "," << (r).top << "," << (r).right << "," << (r).bottom

class GeometryTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    WNDCLASSW cls{};
    cls.lpfnWndProc = CALLBACK_Geometry;
    cls.lpszClassName = u"GeometryWnd";
    RegisterClassW(&cls);
  }
  void SetUp() override { gHeard.clear(); }
  void TearDown() override {
    SetWindowSystemHooks(nullptr);
    for (HWND hwnd : made_)
      DestroyWindow(hwnd);
  }
  HWND Make(int x, int y, int w, int h, HWND parent = nullptr, DWORD style = 0) {
    HWND hwnd = CreateWindowExW(0, u"GeometryWnd", u"g", style, x, y, w, h, parent, nullptr, nullptr,
                                nullptr);
    made_.push_back(hwnd);
    return hwnd;
  }
  size_t Count(HWND hwnd, UINT message) {
    size_t n = 0;
    for (const Heard &h : gHeard)
      n += h.hwnd == hwnd && h.message == message;
    return n;
  }
  std::vector<HWND> made_;
};

TEST_F(GeometryTest, RectanglesFollowCreationMovesAndParents) {
  HWND top = Make(10, 20, 200, 100);
  HWND child = Make(5, 6, 50, 40, top, WS_CHILD);
  HWND inner = Make(1, 2, 3, 4, child, WS_CHILD);
  HWND owned = Make(30, 40, 60, 70, top); // owned, not a child: its own screen place
  RECT r;
  ASSERT_TRUE(GetClientRect(top, &r));
  EXPECT_RECT(r, 0, 0, 200, 100);
  ASSERT_TRUE(GetWindowRect(top, &r));
  EXPECT_RECT(r, 10, 20, 210, 120);
  ASSERT_TRUE(GetClientRect(child, &r));
  EXPECT_RECT(r, 0, 0, 50, 40);
  ASSERT_TRUE(GetWindowRect(child, &r));
  EXPECT_RECT(r, 15, 26, 65, 66);
  ASSERT_TRUE(GetWindowRect(inner, &r));
  EXPECT_RECT(r, 16, 28, 19, 32);
  ASSERT_TRUE(GetWindowRect(owned, &r));
  EXPECT_RECT(r, 30, 40, 90, 110);

  // Moving without resizing sends no WM_SIZE; children go along.
  EXPECT_TRUE(MoveWindow(top, 100, 50, 200, 100, TRUE));
  EXPECT_EQ(Count(top, WM_SIZE), 0u);
  GetWindowRect(inner, &r);
  EXPECT_RECT(r, 106, 58, 109, 62);
  GetWindowRect(owned, &r);
  EXPECT_RECT(r, 30, 40, 90, 110);

  // A new size is heard once, and the procedure already sees it then.
  EXPECT_TRUE(MoveWindow(child, 0, 0, 120, 80, FALSE));
  ASSERT_EQ(Count(child, WM_SIZE), 1u);
  EXPECT_EQ(gHeard.back().lParam, MAKELONG(120, 80));
  EXPECT_RECT(gHeard.back().client, 0, 0, 120, 80);
  // Negative sizes count as empty.
  EXPECT_TRUE(MoveWindow(child, 0, 0, -5, -1, FALSE));
  EXPECT_EQ(gHeard.back().lParam, MAKELONG(0, 0));
  GetClientRect(child, &r);
  EXPECT_RECT(r, 0, 0, 0, 0);

  // Default sizes: a portrait top-level window, an empty child.
  HWND portrait = Make(CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
  GetWindowRect(portrait, &r);
  EXPECT_RECT(r, 0, 0, 480, 640);
  HWND empty = Make(CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, portrait, WS_CHILD);
  GetClientRect(empty, &r);
  EXPECT_RECT(r, 0, 0, 0, 0);
}

TEST_F(GeometryTest, UnknownWindowsFail) {
  HWND gone = Make(0, 0, 10, 10);
  DestroyWindow(gone);
  RECT r{1, 2, 3, 4};
  SetLastError(0);
  EXPECT_FALSE(GetClientRect(gone, &r));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_RECT(r, 0, 0, 0, 0);
  r = RECT{1, 2, 3, 4};
  EXPECT_FALSE(GetWindowRect(gone, &r));
  EXPECT_RECT(r, 0, 0, 0, 0);
  SetLastError(0);
  EXPECT_FALSE(MoveWindow(gone, 0, 0, 5, 5, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(InvalidateRect(gone, nullptr, TRUE));
  EXPECT_FALSE(UpdateWindow(gone));
  EXPECT_TRUE(gHeard.empty());
  HWND live = Make(0, 0, 10, 10);
  EXPECT_FALSE(GetClientRect(live, nullptr));
  EXPECT_FALSE(GetWindowRect(live, nullptr));
}

TEST_F(GeometryTest, UpdatePaintsOnlyWhatWasInvalidatedOnce) {
  HWND hwnd = Make(0, 0, 40, 30);
  EXPECT_TRUE(UpdateWindow(hwnd));
  EXPECT_EQ(Count(hwnd, WM_PAINT), 0u); // nothing invalid yet
  EXPECT_TRUE(InvalidateRect(hwnd, nullptr, TRUE));
  RECT part{1, 1, 5, 5};
  EXPECT_TRUE(InvalidateRect(hwnd, &part, FALSE));
  EXPECT_TRUE(UpdateWindow(hwnd));
  EXPECT_EQ(Count(hwnd, WM_PAINT), 1u);
  EXPECT_TRUE(UpdateWindow(hwnd));
  EXPECT_EQ(Count(hwnd, WM_PAINT), 1u);
  // Marked from another thread, painted by the window's own.
  std::thread([hwnd] { InvalidateRect(hwnd, nullptr, TRUE); }).join();
  EXPECT_TRUE(UpdateWindow(hwnd));
  EXPECT_EQ(Count(hwnd, WM_PAINT), 2u);
}

// A toolkit double: it keeps what the core asked of it and shows windows in
// `shown` only; those it clips to 100 x 100, as a parent might.
struct FakeToolkit {
  std::vector<HWND> shown;
  std::vector<RECT> moves, invalidated;
  std::vector<HWND> updates;
  bool Shows(HWND hwnd) const {
    for (HWND h : shown)
      if (h == hwnd)
        return true;
    return false;
  }
};
FakeToolkit gToolkit;

WindowSystemHooks FakeHooks() {
  WindowSystemHooks hooks{};
  hooks.move = [](HWND hwnd, int x, int y, int w, int h, BOOL, void *) -> BOOL {
    gToolkit.moves.push_back(RECT{x, y, x + w, y + h});
    if (!gToolkit.Shows(hwnd))
      return FALSE;
    wincore::RecordWindowRect(hwnd, RECT{x, y, x + std::min(w, 100), y + std::min(h, 100)});
    return TRUE;
  };
  hooks.invalidate = [](HWND, const RECT *rect, void *) {
    gToolkit.invalidated.push_back(rect ? *rect : RECT{-1, -1, -1, -1});
  };
  hooks.update = [](HWND hwnd, void *) -> BOOL {
    gToolkit.updates.push_back(hwnd);
    return gToolkit.Shows(hwnd);
  };
  return hooks;
}

TEST_F(GeometryTest, ToolkitHooksApplyChangesAndReportsAreBelieved) {
  gToolkit = FakeToolkit{};
  WindowSystemHooks hooks = FakeHooks();
  SetWindowSystemHooks(&hooks);
  HWND top = Make(0, 0, 300, 200);
  HWND child = Make(10, 10, 50, 50, top, WS_CHILD);
  HWND record = Make(0, 0, 20, 20); // no widget shows it
  gToolkit.shown = {top, child};

  // A move the toolkit applies: its report stands, WM_SIZE is its to send.
  EXPECT_TRUE(MoveWindow(child, 20, 30, 150, 60, TRUE));
  ASSERT_EQ(gToolkit.moves.size(), 1u);
  EXPECT_RECT(gToolkit.moves[0], 20, 30, 170, 90);
  RECT r;
  GetClientRect(child, &r);
  EXPECT_RECT(r, 0, 0, 100, 60);
  EXPECT_EQ(Count(child, WM_SIZE), 0u);
  // A window it does not show: the core sends WM_SIZE itself.
  EXPECT_TRUE(MoveWindow(record, 0, 0, 25, 20, FALSE));
  EXPECT_EQ(Count(record, WM_SIZE), 1u);

  // The window manager resizes and moves the top-level window: the core
  // believes the report, sends nothing, and the child goes along.
  wincore::RecordWindowRect(top, RECT{40, 50, 440, 350});
  GetClientRect(top, &r);
  EXPECT_RECT(r, 0, 0, 400, 300);
  GetWindowRect(child, &r);
  EXPECT_RECT(r, 60, 80, 160, 140);
  EXPECT_TRUE(gHeard.size() == 1u); // only the record window's WM_SIZE

  // Invalidation reaches the toolkit with the area; an update of a window
  // it shows is its own, and its paint makes the window valid again.
  RECT part{2, 3, 4, 5};
  EXPECT_TRUE(InvalidateRect(top, &part, TRUE));
  EXPECT_TRUE(InvalidateRect(top, nullptr, TRUE));
  ASSERT_EQ(gToolkit.invalidated.size(), 2u);
  EXPECT_RECT(gToolkit.invalidated[0], 2, 3, 4, 5);
  EXPECT_RECT(gToolkit.invalidated[1], -1, -1, -1, -1);
  EXPECT_TRUE(UpdateWindow(top));
  EXPECT_EQ(gToolkit.updates, std::vector<HWND>{top});
  EXPECT_EQ(Count(top, WM_PAINT), 0u);
  wincore::WindowPainted(top);
  gToolkit.shown.clear(); // the widget is gone: the core paints what is still invalid
  EXPECT_TRUE(UpdateWindow(top));
  EXPECT_EQ(Count(top, WM_PAINT), 0u);
  EXPECT_TRUE(InvalidateRect(record, nullptr, TRUE));
  EXPECT_TRUE(UpdateWindow(record));
  EXPECT_EQ(Count(record, WM_PAINT), 1u);
}

} // namespace

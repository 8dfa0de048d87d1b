#include "tests/support/link_stand_in.h"

#include "common/globals.h"
#include "link/link_controller.h"

#include <map>

namespace testsupport {

namespace {

std::map<HWND, LinkStandIn *> &StandIns() {
  static std::map<HWND, LinkStandIn *> standIns;
  return standIns;
}

} // namespace

LRESULT LinkStandIn::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto it = StandIns().find(hwnd);
  if (msg < WM_APP || it == StandIns().end())
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  LinkStandIn *self = it->second;
  MSG pending;
  const bool closeQueued = PeekMessageW(&pending, nullptr, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) != 0;
  self->messages_.push_back({msg, wParam, lParam, closeQueued});
  if (self->react_)
    self->react_(msg, wParam, lParam);
  return 0;
}

LinkStandIn::LinkStandIn(Reaction react)
    : link_(std::make_unique<LinkController>()), react_(std::move(react)) {
  static const bool registered = [] {
    WNDCLASSW cls = {};
    cls.lpfnWndProc = &LinkStandIn::Proc;
    cls.lpszClassName = u"LinkStandIn";
    return RegisterClassW(&cls) != 0;
  }();
  (void)registered;
  hwnd_ =
      CreateWindowExW(0, u"LinkStandIn", u"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  StandIns()[hwnd_] = this;
  link_->typingWnd = hwnd_;
  AppGlobals.link = link_.get();
  AppGlobals.typingWnd.store(hwnd_);
}

LinkStandIn::~LinkStandIn() {
  StandIns().erase(hwnd_);
  DestroyWindow(hwnd_);
  if (AppGlobals.link == link_.get())
    AppGlobals.link = nullptr;
  HWND expected = hwnd_;
  AppGlobals.typingWnd.compare_exchange_strong(expected, nullptr);
}

size_t LinkStandIn::Count(UINT message) const {
  size_t n = 0;
  for (const LinkMessage &m : messages_)
    n += m.message == message;
  return n;
}

} // namespace testsupport

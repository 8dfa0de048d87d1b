// A window standing in for the link controller (TypingWnd) in tests of the
// shell and the dialogs: it records the private messages it gets and lets
// the test react to them as the link would. Nothing here needs the desktop
// toolkit; the window lives on the thread that made the object.
#pragma once

#include "platform/window.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

struct LinkController;

namespace testsupport {

struct LinkMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool closeQueued; // a WM_CLOSE was already waiting when this arrived
};

class LinkStandIn {
public:
  // Called for every recorded message, after it is recorded.
  using Reaction = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;

  // Creates the window and installs it as AppGlobals.typingWnd and, through
  // a LinkController the object owns, as AppGlobals.link.
  explicit LinkStandIn(Reaction react = {});
  // Destroys the window and clears AppGlobals.typingWnd and AppGlobals.link.
  ~LinkStandIn();
  LinkStandIn(const LinkStandIn &) = delete;
  LinkStandIn &operator=(const LinkStandIn &) = delete;

  HWND hwnd() const { return hwnd_; }
  // The messages of WM_APP and above, in order of arrival (the reference
  // stays valid while the object lives; the next message may add to it).
  const std::vector<LinkMessage> &Messages() const { return messages_; }
  // How many `message` messages arrived.
  size_t Count(UINT message) const;
  void Clear() { messages_.clear(); }

private:
  static LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  std::unique_ptr<LinkController> link_;
  Reaction react_;
  std::vector<LinkMessage> messages_;
};

} // namespace testsupport

// Telling the person when keys cannot reach their windows (see keys_reach.h).
#include "app/keys_reach.h"
#include "platform/trace.h"

#include <atomic>

namespace {

// Touched by the UI thread only; atomic so that a painting test may read.
std::atomic<bool> gTold{false};
std::atomic<bool> gConnected{false};

constexpr const WCHAR *kNowhereStatus = u"Connected, but keys cannot reach your windows";
constexpr const WCHAR *kXwaylandStatus = u"Connected, but keys reach X11 programs only";

constexpr const WCHAR *kNowhereMessage =
    u"The keyboard is connected, but Vantrel has no way to type into this desktop: "
    u"the keys you type are not reaching any window.\n\n"
    u"What to do, any one of:\n"
    u"- let Vantrel create a virtual keyboard: install the udev rule "
    u"70-vantrel-uinput.rules from Vantrel's folder as its first lines say (any program of "
    u"your session can then type into your windows);\n"
    u"- log into an X11 session (\"GNOME on Xorg\", \"Plasma (X11)\") instead of Wayland;\n"
    u"- use a Wayland desktop whose compositor offers the virtual-keyboard protocol (sway, "
    u"Hyprland, river).\n\n"
    u"Then start Vantrel again.";
constexpr const WCHAR *kXwaylandMessage =
    u"The keyboard is connected, but Vantrel types through X11 (VANTREL_INJECT=xtest) in a "
    u"Wayland session: only programs running under Xwayland receive the keys, native "
    u"Wayland windows get nothing.\n\n"
    u"What to do, any one of:\n"
    u"- start Vantrel without VANTREL_INJECT, after installing the udev rule "
    u"70-vantrel-uinput.rules from Vantrel's folder as its first lines say (any program of "
    u"your session can then type into your windows);\n"
    u"- log into an X11 session (\"GNOME on Xorg\", \"Plasma (X11)\") instead of Wayland;\n"
    u"- on sway, Hyprland or river, start Vantrel without VANTREL_INJECT: it types through "
    u"the compositor's virtual keyboard.";

} // namespace

const WCHAR *KeysReachStatus(InjectReach reach, bool named, const WCHAR **message) {
  const WCHAR *status = nullptr, *text = nullptr;
  switch (reach) {
  case InjectReach::kWindows:
    break;
  case InjectReach::kXwaylandOnly:
    status = kXwaylandStatus;
    text = kXwaylandMessage;
    break;
  case InjectReach::kNowhere:
    // The log named on purpose (tests, trying Vantrel out) is no surprise.
    if (!named) {
      status = kNowhereStatus;
      text = kNowhereMessage;
    }
    break;
  }
  if (message)
    *message = text;
  return status;
}

const WCHAR *KeysReachOnLinkPhase(long phase, bool *tell) {
  const WCHAR *status = KeysReachStatus(InjectBackendReach(), InjectBackendNamed());
  gConnected = phase == 2;
  *tell = false;
  if (phase != 2 || !status)
    return nullptr;
  *tell = !gTold.exchange(true);
  return status;
}

void TellKeysCannotReach(HWND hwnd) {
  const WCHAR *message = nullptr;
  const WCHAR *status = KeysReachStatus(InjectBackendReach(), InjectBackendNamed(), &message);
  if (!status)
    return;
  NKDbgPrintfW(u"Keys cannot reach the windows: %s\r\n", status);
  MessageBoxW(hwnd, message, u"Vantrel", MB_OK | MB_ICONEXCLAMATION);
}

const WCHAR *KeysReachShownStatus() {
  if (!gConnected)
    return nullptr;
  return KeysReachStatus(InjectBackendReach(), InjectBackendNamed());
}

void ResetKeysReach() {
  gTold = false;
  gConnected = false;
}

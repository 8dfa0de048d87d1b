// Telling the person when keys cannot reach their windows (see keys_reach.h).
#include "app/keys_reach.h"
#include "app/install_dir.h"
#include "common/globals.h"
#include "common/ui_strings.h"
#include "platform/trace.h"

#include <atomic>
#include <initializer_list>
#include <string>

namespace {

// Touched by the UI thread only; atomic so that a painting test may read.
std::atomic<bool> gTold{false};
std::atomic<bool> gConnected{false};
// The desktop refused or ended the leave to type during this connection.
std::atomic<bool> gNotAllowed{false};
// Presses are being dropped: one of Vantrel's own windows is active.
std::atomic<bool> gKeptFromOwnWindows{false};

// Used when no language file is loaded (the texts come from it).
constexpr const WCHAR *kNowhereStatus = u"Connected, but keys cannot reach your windows";
constexpr const WCHAR *kNotAllowedStatus = u"Connected, but the desktop does not let Vantrel type";
constexpr const WCHAR *kXwaylandStatus = u"Connected, but keys reach X11 programs only";
constexpr const WCHAR *kKeptFromOwnWindowsStatus =
    u"Keys are not typed into Vantrel's own windows: click the window you want to type in.";

const WCHAR *Text(int id, const WCHAR *fallback) {
  const WCHAR *text = UiString(id);
  return text && *text ? text : fallback;
}

// Whether this is the system-wide install (the Debian package): its next
// step is the package that adds the virtual keyboard, not a file to copy.
bool PackageInstall() {
  const std::u16string system = SystemDataDir();
  return !system.empty() && std::u16string(AppGlobals.InstallDir) == system + u"\\";
}

// The message of kXwaylandOnly when no language file is loaded.
constexpr const WCHAR *kXwaylandWhy =
    u"The keyboard is connected, but Vantrel types through X11 (VANTREL_INJECT=xtest) in a "
    u"Wayland session: only programs running under Xwayland receive the keys, native "
    u"Wayland windows get nothing.";
constexpr const WCHAR *kNoInjectSettingStep =
    u"start Vantrel without VANTREL_INJECT: on GNOME and KDE Plasma it asks the desktop for "
    u"leave to type, on sway, Hyprland or river it types through the compositor's virtual "
    u"keyboard";
constexpr const WCHAR *kX11SessionStep =
    u"log into an X11 session (\"GNOME on Xorg\", \"Plasma (X11)\") instead of Wayland";

// why, then the steps as a list. Built on the UI thread; the text stays
// until the next message is built.
const WCHAR *Compose(int why, std::initializer_list<int> steps) {
  static std::u16string text;
  text = UiString(why);
  text += u"\n\n";
  text += UiText(kUiWhatToDo, u"What to do, any one of:");
  for (int step : steps) {
    text += u"\n- ";
    text += UiString(step);
  }
  return text.c_str();
}

// The same for kXwaylandOnly, whose texts may be missing from an older
// language file.
const WCHAR *ComposeXwayland() {
  static std::u16string text;
  text = UiText(kUiKeysXwaylandWhy, kXwaylandWhy);
  text += u"\n\n";
  text += UiText(kUiWhatToDo, u"What to do, any one of:");
  text += u"\n- ";
  text += UiText(kUiStepNoInjectSetting, kNoInjectSettingStep);
  text += u"\n- ";
  text += UiText(kUiStepX11Session, kX11SessionStep);
  return text.c_str();
}

int InstallStep() { return PackageInstall() ? kUiStepInstallPackage : kUiStepInstallRule; }

} // namespace

const WCHAR *KeysReachStatus(InjectReach reach, bool named, const WCHAR **message) {
  const WCHAR *status = nullptr, *text = nullptr;
  switch (reach) {
  case InjectReach::kWindows:
    break;
  case InjectReach::kXwaylandOnly:
    status = Text(kUiKeysXwaylandStatus, kXwaylandStatus);
    if (message)
      text = ComposeXwayland();
    break;
  case InjectReach::kNowhere:
    // The log named on purpose (tests, trying Vantrel out) is no surprise.
    if (!named) {
      status = Text(kUiKeysNowhereStatus, kNowhereStatus);
      if (message)
        text = Compose(kUiKeysNowhereWhy, {InstallStep(), kUiStepX11Session, kUiStepOtherDesktop});
    }
    break;
  }
  if (message)
    *message = text;
  return status;
}

const WCHAR *KeysReachOnLinkPhase(long phase, bool *tell) {
  const WCHAR *status = KeysReachStatus(InjectBackendReach(), InjectBackendNamed());
  // Each connection asks the desktop afresh.
  if (phase != 2)
    gNotAllowed = false;
  gKeptFromOwnWindows = false;
  gConnected = phase == 2;
  *tell = false;
  if (phase != 2)
    return nullptr;
  if (gNotAllowed) // told already, by its own message box
    return Text(kUiKeysNotAllowedStatus, kNotAllowedStatus);
  if (!status)
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
  // The most pressing: the person is typing at this moment.
  if (gKeptFromOwnWindows)
    return Text(kUiKeysKeptFromOwnWindows, kKeptFromOwnWindowsStatus);
  if (gNotAllowed)
    return Text(kUiKeysNotAllowedStatus, kNotAllowedStatus);
  return KeysReachStatus(InjectBackendReach(), InjectBackendNamed());
}

const WCHAR *KeysNotAllowedMessage() {
  return Compose(kUiKeysNotAllowedWhy, {kUiStepAllowRequest, InstallStep(), kUiStepX11Session});
}

void MarkKeysNotAllowed() { gNotAllowed = true; }

void TellKeysNotAllowed(HWND hwnd) {
  NKDbgPrintfW(u"Keys cannot reach the windows: the desktop does not allow typing\r\n");
  MessageBoxW(hwnd, KeysNotAllowedMessage(), u"Vantrel", MB_OK | MB_ICONEXCLAMATION);
}

void MarkKeysKeptFromOwnWindows(bool kept) { gKeptFromOwnWindows = kept; }

bool KeysReachConnected() { return gConnected; }

void ResetKeysReach() {
  gTold = false;
  gConnected = false;
  gNotAllowed = false;
  gKeptFromOwnWindows = false;
}

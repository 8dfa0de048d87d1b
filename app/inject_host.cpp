// The injection backends' host (see inject_host.h).
#include "app/inject_host.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "platform/inject.h"
#include "platform/text.h"
#include "platform/trace.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace {

constexpr const WCHAR *kTokenName = u"PortalRestoreToken";

// The main window once it exists, for the chooser's thread, which may run
// while the window is being made (AppGlobals.mainWindow is the UI thread's).
std::atomic<HWND> gMainWindow{nullptr};

// On a backend's thread: the main window tells the person. Before it
// exists (or without one) stderr does.
void Tell(InjectNotice notice) {
  HWND main = AppGlobals.mainWindow;
  if (main) {
    PostToWindow(main, WM_KEYS_NOT_ALLOWED, static_cast<WPARAM>(notice), 0);
    return;
  }
  fprintf(stderr, "vantrel: the desktop does not let Vantrel type: keys typed are dropped; "
                  "connect again and allow the desktop's request\n");
}

std::string LoadToken() {
  WCHAR text[kSettingTextUnits];
  if (!SettingsStore::ReadString(kTokenName, text))
    return "";
  text[kSettingTextUnits - 1] = 0;
  std::string token = Utf16ToUtf8(text);
  return token == "None" ? "" : token;
}

void SaveToken(const std::string &token) {
  SettingsStore::WriteString(kTokenName, Utf8ToUtf16(token.empty() ? "None" : token).c_str());
}

// On the reader thread: the main window shows a word while presses are
// dropped and takes it away when they go out again.
void KeysKept(bool kept) {
  PostToWindow(AppGlobals.mainWindow, WM_KEYS_KEPT_FROM_OWN_WINDOWS, kept ? 1 : 0, 0);
}

// On the chooser's thread, once the backend is installed.
void BackendChosen(const char *name) {
  NKDbgPrintfW(u"Typing keys through %s\r\n", Utf8ToUtf16(name ? name : "none").c_str());
  // Keys typed while one of Vantrel's own windows is active would work its
  // buttons and boxes (a Space would press Disconnect): they are dropped.
  // Keys that reach no window need no guard.
  InjectGuardOwnWindows(InjectBackendReach() != InjectReach::kNowhere);
  // A link connected before the choice shows what keeps keys from the
  // windows now. Without a window yet there is no link either: it starts
  // after the window and finds the choice made.
  PostToWindow(gMainWindow.load(), WM_KEYS_BACKEND_CHOSEN);
}

} // namespace

void InstallInjectHost() { InjectSetHost(InjectHost{Tell, LoadToken, SaveToken, KeysKept}); }

void InjectHostWindowMade(HWND mainWindow) { gMainWindow.store(mainWindow); }

void StartChoosingInjectBackend() {
  InjectGuardOwnWindows(true);
  InjectSelectBackendInBackground(BackendChosen);
}

// The injection backends' host (see inject_host.h).
#include "app/inject_host.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "platform/inject.h"
#include "platform/text.h"

#include <cstdio>
#include <string>

namespace {

constexpr const WCHAR *kTokenName = u"PortalRestoreToken";

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

} // namespace

void InstallInjectHost() { InjectSetHost(InjectHost{Tell, LoadToken, SaveToken}); }

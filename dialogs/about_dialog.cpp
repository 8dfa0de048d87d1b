// The About and About More pages.
#include "dialogs/about_dialog.h"

#include "common/globals.h"
#include "common/product_info.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/dialog_template.h"
#include "dialogs/text_page.h"
#include "platform/gdi.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "resources/resource_ids.h"

#include <cstdint>
#include <string>

namespace {

constexpr DWORD kPageFlags = SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN;

void PaintAbout(HWND dialog) {
  WCHAR banner[256];
  BuildAboutBanner(banner, 256);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(dialog, &ps);
  RECT client = {};
  GetClientRect(dialog, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  // Measured first so that the banner can sit at the bottom of the page.
  RECT measure = {5, 0, width - 5, height};
  DrawTextW(dc, banner, -1, &measure, DT_CALCRECT | DT_WORDBREAK);
  RECT text = {5, height - (measure.bottom - measure.top), measure.right, height};
  DrawTextW(dc, banner, -1, &text, DT_WORDBREAK);
  DrawLogo(dc, width, LogoFileName(width, u"vtr.bmp", u"vtr_wide.bmp"));
  EndPaint(dialog, &ps);
}

void PaintAboutMore(HWND dialog) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(dialog, &ps);
  RECT client = {};
  GetClientRect(dialog, &client);
  const int width = client.right - client.left;
  DrawLogo(dc, width, LogoFileName(width, u"marlix.bmp", u"marlix_wide.bmp"));
  EndPaint(dialog, &ps);
}

// The About page holds its logo at the top and the banner right below it:
// the page is as tall as the two, with no empty band between them (its
// template's height is no measure of its content).
void FitAboutPage(HWND dialog) {
  int width, height;
  FitLogo(dialog, u"vtr.bmp", u"vtr_wide.bmp", &width, &height);
  RECT client = {};
  GetClientRect(dialog, &client);
  WCHAR banner[256];
  BuildAboutBanner(banner, 256);
  RECT text = {5, 0, client.right > width + 10 ? client.right - 5 : width + 5, client.bottom};
  HDC dc = GetDC(dialog);
  DrawTextW(dc, banner, -1, &text, DT_CALCRECT | DT_WORDBREAK);
  ReleaseDC(dialog, dc);
  const int logoBand = height > 0 ? 5 + height + 10 : 5;
  SizePage(dialog, client.right > width + 10 ? client.right : width + 10,
           logoBand + (text.bottom - text.top) + 5);
}

// Done, a lost link (IDOK) or the window closed (IDCANCEL).
bool IsDone(WPARAM wParam) {
  return LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == kCommandPageDone;
}

} // namespace

void BuildAboutBanner(WCHAR *banner, size_t units) {
  const uint32_t serial = static_cast<uint32_t>(SettingsStore::ReadNumber(Settings::kSerialNo));
  const uint32_t build = static_cast<uint32_t>(SettingsStore::ReadNumber(Settings::kBuildNo));
  const std::u16string program = u"Vantrel " + Utf8ToUtf16(ProductVersion()) + u"\nCopyright " +
                                 Utf8ToUtf16(ProductCopyright()) + u"\n" +
                                 UiText(kUiAboutLicence, u"Licence:") + u" " +
                                 Utf8ToUtf16(ProductLicence());
  const WCHAR *serialLabel = UiText(kUiAboutSerial, u"Keyboard serial number:");
  // The keyboard's serial number as eight hexadecimal digits, as it is
  // printed, and its firmware build as a plain number. A serial number of 0
  // means that no keyboard has answered yet; a build of 0, that the
  // keyboard did not tell it.
  if (serial == 0)
    wnsprintfW(banner, units, u"%s\n\n%s", program.c_str(),
               UiText(kUiAboutNoKeyboard, u"No keyboard has been connected yet."));
  else if (build == 0)
    wnsprintfW(banner, units, u"%s\n\n%s %08X", program.c_str(), serialLabel, serial);
  else
    wnsprintfW(banner, units, u"%s\n\n%s %08X\n%s %u", program.c_str(), serialLabel, serial,
               UiText(kUiAboutFirmware, u"Keyboard firmware: build"), build);
}

INT_PTR AboutDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
  case WM_INITDIALOG:
    InitDialogPage(dialog, kPageFlags, kMenuBarDoneMore);
    FitAboutPage(dialog);
    AppGlobals.openDialog = dialog;
    return TRUE;
  case WM_COMMAND:
    if (IsDone(wParam)) {
      EndDialog(dialog, 0);
      return TRUE;
    }
    if (LOWORD(wParam) == kCommandPageMore) {
      OpenAboutMoreDialog(dialog);
      // About More is gone now; the About page is the open one again, so a
      // lost link still closes it.
      AppGlobals.openDialog = dialog;
    }
    return FALSE;
  case WM_PAINT:
    PaintAbout(dialog);
    return 0;
  default:
    return FALSE;
  }
}

INT_PTR AboutMoreDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
  case WM_INITDIALOG: {
    InitDialogPage(dialog, kPageFlags, kMenuBarDone);
    {
      // The logo above the middle, where the text begins.
      int width, height;
      FitLogo(dialog, u"marlix.bmp", u"marlix_wide.bmp", &width, &height);
      GrowPage(dialog, width + 10, 2 * (height + 10));
    }
    static WCHAR page[kTextPageUnits];
    WCHAR path[MAX_PATH];
    LanguageTextPath(path, u"About.txt");
    ReadTextPage(path, page);
    CreateTextWindow(dialog, page, true);
    AppGlobals.openDialog = dialog;
    return TRUE;
  }
  case WM_COMMAND:
    if (IsDone(wParam)) {
      EndDialog(dialog, 0);
      return TRUE;
    }
    return FALSE;
  case WM_PAINT:
    PaintAboutMore(dialog);
    return 0;
  default:
    return FALSE;
  }
}

void OpenAboutDialog(HWND owner) { RunDialogTemplate(kDialogAbout, owner, AboutDialogProc); }

void OpenAboutMoreDialog(HWND owner) {
  RunDialogTemplate(kDialogAboutMore, owner, AboutMoreDialogProc);
}

// Reading a text page's file and naming files of InstallDir: the part of the
// text pages that needs no window system.
#include "dialogs/text_page.h"

#include "common/globals.h"
#include "common/ui_strings.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/threads.h"

#include <cstring>

int ReadTextPage(LPCWSTR path, WCHAR *page) {
  HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    page[0] = 0;
    return 1;
  }
  // One byte more than is read, always zero: a file of 15000 bytes or more
  // fills the read part completely and the conversion still finds its end.
  char bytes[kTextPageBytes + 1] = {};
  DWORD read = 0;
  ReadFile(file, bytes, kTextPageBytes, &read, nullptr);
  CloseHandle(file);
  memset(page, 0, kTextPageUnits * sizeof(WCHAR));
  mbstowcs(page, bytes, kTextPageUnits - 1);
  return 0;
}

void InstallDirPath(WCHAR *path, LPCWSTR name) {
  wnsprintfW(path, MAX_PATH, u"%s%s", AppGlobals.InstallDir, name);
}

void LanguageTextPath(WCHAR *path, LPCWSTR name) {
  const char *locale = UiLanguageLocale();
  if (strcmp(locale, "en") != 0) {
    WCHAR folder[8] = {};
    for (size_t i = 0; locale[i] && i < 7; ++i)
      folder[i] = static_cast<WCHAR>(locale[i]);
    wnsprintfW(path, MAX_PATH, u"%s%s\\%s", AppGlobals.InstallDir, folder, name);
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
      return;
  }
  InstallDirPath(path, name);
}

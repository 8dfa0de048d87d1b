#include "app/install_dir.h"

#include "common/globals.h"
#include "platform/win32.h"

namespace {

struct SearchList {
  WCHAR paths[kSearchListPaths][kSearchPathUnits];
  int count = 0;
};

bool IsFolder(const WIN32_FIND_DATAW &entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Appends text to the list unless the list is full or text is too long.
void Append(SearchList &list, const WCHAR *text, size_t length) {
  if (list.count >= kSearchListPaths || length >= kSearchPathUnits)
    return;
  WStrCopyN(list.paths[list.count], kSearchPathUnits, text);
  ++list.count;
}

// Lists folder (device path, "" for the root) and appends its sub-folders.
// Returns true when one of them is named "Vantrel" and InstallDir was set
// (not for the root's own entries). listed is false when the folder could
// not be listed at all.
bool ListFolder(SearchList &list, const WCHAR *folder, bool isRoot, bool &listed) {
  WCHAR pattern[kSearchPathUnits + 2];
  if (isRoot)
    WStrCopyN(pattern, sizeof pattern / sizeof pattern[0], u"*");
  else
    wnsprintfW(pattern, sizeof pattern / sizeof pattern[0], u"%s\\*", folder);
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(pattern, &entry);
  listed = find != INVALID_HANDLE_VALUE || GetLastError() == ERROR_FILE_NOT_FOUND;
  if (find == INVALID_HANDLE_VALUE)
    return false;
  bool found = false;
  do {
    if (!IsFolder(entry))
      continue;
    if (isRoot) {
      Append(list, entry.cFileName, wcslen(entry.cFileName));
      continue;
    }
    // Room for "folder\name\" and a terminator: one unit more than the
    // path itself, so the same bound serves both the list and InstallDir.
    WCHAR path[2 * kSearchPathUnits + 2];
    int length = wnsprintfW(path, sizeof path / sizeof path[0], u"%s\\%s", folder, entry.cFileName);
    Append(list, path, static_cast<size_t>(length));
    if (wcscmp(entry.cFileName, u"Vantrel") == 0 && length + 1 < MAX_PATH) {
      wnsprintfW(AppGlobals.InstallDir, MAX_PATH, u"%s\\", path);
      found = true;
    }
  } while (!found && FindNextFileW(find, &entry));
  FindClose(find);
  return found;
}

// The build's system data folder as a UTF-16 literal ("" without one).
#ifndef VANTREL_SYSTEM_DATA_DIR
#define VANTREL_SYSTEM_DATA_DIR ""
#endif
constexpr const WCHAR kSystemDataDir[] = u"" VANTREL_SYSTEM_DATA_DIR;

} // namespace

const WCHAR *SystemDataDir() {
  const WCHAR *folder = kSystemDataDir;
  while (*folder == u'/')
    ++folder;
  return folder;
}

bool TakeDataDir(const WCHAR *folder) {
  const size_t length = wcslen(folder);
  // Room for the folder, its trailing backslash and the terminator.
  if (length == 0 || length + 2 > MAX_PATH)
    return false;
  WCHAR path[MAX_PATH];
  for (size_t i = 0; i <= length; ++i)
    path[i] = folder[i] == u'/' ? u'\\' : folder[i];
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return false;
  wnsprintfW(AppGlobals.InstallDir, MAX_PATH, u"%s\\", path);
  return true;
}

bool FindInstallDir() {
  AppGlobals.InstallDir[0] = 0;
  if (TakeDataDir(SystemDataDir())) {
    NKDbgPrintfW(u"InstallDir: %s (the system data folder)\r\n", AppGlobals.InstallDir);
    return true;
  }
  // About 26 KB: kept off the stack of the UI thread.
  static SearchList list;
  list.count = 0;
  bool listed = false;
  ListFolder(list, u"", true, listed);
  if (!listed)
    return false;
  for (int next = 0; next < list.count; ++next) {
    bool ignored = false;
    if (ListFolder(list, list.paths[next], false, ignored)) {
      NKDbgPrintfW(u"InstallDir: %s (found below the root)\r\n", AppGlobals.InstallDir);
      return true;
    }
  }
  NKDbgPrintfW(u"InstallDir: no folder named Vantrel below the root\r\n");
  return true;
}

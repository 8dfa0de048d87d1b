// The key test list: "testmode.txt" read as records of three tokens. Kept
// apart from the dialog so that it builds and is tested without a window
// system.
#include "dialogs/key_test.h"

#include "common/globals.h"
#include "keys/data_tokens.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/trace.h"

#include <cstring>

namespace {

constexpr size_t kNameChars = sizeof(KeyTestEntry::name) - 1;

// Copies a token into a name field; a longer name is cut to fit.
void CopyName(char *name, const char *start, const char *stop) {
  size_t n = static_cast<size_t>(stop - start);
  if (n > kNameChars)
    n = kNameChars;
  std::memcpy(name, start, n);
  name[n] = 0;
}

} // namespace

int parseKeyTestText(const char *text, size_t len) {
  DataTokens tokens(text, len);
  const char *start = nullptr;
  const char *stop = nullptr;
  int count = 0;
  bool more = tokens.next(&start, &stop);
  for (int record = 0; more && record < kKeyTestMaxRecords; ++record) {
    if (count == kKeyTestEntryCount) {
      // The table is full: later records are left out rather than written
      // past its end.
      NKDbgPrintfW(u"testmode.txt: only the first %d keys are used\r\n", kKeyTestEntryCount);
      break;
    }
    KeyTestEntry &entry = AppGlobals.keyTestEntries[count];
    CopyName(entry.name, start, stop);
    if (!tokens.next(&start, &stop))
      break; // a name without its code is not counted
    entry.code = static_cast<uint8_t>(DataTokens::number(start, stop));
    ++count;
    if (!tokens.next(&start, &stop))
      break;
    more = tokens.next(&start, &stop);
  }
  AppGlobals.keyTestLast = static_cast<int8_t>(count - 1);
  return count;
}

bool loadKeyTestList() {
  WCHAR path[MAX_PATH + 16];
  wnsprintfW(path, MAX_PATH + 16, u"%stestmode.txt", AppGlobals.InstallDir);
  HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  char data[kKeyTestFileReadLimit];
  DWORD read = 0;
  if (!ReadFile(file, data, sizeof data, &read, nullptr))
    read = 0;
  CloseHandle(file);
  if (read > sizeof data)
    read = sizeof data;
  parseKeyTestText(data, read);
  return true;
}

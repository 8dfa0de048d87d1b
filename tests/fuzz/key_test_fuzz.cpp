// The key test list: the input is "testmode.txt", loaded by loadKeyTestList
// from InstallDir; then every entry's name is turned into the prompt the way
// the key test dialog does.
#include "tests/fuzz/fuzz_entries.h"
#include "tests/fuzz/fuzz_env.h"

#include "common/globals.h"
#include "dialogs/key_test.h"
#include "platform/text.h"

#include <cstring>

int FuzzKeyTestList(const uint8_t *data, size_t size) {
  fuzz::Env();
  fuzz::WriteInstallFile("testmode.txt", data, size);
  fuzz::ResetGlobals();
  fuzz::Require(loadKeyTestList(), "an existing list loads");

  const int last = AppGlobals.keyTestLast;
  fuzz::Require(last >= -1 && last < kKeyTestEntryCount, "keyTestLast indexes the table");
  for (int i = 0; i <= last; ++i) {
    const KeyTestEntry &entry = AppGlobals.keyTestEntries[i];
    fuzz::Require(memchr(entry.name, 0, sizeof entry.name) != nullptr, "names are terminated");
    constexpr size_t kNameChars = sizeof entry.name - 1;
    WCHAR name[kNameChars + 1];
    mbstowcs(name, entry.name, kNameChars);
    name[kNameChars] = 0;
    WCHAR prompt[128];
    wnsprintfW(prompt, 128, u"Please press the %s key", name);
  }
  return 0;
}

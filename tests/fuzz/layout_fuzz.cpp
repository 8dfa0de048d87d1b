// A layout file: the input is the file's bytes, loaded by loadKeycodeFile
// from InstallDir, and then every key is typed with it in each of the paths
// that read the table (plain, Shift, caps lock, AltGr cycles, dead keys and
// the key after them), so that any code the file can hold meets the code
// that acts on it.
#include "tests/fuzz/fuzz_entries.h"
#include "tests/fuzz/fuzz_env.h"

#include "common/globals.h"
#include "common/settings_store.h"
#include "keys/keycode_table.h"
#include "keys/scancode.h"

namespace {

void Type(uint8_t scancode) { processScancode(scancode); }

bool RowIsEmpty(int s) {
  for (int32_t code : AppGlobals.KeycodeTable[s])
    if (code != 0)
      return false;
  return true;
}

bool IsModeKey(int s) {
  return s == kScancodeShift || s == kScancodeCapsLock || s == kScancodeCtrl ||
         s == kScancodeAlt || s == kScancodeAltGr;
}

} // namespace

int FuzzLayoutFile(const uint8_t *data, size_t size) {
  static bool ready = [] {
    fuzz::Env();
    SettingsStore::WriteDword(u"Initialised", 1);
    SettingsStore::WriteString(u"keycode", u"Fuzz.kcod");
    return true;
  }();
  (void)ready;
  fuzz::WriteInstallFile("Fuzz.kcod", data, size);
  fuzz::ResetGlobals();
  fuzz::Require(loadKeycodeFile(nullptr), "an existing layout file loads");

  for (int caps = 0; caps < 2; ++caps) {
    if (caps)
      Type(kScancodeCapsLock);
    for (int s = 0; s < kScancodeCount; ++s) {
      // A key that produces nothing in any column takes no path of interest.
      if (IsModeKey(s) || RowIsEmpty(s))
        continue;
      const uint8_t key = static_cast<uint8_t>(s);
      Type(key); // a dead key here makes the next one its follow-up
      Type(key);
      Type(kScancodeShift);
      Type(key);
      Type(kScancodeAltGr);
      for (int press = 0; press < 9; ++press) // past the eighth alternative
        Type(key);
    }
  }
  fuzz::DrainMessages();
  return 0;
}

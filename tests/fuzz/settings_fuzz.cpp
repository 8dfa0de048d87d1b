// A stored setting: any type and any bytes, as another program or a damaged
// database may leave them, read back through the settings store and then by
// the start-up code that reads that setting.
//
// Input: one selector byte, four bytes of value type (little-endian), then
// the value's bytes. The selector's low two bits choose the value:
//   0  a value nothing else reads (only the store's reads)
//   1  "language", then LoadUiStrings
//   2  "keycode", then loadKeycodeFile
//   3  "Build No" (and "Keyclicks"), then a status frame
#include "tests/fuzz/fuzz_entries.h"
#include "tests/fuzz/fuzz_env.h"

#include "common/globals.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "keys/keycode_table.h"
#include "link/frame_actions.h"
#include "platform/registry.h"

#include <cstring>
#include <vector>

namespace {

constexpr int32_t kDefault = 0x5A5A5A5A;

void Store(const WCHAR *name, DWORD type, const uint8_t *bytes, size_t size) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  fuzz::Require(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel", 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &key, &disposition) == ERROR_SUCCESS,
                "the settings key opens");
  RegSetValueExW(key, name, 0, type, bytes, static_cast<DWORD>(size));
  RegCloseKey(key);
}

// The store's own promises for any stored value.
void CheckReads(const WCHAR *name, DWORD type, const uint8_t *bytes, size_t size) {
  std::vector<WCHAR> text(kSettingTextUnits, 0x4141);
  const int read = SettingsStore::ReadString(name, text.data());
  bool terminated = false;
  for (WCHAR c : text)
    terminated = terminated || c == 0;
  fuzz::Require(terminated, "ReadString ends the text inside the buffer");
  fuzz::Require(read == (size <= 1001 ? 1 : 0), "ReadString reads exactly the texts that fit");

  Store(name, type, bytes, size); // ReadString may have replaced a long value
  const int32_t dword = SettingsStore::ReadDword(name, kDefault);
  int32_t expected = kDefault;
  if (size <= 4) {
    uint8_t four[4] = {0, 0, 0, 0};
    memcpy(four, bytes, size);
    memcpy(&expected, four, 4);
  }
  fuzz::Require(dword == expected, "ReadDword returns the stored bytes or the default");
}

} // namespace

int FuzzSettingsValue(const uint8_t *data, size_t size) {
  static bool ready = [] {
    fuzz::Env();
    SettingsStore::WriteDword(u"Initialised", 1);
    return true;
  }();
  (void)ready;
  if (size < 5)
    return 0;
  const int which = data[0] & 3;
  DWORD type = 0;
  memcpy(&type, data + 1, 4);
  const uint8_t *bytes = data + 5;
  const size_t length = size - 5;
  fuzz::ResetGlobals();

  switch (which) {
  case 0:
    Store(u"FuzzValue", type, bytes, length);
    CheckReads(u"FuzzValue", type, bytes, length);
    break;
  case 1:
    Store(u"language", type, bytes, length);
    CheckReads(u"language", type, bytes, length);
    Store(u"language", type, bytes, length);
    LoadUiStrings();
    ResetUiStrings();
    break;
  case 2:
    Store(u"keycode", type, bytes, length);
    CheckReads(u"keycode", type, bytes, length);
    Store(u"keycode", type, bytes, length);
    loadKeycodeFile(nullptr);
    break;
  case 3: {
    Store(u"Build No", type, bytes, length);
    Store(u"Keyclicks", type, bytes, length);
    const uint8_t frame[6] = {0x0A, 50, 0, 100, 0, 0};
    HandleStatusFrame(frame);
    break;
  }
  }
  fuzz::DrainMessages();
  return 0;
}

// A language file: the input is the file's bytes, loaded by LoadUiStrings
// from InstallDir, and then each UI string is used the way the program's
// Qt-free code uses it: cut into the option labels of a layout, copied and
// formatted into the link's status text, and shown by the status frames.
#include "tests/fuzz/fuzz_entries.h"
#include "tests/fuzz/fuzz_env.h"

#include "common/globals.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "keys/keycode_table.h"
#include "link/frame_actions.h"
#include "platform/text.h"

namespace {

constexpr size_t kStatusUnits = sizeof(AppGlobals.statusText) / sizeof(WCHAR);

// The layout tail after the key grid, so that the labels are set from the
// UI strings as a layout load sets them.
const char kOptionSections[] = "0,0,165,158,151,144,130,Sensitivity,\r\n40,20,30,40,50,"
                               "RepeatRate,\r\n20,10,20,30,RepeatDelay,\r\n50,25,50,75\r\n";

bool Terminated(const WCHAR *text, size_t units) {
  for (size_t i = 0; i < units; ++i)
    if (text[i] == 0)
      return true;
  return false;
}

} // namespace

int FuzzLanguageFile(const uint8_t *data, size_t size) {
  static bool ready = [] {
    fuzz::Env();
    SettingsStore::WriteString(u"language", u"Fuzz.lang");
    return true;
  }();
  (void)ready;
  fuzz::WriteInstallFile("Fuzz.lang", data, size);
  fuzz::ResetGlobals();
  ResetUiStrings(); // a load keeps earlier strings; free any from another entry
  fuzz::FormatTraces(true); // each string is traced as it is loaded
  fuzz::Require(LoadUiStrings(), "an existing language file loads");
  fuzz::FormatTraces(false);

  for (int k = 0; k < kUiStringCount; ++k)
    fuzz::Require(UiString(k) != nullptr, "every UI string exists");

  // The option labels: 10 units each, cut to fit.
  static std::string layout = [] {
    std::string grid;
    for (int i = 0; i < kScancodeCount * kLayoutColumns; ++i)
      grid += "0,";
    return grid + kOptionSections;
  }();
  parseKeycodeText(layout.data(), layout.size());
  for (const SettingChoice &c : AppGlobals.SensitivityChoices)
    fuzz::Require(Terminated(c.label, 10), "labels are terminated");

  // The status texts: copied (23, 24, 25), prefixed to a port name (28),
  // and formatted by the status frames (26, 27).
  WStrCopyN(AppGlobals.statusText, kStatusUnits, UiString(23));
  wnsprintfW(AppGlobals.statusText, kStatusUnits, u"%s %s", UiString(28), u"COM3:");
  fuzz::Require(Terminated(AppGlobals.statusText, kStatusUnits), "status text is terminated");
  SettingsStore::WriteDword(u"Build No", 0);
  for (uint8_t code : {2, 8}) {
    const uint8_t frame[6] = {0x0A, 100, code, 0, 0, 0};
    HandleStatusFrame(frame);
    fuzz::Require(Terminated(AppGlobals.statusText, kStatusUnits), "status text is terminated");
  }

  ResetUiStrings();
  fuzz::DrainMessages();
  return 0;
}

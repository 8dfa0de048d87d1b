#include "resources/resources.h"

#include <mutex>

void RegisterVantrelResources() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterStringTable();
    RegisterMenus();
    RegisterMenuBars();
    RegisterIcon();
    RegisterSoundResources();
    RegisterSettingsDialogTemplates();
    RegisterCalibrationDialogTemplates();
    RegisterPageDialogTemplates();
  });
}

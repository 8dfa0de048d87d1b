// Dialog templates of the typing settings (136) and battery status (132) dialogs.
#include "resources/resources.h"

void RegisterSettingsDialogTemplates() {}

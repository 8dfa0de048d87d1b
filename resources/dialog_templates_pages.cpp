// Dialog templates of the language and layout selection (146, 138) and the text pages (107, 137, 133, 135) dialogs.
#include "resources/resources.h"

void RegisterPageDialogTemplates() {}

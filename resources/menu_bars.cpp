// The soft-key bars. 200 is the main window's: Options (its pop-up is the
// first pop-up of menu 200) and Quit. 201 and 202 are the pages' and
// dialogs': Done, and on the About page also More. 203 is a choice's: OK
// (the page's Done command) and Cancel (the dialog's cancel command).
#include "platform/resource_formats.h"
#include "resources/resources.h"

namespace {

const MENUBARBUTTON kMainButtons[] = {
    {kCommandOptions, TBSTATE_ENABLED, TBSTYLE_DROPDOWN | TBSTYLE_AUTOSIZE, kStringOptions,
     u"Options", 0},
    {kCommandQuit, TBSTATE_ENABLED, TBSTYLE_AUTOSIZE, kStringQuit, u"Quit", -1},
};
const MENUBARRESOURCE kMainBar{kMenuMain, 2, kMainButtons};

const MENUBARBUTTON kDoneButtons[] = {
    {kCommandPageDone, TBSTATE_ENABLED, TBSTYLE_AUTOSIZE, kStringDone, u"Done", -1},
};
const MENUBARRESOURCE kDoneBar{0, 1, kDoneButtons};

const MENUBARBUTTON kDoneMoreButtons[] = {
    {kCommandPageDone, TBSTATE_ENABLED, TBSTYLE_AUTOSIZE, kStringDone, u"Done", -1},
    {kCommandPageMore, TBSTATE_ENABLED, TBSTYLE_AUTOSIZE, kStringMore, u"More", -1},
};
const MENUBARRESOURCE kDoneMoreBar{0, 2, kDoneMoreButtons};

const MENUBARBUTTON kOkCancelButtons[] = {
    {kCommandPageDone, TBSTATE_ENABLED, TBSTYLE_AUTOSIZE, 0, u"OK", -1},
    {IDCANCEL, TBSTATE_ENABLED, TBSTYLE_AUTOSIZE, 0, u"Cancel", -1},
};
const MENUBARRESOURCE kOkCancelBar{0, 2, kOkCancelButtons};

} // namespace

void RegisterMenuBars() {
  RegisterResource(RT_MENUBAR, kMenuMain, &kMainBar, sizeof kMainBar);
  RegisterResource(RT_MENUBAR, kMenuBarDone, &kDoneBar, sizeof kDoneBar);
  RegisterResource(RT_MENUBAR, kMenuBarDoneMore, &kDoneMoreBar, sizeof kDoneMoreBar);
  RegisterResource(RT_MENUBAR, kMenuBarOkCancel, &kOkCancelBar, sizeof kOkCancelBar);
}

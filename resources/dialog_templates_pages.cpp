// Dialog templates of the language and layout selection (146, 138) and the text pages (107, 137,
// 133, 135) dialogs.
#include "platform/controls.h"
#include "platform/resource_formats.h"
#include "resources/resources.h"

namespace {

constexpr DWORD kPageStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT | 0x8;
constexpr LPCWSTR kFont = u"MS Shell Dlg";

// The Pocket PC selection dialog makes its radio buttons at run time; its
// caption is set for the list it shows.
const DLGTEMPLATE kSelection{kPageStyle, 0, u"Keyboard Layout", kFont, 8, 0, 0, 155, 145,
                             nullptr, 0};

// The Smartphone selection dialog: the layouts in list box 1018 above, the
// languages in list box 1020 below, each under its label.
constexpr DWORD kListStyle =
    WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY;
const DLGITEMTEMPLATEW kSelectionSmartphoneItems[] = {
    {u"STATIC", u"Keyboard layout", -1, WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 5, 4, 145, 10},
    {u"LISTBOX", nullptr, 1018, kListStyle, 0, 5, 15, 145, 58},
    {u"STATIC", u"Language", -1, WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 5, 78, 145, 10},
    {u"LISTBOX", nullptr, 1020, kListStyle, 0, 5, 89, 145, 50},
};
const DLGTEMPLATE kSelectionSmartphone{kPageStyle, 0, u"Layout and Language", kFont, 8, 0, 0, 155,
                                       145, kSelectionSmartphoneItems, 4};

// The text pages: no controls; their text windows are made at run time.
const DLGTEMPLATE kHelp{kPageStyle, 0, u"Help", kFont, 8, 0, 0, 156, 145, nullptr, 0};
const DLGTEMPLATE kHotTips{kPageStyle, 0, u"Hot Tips", kFont, 8, 0, 0, 156, 145, nullptr, 0};
const DLGTEMPLATE kAbout{kPageStyle, 0, u"About", kFont, 8, 0, 0, 162, 110, nullptr, 0};
const DLGTEMPLATE kAboutMore{kPageStyle, 0, u"About More", kFont, 8, 0, 0, 111, 145, nullptr, 0};

} // namespace

void RegisterPageDialogTemplates() {
  RegisterResource(RT_DIALOG, kDialogSelection, &kSelection, sizeof kSelection);
  RegisterResource(RT_DIALOG, kDialogSelectionSmartphone, &kSelectionSmartphone,
                   sizeof kSelectionSmartphone);
  RegisterResource(RT_DIALOG, kDialogHelp, &kHelp, sizeof kHelp);
  RegisterResource(RT_DIALOG, kDialogHotTips, &kHotTips, sizeof kHotTips);
  RegisterResource(RT_DIALOG, kDialogAbout, &kAbout, sizeof kAbout);
  RegisterResource(RT_DIALOG, kDialogAboutMore, &kAboutMore, sizeof kAboutMore);
}

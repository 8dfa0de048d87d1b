// Dialog templates of the typing settings (136, and its Smartphone layout)
// and battery status (132) dialogs. The key test uses 132 as well: an empty
// full-screen page.
#include "platform/controls.h"
#include "platform/resource_formats.h"
#include "resources/resources.h"

namespace {

// WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT | 0x8, as the handheld's.
constexpr DWORD kPageStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT | 0x8;
constexpr DWORD kLabel = WS_CHILD | WS_VISIBLE | WS_GROUP;
constexpr DWORD kList = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST;

// Controls in template order; combo boxes 1013 sensitivity, 1014 repeat
// rate, 1015 repeat delay; 1012 is a free field to try the settings in.
// Each label's marked letter (Alt and the letter) goes to the list or field
// under it. The labels span the page: their texts are translated, and
// longer in some languages.
const DLGITEMTEMPLATEW kTypingSettingsItems[] = {
    {u"STATIC", u"&Sensitivity", -1, kLabel, 0, 7, 6, 142, 8},
    {u"STATIC", u"Key Repeat &Rate", -1, kLabel, 0, 7, 34, 142, 8},
    {u"COMBOBOX", nullptr, 1014, kList, 0, 7, 45, 90, 40},
    {u"STATIC", u"Key Repeat &Delay", -1, kLabel, 0, 7, 62, 142, 8},
    {u"COMBOBOX", nullptr, 1015, kList, 0, 7, 73, 90, 42},
    {u"STATIC", u"&Test", -1, kLabel, 0, 7, 89, 142, 8},
    {u"EDIT", nullptr, 1012, WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, 7,
     97, 125, 34},
    {u"COMBOBOX", nullptr, 1013, kList, 0, 7, 17, 90, 39},
};

const DLGTEMPLATE kTypingSettings = {
    kPageStyle, 0, u"Settings", u"MS Shell Dlg", 8, 0, 0, 156, 145,
    kTypingSettingsItems, sizeof kTypingSettingsItems / sizeof kTypingSettingsItems[0]};

// The Smartphone layout: list boxes 1003 sensitivity, 1006 repeat rate and
// 1009 repeat delay, one under the other on the narrow screen.
constexpr DWORD kListBox = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY;
const DLGITEMTEMPLATEW kTypingSettingsSmartphoneItems[] = {
    {u"STATIC", u"&Sensitivity", -1, kLabel, 0, 2, 2, 100, 8},
    {u"LISTBOX", nullptr, 1003, kListBox, 0, 2, 11, 100, 26},
    {u"STATIC", u"Key Repeat &Rate", -1, kLabel, 0, 2, 40, 100, 8},
    {u"LISTBOX", nullptr, 1006, kListBox, 0, 2, 49, 100, 26},
    {u"STATIC", u"Key Repeat &Delay", -1, kLabel, 0, 2, 78, 100, 8},
    {u"LISTBOX", nullptr, 1009, kListBox, 0, 2, 87, 100, 26},
    {u"STATIC", u"&Test", -1, kLabel, 0, 2, 116, 30, 8},
    {u"EDIT", nullptr, 1012, WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, 2,
     125, 120, 14},
};

const DLGTEMPLATE kTypingSettingsSmartphone = {
    kPageStyle, 0, u"Settings", u"MS Shell Dlg", 8, 0, 0, 156, 145,
    kTypingSettingsSmartphoneItems,
    sizeof kTypingSettingsSmartphoneItems / sizeof kTypingSettingsSmartphoneItems[0]};

const DLGTEMPLATE kBatteryStatus = {
    kPageStyle, 0, u"Battery Status", u"MS Shell Dlg", 8, 0, 0, 156, 145, nullptr, 0};

// The key test: the battery page's size and no controls, under its own caption.
const DLGTEMPLATE kKeyTest = {
    kPageStyle, 0, u"Key Test", u"MS Shell Dlg", 8, 0, 0, 156, 145, nullptr, 0};

} // namespace

void RegisterSettingsDialogTemplates() {
  RegisterResource(RT_DIALOG, kDialogTypingSettings, &kTypingSettings, sizeof kTypingSettings);
  RegisterResource(RT_DIALOG, kDialogTypingSettingsSmartphone, &kTypingSettingsSmartphone,
                   sizeof kTypingSettingsSmartphone);
  RegisterResource(RT_DIALOG, kDialogBattery, &kBatteryStatus, sizeof kBatteryStatus);
  RegisterResource(RT_DIALOG, kDialogKeyTest, &kKeyTest, sizeof kKeyTest);
}

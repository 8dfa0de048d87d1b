// The texts are English; each is shown in the person's language through
// the UI string that translates it (UiResourceText).
//
// Menu 200: the Options pop-up (the main window's menu, Help and About
// last as on any desktop), and a top-level "Quit" item that no bar shows. "Start at login" and "Language" (the
// language of the program's texts; item 121 chooses the keyboard layout) are
// the desktop's own additions. No item starts checked or greyed: the
// main window gives them their states when the menu is first opened.
#include "platform/menus.h"
#include "platform/resource_formats.h"
#include "resources/resources.h"

namespace {

const MENUITEMRESOURCE kTimeoutItems[] = {
    {u"1 min", kCommandTimeout1, 0, nullptr, 0},
    {u"5 min", kCommandTimeout5, 0, nullptr, 0},
    {u"10 min", kCommandTimeout10, 0, nullptr, 0},
    {u"Never", kCommandTimeoutNever, 0, nullptr, 0},
};

const MENUITEMRESOURCE kOptionsItems[] = {
    {u"Connected?", kCommandConnected, 0, nullptr, 0},
    {u"Connection Timeout", 0, 0, kTimeoutItems, sizeof kTimeoutItems / sizeof kTimeoutItems[0]},
    {u"Keyclicks?", kCommandKeyclicks, 0, nullptr, 0},
    {u"Start at login", kCommandStartAtLogin, 0, nullptr, 0},
    {u"Battery Status", kCommandBattery, 0, nullptr, 0},
    {u"Calibration", kCommandCalibration, 0, nullptr, 0},
    {u"Typing Settings", kCommandTypingSettings, 0, nullptr, 0},
    {u"Hot Tips (keyboard: Alt+Esc)", kCommandHotTips, 0, nullptr, 0},
    {u"Keyboard Layout", kCommandLanguage, 0, nullptr, 0},
    {u"Language", kCommandDisplayLanguage, 0, nullptr, 0},
    {u"Reset Comport", kCommandResetComPort, 0, nullptr, 0},
    {u"", 0, MF_SEPARATOR, nullptr, 0},
    {u"Help", kCommandHelp, 0, nullptr, 0},
    {u"About", kCommandAbout, 0, nullptr, 0},
};

const MENUITEMRESOURCE kMainItems[] = {
    {u"Options", 0, 0, kOptionsItems, sizeof kOptionsItems / sizeof kOptionsItems[0]},
    {u"Quit", kCommandMenuQuit, 0, nullptr, 0},
};

const MENURESOURCE kMainMenu{kMainItems, sizeof kMainItems / sizeof kMainItems[0]};

} // namespace

void RegisterMenus() { RegisterResource(RT_MENU, kMenuMain, &kMainMenu, sizeof kMainMenu); }

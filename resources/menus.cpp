// Menu 200: the Options pop-up opened by the left soft key, and a top-level
// "Quit" item that no soft key shows. No item starts checked or greyed: the
// main window gives them their states when the menu is first opened.
#include "platform/menus.h"
#include "platform/resource_formats.h"
#include "resources/resources.h"

namespace {

const MENUITEMRESOURCE kTimeoutItems[] = {
    {u"1 min", 125, 0, nullptr, 0},
    {u"5 min", 126, 0, nullptr, 0},
    {u"10 min", 113, 0, nullptr, 0},
    {u"Never", 114, 0, nullptr, 0},
};

const MENUITEMRESOURCE kOptionsItems[] = {
    {u"Connected?", 110, 0, nullptr, 0},
    {u"Connection Timeout", 0, 0, kTimeoutItems, sizeof kTimeoutItems / sizeof kTimeoutItems[0]},
    {u"Keyclicks?", 115, 0, nullptr, 0},
    {u"Battery Status", 116, 0, nullptr, 0},
    {u"Calibration", 117, 0, nullptr, 0},
    {u"Typing Settings", 118, 0, nullptr, 0},
    {u"About", 119, 0, nullptr, 0},
    {u"Hot Tips (alt + esc)", 120, 0, nullptr, 0},
    {u"Language", 121, 0, nullptr, 0},
    {u"Help", 122, 0, nullptr, 0},
    {u"Reset Comport", 146, 0, nullptr, 0},
};

const MENUITEMRESOURCE kMainItems[] = {
    {u"Options", 0, 0, kOptionsItems, sizeof kOptionsItems / sizeof kOptionsItems[0]},
    {u"Quit", 123, 0, nullptr, 0},
};

const MENURESOURCE kMainMenu{kMainItems, sizeof kMainItems / sizeof kMainItems[0]};

} // namespace

void RegisterMenus() { RegisterResource(RT_MENU, kMenuMain, &kMainMenu, sizeof kMainMenu); }

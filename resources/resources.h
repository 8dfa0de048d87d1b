// The program's own resources, registered once at start-up before the first
// window is made.
#pragma once

#include "platform/wintypes.h"

// Resource identifiers used by the shell.
constexpr WORD kStringAppName = 1;      // "Vantrel": window class and title
constexpr WORD kStringQuit = 108;       // menu bar caption
constexpr WORD kStringOptions = 109;    // menu bar caption
constexpr WORD kStringDone = 111;       // caption of the dialogs' Done soft key
constexpr WORD kStringMore = 112;       // caption of the About page's More soft key
constexpr WORD kMenuMain = 200;         // menu 200 and menu bar 200
constexpr WORD kMenuBarDone = 201;      // dialogs: Done
constexpr WORD kMenuBarDoneMore = 202;  // the About page: Done and More
constexpr WORD kIconApp = 145;

// Registers the string table, menu 200, menu bars 200 to 202, icon 145 and
// the dialog templates.
// Safe to call more than once (later calls change nothing).
void RegisterVantrelResources();

// The parts, each registering its own resources (called by the above).
void RegisterStringTable();
void RegisterMenus();
void RegisterMenuBars();
void RegisterIcon();
// The dialog templates, by the dialogs that use them.
void RegisterSettingsDialogTemplates();    // 136 typing settings, 132 battery status
void RegisterCalibrationDialogTemplates(); // 134 calibration
void RegisterPageDialogTemplates();        // 146/138 selection, 107, 137, 133, 135 text pages

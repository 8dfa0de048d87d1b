// The program's own resources, registered once at start-up before the first
// window is made.
#pragma once

#include "platform/wintypes.h"
#include "resources/resource_ids.h"

// Registers the string table, menu 200, menu bars 200 to 202, icon 145, the
// sounds and the dialog templates.
// Safe to call more than once (later calls change nothing).
void RegisterVantrelResources();

// The parts, each registering its own resources (called by the above).
void RegisterStringTable();
void RegisterMenus();
void RegisterMenuBars();
void RegisterIcon();
// The three sounds, built in from resources/sounds, as WAVE resources 139
// to 141 (once; later calls do nothing).
void RegisterSoundResources();
// The dialog templates, by the dialogs that use them.
void RegisterSettingsDialogTemplates();    // 136 typing settings, 132 battery status
void RegisterCalibrationDialogTemplates(); // 134 calibration
void RegisterPageDialogTemplates();        // 146/138 selection, 107, 137, 133, 135 text pages

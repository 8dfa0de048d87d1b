// The program on the desktop beyond its window: the system tray icon (where
// the desktop has a tray) and the desktop notifications, both following the
// link as the main window hears of it. Runs on the user-interface thread,
// from the main window's procedure.
#pragma once

#include "platform/window.h"

// Shows the tray icon when the desktop has a system tray, its menu acting
// on mainWindow through the window's own commands. Returns true when the
// icon is shown.
bool StartTray(HWND mainWindow);

// True while the tray icon is shown: closing the window then only hides it.
bool TrayInUse();

// After the main window has handled WM_LINK_PHASE or WM_STATUS_TEXT_CHANGED:
// the icon follows the connect button, and a connection made or lost is
// told.
void TrayAfterLinkPhase(HWND mainWindow, WPARAM buttonState, LPARAM phase);
void TrayAfterStatusText(HWND mainWindow, WPARAM buttonState);

// The person chose another language: the icon's menu takes its texts anew.
void TrayAfterLanguageChange();
// Before the main window carries out a command: Disconnect and Quit are the
// person's own ends of the connection, not losses to tell.
void TrayBeforeCommand(UINT command);

// A status frame changed the battery's reading (WM_BATTERY_REPORTED), and
// on connecting: the battery's charge once the keyboard has reported it,
// and a notice when it runs low.
void TrayAfterBatteryReport();

// The window closes and the program ends: the icon goes and nothing more is
// told.
void StopTray();

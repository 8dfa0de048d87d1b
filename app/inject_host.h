// What the program lends the injection backends (InjectHost): a refusal of
// the desktop goes to the main window, which tells the person, as do keys
// dropped because one of Vantrel's own windows is active; the portal's
// restore token is kept in the settings store as "PortalRestoreToken".
#pragma once

#include "platform/wintypes.h"

// Installs the host. Call before InjectSelectBackend.
void InstallInjectHost();

// Chooses the way to type keys beside the start-up
// (InjectSelectBackendInBackground). Once chosen, the trace names it, the
// guard against typing into the program's own windows is set for a backend
// that reaches windows, and the main window (once InjectHostWindowMade
// named it) hears WM_KEYS_BACKEND_CHOSEN. The guard is on meanwhile.
void StartChoosingInjectBackend();
// The main window is made: from now on a choice made tells it (call on the
// UI thread before the link starts).
void InjectHostWindowMade(HWND mainWindow);

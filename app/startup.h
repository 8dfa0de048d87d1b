// The program's life on the user-interface thread, from start-up to the end
// of the message loop.
#pragma once

#include "platform/wintypes.h"

// The whole start-up sequence and the message loop: finds InstallDir,
// settles the language on a first run, loads the UI strings, notes test
// mode, creates the main window (or hands over to a running instance),
// detects the platform, creates the link controller (which starts the reader
// thread), initialises the Options menu, gives the link its connection
// time-out, and runs the message loop. Returns the exit code: 0 when start-up
// stops early, else the quit message's code. The program's threads still run
// then: ShutDownProgram (app/shutdown.h) ends them.
int VantrelStartup(HINSTANCE instance, int showCommand);

// Start-up steps, also run on their own by the tests.
// First run (SettingsStore "language" empty or "None"): stores the device
// language's file name ("English.lang" from "English"), Initialised = 0 and
// keycode = "Intl English.kcod". A stored language is left alone.
void SettleLanguage();
// testMode := 1 when InstallDir + "testmode.txt" exists (left as is
// otherwise).
void CheckTestMode();
// isSmartphone and osMajorVersion from the platform's answers.
void DetectPlatform();

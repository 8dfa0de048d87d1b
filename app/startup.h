// The program's life on the user-interface thread, from start-up to the end
// of the message loop.
#pragma once

#include "platform/wintypes.h"

// The exit code of a start that cannot go on: the program's files are not
// there (FindDataFolder) or cannot be read.
constexpr int kCannotStartExitCode = 1;

// The whole start-up sequence and the message loop: finds the data folder
// (FindDataFolder; nothing else has started when it is missing), starts
// choosing the key injection backend beside the rest of the start-up
// (StartChoosingInjectBackend), settles the language on a
// first run, loads the UI strings, notes test mode, creates the main window
// (or hands over to a running instance), detects the platform and runs the
// message loop. Right after the window's first paint (at once when it starts
// hidden), the loop starts the tray icon, creates the link controller (which
// starts the reader thread), initialises the Options menu and gives the link
// its connection time-out.
// A quit signal before the main window (QuitSignalled, app/shutdown.h) stops
// the start-up before its next step. Returns the exit code:
// kCannotStartExitCode when the data folder or the language files are
// missing, 0 when start-up stops early otherwise, else the quit message's
// code. The program's threads still run then: ShutDownProgram
// (app/shutdown.h) ends them.
int VantrelStartup(HINSTANCE instance, int showCommand);

// Finds InstallDir (FindInstallDir, app/install_dir.h) and checks that it
// holds English.lang, the language every start can fall back to. Returns
// true when so. Otherwise says where it looked and what to do, on stderr, in
// the trace and (on a display a person sees) in a message box, and returns
// false.
bool FindDataFolder();

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

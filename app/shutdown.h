// The end of the program. Whatever ends the message loop (the Quit soft
// key, the window's close button, a quit signal, a new layout, Reset
// ComPort's restart), the link is closed as a disconnection closes it (the
// keyboard hears DISCONNECT, the power time-outs are written back) and every
// thread of the program has ended before the process does, so no thread
// runs while the process's static objects are destroyed.
#pragma once

#include "platform/wintypes.h"

// How long the end of the program waits for the reader thread to close the
// link, and for each platform thread (the power manager, whose bus calls
// have a 3 s time-out of their own, and the audio output).
constexpr DWORD kLinkStopTimeoutMs = 5000;
constexpr DWORD kPlatformStopTimeoutMs = 4000;

// Starts the watcher of SIGTERM, SIGINT and SIGHUP, which main has blocked
// (BlockQuitSignals) before any thread started. Call it on the thread that
// runs the program (the user-interface thread). Each signal asks the main
// window to quit as its Quit soft key does, once the window exists (one that
// comes earlier, also before this call, is kept until then); before the
// main window it also posts the quit message to the program's thread, which
// ends a message box or dialog of the start-up, and QuitSignalled() tells
// the start-up to stop. ShutDownProgram ends the watcher.
void WatchQuitSignals();
// Whether a quit signal has come since the program started.
bool QuitSignalled();
// The main window exists: quit signals go to it from now on.
void DirectQuitSignalsTo(HWND mainWindow);

// Reset ComPort, a new layout: restart the program once it has ended
// (RunVantrel). RestartRequested tells whether that was asked for.
void RequestRestart();
bool RestartRequested();

// After the message loop: no message box or dialog is shown any more, the
// link is stopped (StopLink) and its reader thread waited for (at most
// kLinkStopTimeoutMs; if it does not end, the power time-outs are put back
// from here), then the quit signal watcher, the key injection backend, the
// power manager and the audio output are ended. Returns true when every
// thread has ended.
bool ShutDownProgram();

// The program from its start-up to its end: VantrelStartup, ShutDownProgram,
// the settings changes still held in memory written (RegistryFlush), and
// the restart when one was asked for (it does not return when that
// works; when it fails the program ends). Returns the exit code. When a
// thread would not end, it ends the process itself without running static
// destructors (_exit), after flushing the output.
int RunVantrel(HINSTANCE instance, int showCommand);

// Starting the desktop toolkit. The thread that calls VantrelQtInit becomes
// the user-interface thread: its message queue is pumped inside the toolkit's
// event loop, its GetMessageW waits there, windows created on it become
// widgets, and message boxes and dialogs asked for by other threads are shown
// on it while the asking thread waits. Without this call everything runs
// headless (windows are records, message boxes answered by the fallback).
// On Windows there is no toolkit to start, Win32 being the window system:
// VantrelQtInit registers the common controls and returns true, the calling
// thread being the user-interface thread; ShowHelpWindow opens the page with
// the default browser (ShellExecuteW); SetToolkitLanguage loads nothing, as
// Windows words its own buttons in the system's language, and is true for
// "en" only.
#pragma once

#include "platform/wintypes.h"

// Creates the application object (argc and argv must outlive it: pass
// main's own), registers the control classes and installs the window system
// hooks and the message box presenter. Returns false when the toolkit cannot
// start (no display); the caller may then go on headless. Calling it again
// returns true and does nothing.
bool VantrelQtInit(int &argc, char **argv);
// True once VantrelQtInit has succeeded.
bool VantrelQtActive();
// True when the toolkit is active and shows its windows on a display a
// person sees: false without the toolkit and on the offscreen and minimal
// platforms (QT_QPA_PLATFORM=offscreen), where a message box would wait for
// an answer nobody can give.
bool VantrelQtOnScreen();
// On the user-interface thread after its message loop has ended: runs the
// calls other threads are waiting for on this thread (a message box or a
// dialog they asked for), without dispatching any window message, so that a
// thread the program waits for at its end is not held up by this one. Does
// nothing on other threads or without the toolkit.
void ServeWaitingCalls();
// Qt's own texts (the standard buttons Yes, No, OK, Cancel and Close, the
// edit menus of text fields) in the language of locale ("de", "fr", "es";
// "en" is the toolkit's own): loads the toolkit's translation from its
// translations folder in place of the one before, then tells every open
// window that the language changed, so that menu bars name their menus
// anew. A missing translation leaves those texts in English, with a trace
// line. Returns true when the texts are in that language. User-interface
// thread; false without the toolkit.
bool SetToolkitLanguage(const char *locale);
// Shows the HTML document at devicePath in Vantrel's own help window (a
// read-only text browser with a Close button), raised if it is open already.
// Returns false, showing nothing, without the toolkit or when the document
// cannot be read. Any thread.
bool ShowHelpWindow(LPCWSTR devicePath);

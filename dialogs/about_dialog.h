// The About page (template 107): version and licence, the keyboard's serial
// number and build, and the program's logo; its More soft key opens the
// About More page (template 137): a second logo and the text of "About.txt".
#pragma once

#include "platform/window.h"

// Runs the page modally, owned by owner; returns when it has closed. Opens
// nothing when the template is not present.
void OpenAboutDialog(HWND owner);
// The same for the About More page.
void OpenAboutMoreDialog(HWND owner);

// The banner: the program's version (the build's), copyright and licence,
// then the serial number and firmware build of the keyboard last connected
// (from the settings store), or that none has been connected yet.
void BuildAboutBanner(WCHAR *banner, size_t units);

INT_PTR AboutDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR AboutMoreDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

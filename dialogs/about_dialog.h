// The About page (template 107): version banner, the keyboard's identity
// numbers and the program's logo; its More soft key opens the About More page
// (template 137): a second logo and the text of "About.txt".
#pragma once

#include "platform/window.h"

// Runs the page modally, owned by owner; returns when it has closed. Opens
// nothing when the template is not present.
void OpenAboutDialog(HWND owner);
// The same for the About More page.
void OpenAboutMoreDialog(HWND owner);

// The banner: the version line for this platform, then the keyboard's
// identity numbers from the settings store in hexadecimal, one per line.
void BuildAboutBanner(WCHAR *banner, size_t units);

INT_PTR AboutDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR AboutMoreDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

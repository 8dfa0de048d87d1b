// What the text pages (help, hot tips, About More) and the About pages share:
// reading a text file of InstallDir, the window that shows it, and drawing a
// logo picture.
#pragma once

#include "platform/window.h"

// A page holds at most 14999 characters and its terminator.
constexpr size_t kTextPageUnits = 15000;
// At most this many bytes of a text file are read.
constexpr size_t kTextPageBytes = 15000;

// Reads the text file at path into page (kTextPageUnits units): at most its
// first 15000 bytes, up to a NUL byte, converted from 8-bit text. Returns 0
// when the file was read; 1, with page empty, when it cannot be opened.
int ReadTextPage(LPCWSTR path, WCHAR *page);

// InstallDir followed by name, cut to fit path (MAX_PATH units).
void InstallDirPath(WCHAR *path, LPCWSTR name);

// The text file name in the person's language, into path (MAX_PATH units):
// InstallDir, the folder of the loaded language (its locale, "de\\" for
// German) and name when that file exists; else InstallDir and name, the
// English text every installation holds.
void LanguageTextPath(WCHAR *path, LPCWSTR name);

// Creates the static window that shows page on dialog, a text area that
// scrolls: over the whole client area (lowerHalf false; the page first grows
// towards a reading size for the text) or its lower half, with a margin.
// Returns the window, or null when it could not be made; the same is kept
// in the dialog's DWL_USER slot.
HWND CreateTextWindow(HWND dialog, const WCHAR *page, bool lowerHalf);

// The logo file for a page of the given client width: narrowName up to 240
// pixels wide and on a Smartphone wider than 300, wideName otherwise.
LPCWSTR LogoFileName(int clientWidth, LPCWSTR narrowName, LPCWSTR wideName);

// The size of the logo file name of InstallDir into width and height;
// false, with both 0, when it cannot be loaded.
bool LogoSize(LPCWSTR name, int *width, int *height);

// Makes the page's client area at least width x height, keeping where it
// is: a page painted by its procedure shows all of its picture and text.
// Never makes the page smaller.
void GrowPage(HWND dialog, int width, int height);

// Makes the page's client area width x height, keeping where it is.
void SizePage(HWND dialog, int width, int height);

// Widens the page until the logo LogoFileName picks for its width fits
// across it (a wider page may pick the wide logo), and gives that logo's
// size in width and height (0 when it cannot be loaded).
void FitLogo(HWND dialog, LPCWSTR narrowName, LPCWSTR wideName, int *width, int *height);

// Loads the logo file name of InstallDir and draws it centred at the top of a
// client area clientWidth wide (y 5). Draws nothing when it cannot be loaded.
void DrawLogo(HDC dc, int clientWidth, LPCWSTR name);


// Commands that close a page: IDOK (also sent when the link is lost) and the
// menu bar's Done.

// The key test: asks for the keys listed in "testmode.txt" one by one and
// checks what arrives. Runs once, at the first connection after a start with
// that file in InstallDir.
#pragma once

#include "platform/window.h"

#include <cstddef>

// Largest part of "testmode.txt" that is read.
constexpr size_t kKeyTestFileReadLimit = 2048;
// Most records the file is read for; only the first kKeyTestEntryCount
// (AppGlobals) of them are kept.
constexpr int kKeyTestMaxRecords = 128;

// Loads the list from "testmode.txt" and runs the key test dialog (template
// kDialogKeyTest) modally, owned by owner; returns when it has closed. When the file
// cannot be opened, says so and shows no dialog.
void runKeyTest(HWND owner);

// Fills keyTestEntries and keyTestLast from the file's text (len bytes, not
// terminated): records of three tokens (name, code, one ignored token),
// tokens split at commas and line feeds. Returns the number of entries.
int parseKeyTestText(const char *text, size_t len);

// Reads InstallDir "testmode.txt" (its first kKeyTestFileReadLimit bytes)
// into the list as parseKeyTestText does. Returns false, with the list
// unchanged, when the file cannot be opened.
bool loadKeyTestList();

INT_PTR KeyTestDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

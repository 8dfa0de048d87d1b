// Finding the program's own folder, InstallDir: the data folder of a
// system-wide install when the build names one and it is there, else a
// folder named exactly "Vantrel" somewhere below the device root, not in the
// root itself.
#pragma once

#include "platform/wintypes.h"

// The search list's limits: at most 100 folders, each path at most 259
// characters (260 units with the terminator).
constexpr int kSearchListPaths = 100;
constexpr int kSearchPathUnits = 260;

// The data folder a system-wide install (the Debian package) puts beside
// /usr/bin, as a device path without a trailing backslash
// ("usr\share\vantrel"): the build's VANTREL_SYSTEM_DATA_DIR with its
// leading slash dropped. "" when the build names none. Static text; never
// null.
const WCHAR *SystemDataDir();

// Takes folder (a device path, '\' or '/' between its parts, no trailing
// separator) as InstallDir, with one trailing backslash, when it is a folder
// below the device root. Returns true when taken; false, with InstallDir left
// as it was, when folder is "", too long, or not a folder there.
bool TakeDataDir(const WCHAR *folder);

// The system data folder first (TakeDataDir(SystemDataDir())), with a trace
// line saying which folder was taken; when it is not there, the
// breadth-first search below the root. Sets AppGlobals.InstallDir to the
// folder's path with a trailing backslash ("Program Files\Vantrel\"), or
// leaves it empty when no such folder was found. Returns false only when the
// root folder cannot be listed at all (start-up then stops).
//
// Limits: a folder whose path would not fit 259 characters is skipped (not
// listed, and not taken as InstallDir unless its path and the trailing
// backslash fit); once the list holds 100 folders no more are added, but the
// walk goes on over the folders already listed and still recognises a
// "Vantrel" among their entries.
bool FindInstallDir();

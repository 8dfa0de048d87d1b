// Finding the program's own folder, InstallDir: a folder named exactly
// "Vantrel" somewhere below the device root, not in the root itself.
#pragma once

// The search list's limits: at most 100 folders, each path at most 259
// characters (260 units with the terminator).
constexpr int kSearchListPaths = 100;
constexpr int kSearchPathUnits = 260;

// Breadth-first search below the root. Sets AppGlobals.InstallDir to the
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

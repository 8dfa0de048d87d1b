// Windows build: starting other programs. The program starts exactly one:
// the help viewer "peghelp" with the command line "file:NAME", which opens
// the document NAME of the help folder with the default browser
// (ShellExecuteW). Any other image is started by Win32's CreateProcessW.
#pragma once

#include "platform/wintypes.h"

BOOL VantrelCreateProcessW(LPCWSTR imageName, LPCWSTR commandLine, void *processAttributes,
                           void *threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                           void *environment, LPCWSTR currentDirectory, void *startupInfo,
                           PROCESS_INFORMATION *info);
#define CreateProcessW VantrelCreateProcessW
// The folder the help documents are in (the program's path form).
void SetHelpFolder(LPCWSTR deviceFolder);

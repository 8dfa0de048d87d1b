// Starting other programs. The program starts exactly one: the help viewer
// "peghelp" with the command line "file:NAME", which opens the document NAME
// of the help folder with the desktop's default handler (xdg-open). The
// viewer runs detached: it is not the caller's child, outlives the caller and
// is never waited for.
#pragma once

#include "platform/wintypes.h"

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

// imageName "peghelp" (compared without regard to case) and commandLine
// "file:NAME" (the "file:" prefix may be left out): opens NAME from the help
// folder. Returns TRUE when the handler was started; FALSE, with a trace line
// saying why and GetLastError telling it, when the image is not the help
// viewer or no document is named (ERROR_INVALID_PARAMETER), the document
// does not exist (ERROR_FILE_NOT_FOUND), the handler is not installed
// (ERROR_NO_ASSOCIATION) or cannot be started (ERROR_GEN_FAILURE). Every other argument may be null
// and is ignored; when info is given it is filled with the handler's process
// id and null handles (nothing to close).
BOOL CreateProcessW(LPCWSTR imageName, LPCWSTR commandLine, void *processAttributes,
                    void *threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    void *environment, LPCWSTR currentDirectory, void *startupInfo,
                    PROCESS_INFORMATION *info);

// The help folder: a device path with a trailing backslash (the program's
// InstallDir), copied. Until it is set, or when it is empty, documents are
// looked for relative to the device root.
void SetHelpFolder(LPCWSTR deviceFolder);

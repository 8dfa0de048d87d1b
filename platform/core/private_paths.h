// Places that only this user may use: the checks that keep another local
// user from planting a device link or an instance socket for this program,
// or from reading the files that record typed keys (internal to the
// platform layer).
//
// "This user" is the effective user id. Root-owned devices count as safe
// (only root can make them, and root can do anything anyway); a file
// the program appends typed keys to must be the user's own.
#pragma once

#include <string>
#include <sys/stat.h>

enum class FolderNeed {
  NoWritesByOthers, // the user's own, and nobody else may add or remove entries
  Private,          // the user's own and closed to everyone else (mode 0700)
};

// Whether the folder described by `st` (from stat or fstat) meets `need`.
// Returns true when it does; else false with the reason in *why.
bool FolderIsSafe(const struct stat &st, FolderNeed need, std::string *why);

// The user's own runtime folder for sockets and device links:
// $XDG_RUNTIME_DIR when set, else /tmp/vantrel-<uid>, created with mode 0700
// when missing. Each must be a real folder (not a symbolic link) that is the
// user's and private. When /tmp/vantrel-<uid> is not (another user made it
// first, or it is open or a link), it is not used: the folder
// $XDG_CACHE_HOME/vantrel/run (else ~/.cache/vantrel/run), created private
// where missing, is returned instead, and stderr and the trace say so once.
// Returns the folder, or "" with the reason in *why (an unsafe
// $XDG_RUNTIME_DIR is refused, not replaced).
std::string UserRuntimeFolder(std::string *why);

// Opens `path` for appending, creating it with mode 0600; an existing file
// open to others is made 0600 (its user's bits kept) before the call
// returns, so nothing written reaches another user. A symbolic link is not
// followed; what is not a regular file (a FIFO, a device, a folder), a file
// that belongs to another user (root included) and one whose mode cannot be
// changed are refused. Never waits for a FIFO's reader. Returns the
// descriptor (close-on-exec, blocking writes), or -1 with the reason in *why.
int OpenPrivateAppend(const char *path, std::string *why);

// Says why something was refused: on stderr the first time this text comes
// up in the process, in the trace every time.
void ReportRefusal(const std::string &message);

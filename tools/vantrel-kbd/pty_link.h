// The pseudo-terminal that stands in for the keyboard's Bluetooth serial
// port, and the COMn link in the devices folder that names its slave side.
#pragma once

#include <string>

struct PtyLink {
  int master = -1;
  std::string slavePath; // /dev/pts/N
  std::string linkPath;  // <devices>/COMn
  std::string lockPath;  // <devices>/.COMn.lock, held while we run
  int lockFd = -1;
};

// The devices folder: the --devices value, else VANTREL_DEVICES, else
// $XDG_RUNTIME_DIR/vantrel/devices, else /tmp/vantrel-<uid>/devices (then
// *shared = true: it lies in a place every user can write to).
std::string DevicesFolder(const std::string &option, bool *shared);

// Creates the pty (slave in raw mode, not held open) and the link `name`
// (COM0..COM9) in `folder`, creating missing folders with mode 0700. The
// folder must be the user's and closed to writes by others; a `shared` one
// (and the folder holding it) must be private (0700), as the program
// demands before it uses a link. A link held by another running emulator,
// or a link to something that is not a pseudo-terminal, is refused; a stale
// link is replaced. Returns false with the reason in `error`.
bool CreatePtyLink(const std::string &folder, bool shared, const std::string &name, PtyLink &link,
                   std::string &error);
// Removes the link (only if it still names our slave) and the lock file, and
// closes the pty. Safe to call more than once.
void RemovePtyLink(PtyLink &link);
// True while the program has the slave side open (no hang-up on the master).
bool SlaveIsOpen(const PtyLink &link);
// Waits, up to `limitMs`, until the program has read every byte sent to it
// (nothing unread for 100 ms). Returns how many bytes it had not read when
// the wait ended.
size_t WaitUntilRead(const PtyLink &link, int limitMs);
// Hangs up the line (the program's reads fail from now on) and offers the
// port again on a fresh pseudo-terminal under the same name. Returns false
// with the reason in `error` when the new one cannot be made.
bool HangUpAndReoffer(PtyLink &link, std::string &error);

// Where the serial port COMn: lives on this machine, and opening it only
// when no other local user can have put it there (internal to the serial
// backend).
#pragma once

#include "platform/core/private_paths.h"

#include <string>

// The folder of COM0..COM9 links: VANTREL_DEVICES, else
// $XDG_RUNTIME_DIR/vantrel/devices, else "devices" in the runtime folder
// UserRuntimeFolder gives (/tmp/vantrel-<uid> when it is the user's, else
// one below the home folder); "" when there is none. *need receives what
// the folder must satisfy: private (0700) for the last, else the user's own
// and closed to writes by others.
std::string ComDevicesFolder(FolderNeed *need);

// Opens the device for COM<index> with open(2) `flags`: the link COM<index>
// in the devices folder when there is such an entry (even a dangling link,
// which then fails as a missing port), else /dev/rfcomm<index>.
// A link is used only when its folder meets the need above, the link itself
// is the user's, and the device it leads to belongs to the user or to root;
// otherwise it is refused with a message (stderr once, the trace each time)
// and the port counts as missing. Returns the descriptor, or -1 with errno
// set (ENOENT for a missing or refused port). *path receives the path
// looked at, for traces.
int OpenComDevice(int index, int flags, std::string *path);

// Whether the devices folder has an entry COM<index> (even a dangling or
// refused link): then that entry, not another kind of port, is the port.
bool ComLinkOffered(int index);

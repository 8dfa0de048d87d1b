// Where the serial port COMn: lives on this machine (internal to the serial
// backend).
#pragma once

#include <string>

// The folder of COM0..COM9 links: VANTREL_DEVICES, else
// $XDG_RUNTIME_DIR/vantrel/devices, else /tmp/vantrel-<uid>/devices.
std::string ComDevicesFolder();
// The device to open for COM<index>: the link COM<index> in the devices
// folder when such a link (or file) exists, even a dangling one, else
// /dev/rfcomm<index>.
std::string ComDevicePath(int index);

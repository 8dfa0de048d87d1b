// A raw RFCOMM stream to a device's serial port, for when BlueZ's profile
// interface cannot be used (another program holds the serial port profile).
// Internal to platform/bluetooth.
#pragma once

#include <string>

struct BluezDevice;

// Finds the device's serial port channel with a service discovery query
// over L2CAP and connects an RFCOMM stream socket to it, waiting at most
// about 10 s for each connection and 5 s for each answer. Returns the
// connected socket (owned by the caller, closed with close()), or -1 with
// *why set to a phrase for the trace: among others where the system offers
// no Bluetooth sockets at all (containers, machines without the kernel's
// Bluetooth support).
int RfcommConnect(const BluezDevice &device, std::string *why);

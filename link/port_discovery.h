// Finding and opening the keyboard's serial port. The keyboard reaches the
// machine as a Bluetooth serial-port device; the Bluetooth stack's registry
// keys (under HKEY_LOCAL_MACHINE "Software\Microsoft\Bluetooth") name its
// port, and the keyboard is recognised by the text "02a5f3" (the first six
// hexadecimal digits of its address) in a key name. When no port is named
// there, the ports COM0: to COM9: are probed one per connection attempt.
#pragma once

#include "platform/wintypes.h"

// Capacity of AppGlobals.portName in units, terminator included: a port name
// has at most 9 characters.
constexpr size_t kPortNameUnits = 10;

// Looks through the Bluetooth serial ports for the keyboard's device and
// writes its port name with a colon ("COM8:") into portName, which holds
// kPortNameUnits units. Returns true when a name was written; on false
// portName may hold a partial read and must not be used. A "Port" value
// without "COM", or too long to take the colon within portName, is not used.
bool FindKeyboardPort(WCHAR *portName);

// Reader thread, LinkState 1 with a connection requested: reads COMPORT (a
// value longer than 9 characters is refused with a trace line and the port
// is searched for as if unset), finds or probes the port, opens it with the
// link's time-outs and sets linkState (3 on success; 8 on a failure that
// ends the attempt), portHandle, portAutoDetect, portProbeIndex and
// statusText. On a failure that leaves another port to try it sets
// connectionEvent and leaves linkState at 1. linkState is only moved on from
// 1: a cancel written meanwhile (5) stands, and a port opened for a
// cancelled attempt is left in portHandle for the disconnection to close.
void OpenPort();

// True when the Bluetooth device list holds the keyboard.
bool IsKeyboardPaired();

// Removes the keyboard's keys from the Bluetooth device and serial-port
// lists and the stored COMPORT value, so the next connection searches again.
void ForgetKeyboard();

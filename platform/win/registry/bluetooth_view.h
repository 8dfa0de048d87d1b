// The registry's view of Bluetooth on Windows, made from what Windows
// knows: under HKEY_CURRENT_USER\<kBluetoothViewKey>, "Device\<address>" for
// every paired (remembered) device and "Serial\Ports\<address>" with the
// value Port = "COMn" for every serial port the Bluetooth enumerator made
// for a device. Addresses are 12 lower-case hex digits.
#pragma once

#include "platform/wintypes.h"

#include <string>
#include <vector>

inline constexpr WCHAR kBluetoothViewKey[] = u"Software\\Vantrel\\Bluetooth";

// Makes the view again (volatile keys, gone at log-off). Never fails: a
// system without Bluetooth gives an empty view.
void RefreshBluetoothView();
// Removes the pairing of the device named by its 12 hex digits:
// ERROR_SUCCESS, ERROR_INVALID_PARAMETER for a name that is no address, or
// Windows' own error.
LONG ForgetBluetoothDevice(LPCWSTR name);

// The address in a Bluetooth enumerator's device instance id
// ("BTHENUM\{service}_...\7&1a2b&0&02A5F3123456_C00000000"): 12 lower-case
// hex digits, "" when the id is no Bluetooth device's or has none.
std::u16string BluetoothAddressOfInstance(const std::u16string &instanceId);

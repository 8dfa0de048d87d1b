// Windows build: the real registry. The program's settings key,
// HKEY_LOCAL_MACHINE\Software\Vantrel, is kept under
// HKEY_CURRENT_USER\Software\Vantrel (a desktop program needs no
// administrator rights). HKEY_LOCAL_MACHINE\Software\Microsoft\Bluetooth
// (Device and Serial\Ports, named by the device's 12 hex digits, Port =
// "COMn") is read from what Windows knows of Bluetooth: the paired devices
// and the serial ports the Bluetooth enumerator made for them (SetupAPI);
// deleting a device's key there forgets the device (BluetoothRemoveDevice).
// Every other key is passed on unchanged. RegDeleteKeyW deletes the subkey
// with everything below it (ERROR_INVALID_PARAMETER for an empty subKey).
#pragma once

#include "platform/wintypes.h"

LONG VantrelRegCreateKeyExW(HKEY parent, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                            REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                            LPDWORD disposition);
LONG VantrelRegOpenKeyExW(HKEY parent, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG VantrelRegDeleteKeyW(HKEY key, LPCWSTR subKey);
LONG VantrelRegCloseKey(HKEY key);
#define RegCreateKeyExW VantrelRegCreateKeyExW
#define RegOpenKeyExW VantrelRegOpenKeyExW
#define RegDeleteKeyW VantrelRegDeleteKeyW
#define RegCloseKey VantrelRegCloseKey

#include "platform/registry_status.h"

// The Bluetooth area of the registry while BlueZ serves it:
//   Software\Microsoft\Bluetooth\Device         one subkey per paired device
//   Software\Microsoft\Bluetooth\Serial\Ports   one subkey per paired device
//                                               offering the serial port
//                                               profile, string value "Port"
//                                               = its virtual port (COM<n>)
// Subkeys are named by the device address, 12 lower-case hexadecimal digits.
// These keys have no rows in the database. Opening one of the two list keys
// (or a key below them) from a handle outside the area asks BlueZ afresh,
// so a device paired while the program runs is there at the next open; the
// handle keeps what BlueZ said then, and keys opened below it use that. A
// device key has no values and no subkeys; values cannot be set
// (ERROR_ACCESS_DENIED), subkeys cannot be made (ERROR_ACCESS_DENIED).
// Deleting a device's subkey forgets the device in BlueZ (RemoveDevice).
// When BlueZ does not answer (no system bus, no org.bluez, VANTREL_BLUETOOTH
// =stored), the area is ordinary stored keys, as the rest of the registry.
#pragma once

#include "platform/bluetooth/bluez.h"
#include "platform/registry/registry_db.h"

namespace registry {

struct BluetoothKey {
  enum Kind { kDeviceList, kPortList, kDevice, kPort } kind;
  // Lists: the devices, in BlueZ's order; a device or port key: its device.
  std::vector<BluezDevice> devices;
};

// Called without the lock, before the stored keys are looked at. When the
// key (parent\subKey) is in the Bluetooth area and BlueZ serves it, answers
// the open (create: RegCreateKeyExW) into *answer, *result and *disposition
// (may be null) and returns true; otherwise returns false and the stored
// keys answer.
bool BluetoothOpen(HKEY parent, LPCWSTR subKey, bool create, PHKEY result, DWORD *disposition,
                   LONG *answer);
// Called without the lock. When key\subKey is a device's subkey of a list
// served by BlueZ, forgets the device in BlueZ and returns true with the
// answer (ERROR_SUCCESS, or BluezRemoveDevice's error; ERROR_FILE_NOT_FOUND
// when no such device is listed). Otherwise returns false.
bool BluetoothDelete(HKEY key, LPCWSTR subKey, LONG *answer);

// With the lock held, on a key of the area. Subkey names in order,
// ERROR_NO_MORE_ITEMS past the last.
LONG BluetoothEnumKey(const BluetoothKey &key, DWORD index, std::u16string *name);
// The value of folded name `fold`, as RegQueryValueExW answers.
LONG BluetoothQueryValue(const BluetoothKey &key, const std::string &fold, DWORD *type, BYTE *data,
                         DWORD *size);
// As RegEnumValueW answers.
LONG BluetoothEnumValue(const BluetoothKey &key, DWORD index, LPWSTR name, DWORD *nameLen,
                        DWORD *type, BYTE *data, DWORD *dataLen);

} // namespace registry

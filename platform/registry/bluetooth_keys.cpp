// The Bluetooth area of the registry, served from BlueZ's paired devices
// while BlueZ answers (see bluetooth_keys.h).
#include "platform/registry/bluetooth_keys.h"

#include <cstring>

namespace registry {

namespace {

constexpr char kDeviceListPath[] = "software\\microsoft\\bluetooth\\device";
constexpr char kPortListPath[] = "software\\microsoft\\bluetooth\\serial\\ports";

// Where a folded full path lies in the area.
struct Place {
  BluetoothKey::Kind list;
  std::string child; // the device's name below the list; empty: the list
  bool deeper = false; // below a device's key: no such key
};

bool Classify(const std::string &path, Place *place) {
  for (auto [listPath, kind] : {std::pair{kDeviceListPath, BluetoothKey::kDeviceList},
                                std::pair{kPortListPath, BluetoothKey::kPortList}}) {
    size_t n = strlen(listPath);
    if (path.compare(0, n, listPath) != 0)
      continue;
    if (path.size() == n) {
      *place = Place{kind, "", false};
      return true;
    }
    if (path[n] != '\\')
      continue;
    std::string rest = path.substr(n + 1);
    size_t slash = rest.find('\\');
    *place = Place{kind, rest.substr(0, slash), slash != std::string::npos};
    return true;
  }
  return false;
}

// The list BlueZ gives for a list key: every paired device, or those with
// the serial port profile.
std::vector<BluezDevice> ListFor(BluetoothKey::Kind kind, const std::vector<BluezDevice> &all) {
  std::vector<BluezDevice> list;
  for (const BluezDevice &d : all)
    if (kind == BluetoothKey::kDeviceList || d.serial)
      list.push_back(d);
  return list;
}

const BluezDevice *FindDevice(const std::vector<BluezDevice> &list, const std::string &fold) {
  for (const BluezDevice &d : list)
    if (d.address == fold)
      return &d;
  return nullptr;
}

// The key at `place` of a list that holds `list`; or why there is none.
LONG MakeKey(const Place &place, const std::vector<BluezDevice> &list, bool create,
             std::shared_ptr<BluetoothKey> *key) {
  if (place.child.empty()) {
    *key = std::make_shared<BluetoothKey>(BluetoothKey{place.list, list});
    return ERROR_SUCCESS;
  }
  const BluezDevice *device = place.deeper ? nullptr : FindDevice(list, place.child);
  if (!device)
    return create ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND; // pairing is BlueZ's
  auto kind = place.list == BluetoothKey::kDeviceList ? BluetoothKey::kDevice : BluetoothKey::kPort;
  *key = std::make_shared<BluetoothKey>(BluetoothKey{kind, {*device}});
  return ERROR_SUCCESS;
}

std::u16string Widen(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// The "Port" value of a port key, UTF-16LE with its terminator.
std::u16string PortValue(const BluetoothKey &key) {
  return Widen("COM" + std::to_string(key.devices[0].portNumber)) + u'\0';
}

LONG CopyBytes(const std::u16string &text, DWORD *type, BYTE *data, DWORD *size) {
  DWORD length = static_cast<DWORD>(text.size() * sizeof(char16_t));
  if (type)
    *type = REG_SZ;
  LONG result = ERROR_SUCCESS;
  if (data) {
    if (*size < length)
      result = ERROR_MORE_DATA;
    else
      memcpy(data, text.data(), length);
  }
  if (size)
    *size = length;
  return result;
}

} // namespace

bool BluetoothOpen(HKEY parent, LPCWSTR subKey, bool create, PHKEY result, DWORD *disposition,
                   LONG *answer) {
  KeyRecord base;
  std::vector<PathPart> parts;
  std::string path;
  Place place;
  {
    auto lock = RegistryLock();
    if (ResolveSubKey(parent, subKey, &base, &parts, &path) != ERROR_SUCCESS)
      return false; // the stored keys give the same answer
    if (base.bt) {
      std::shared_ptr<BluetoothKey> key;
      if (parts.empty())
        key = std::make_shared<BluetoothKey>(*base.bt);
      else if (base.bt->kind == BluetoothKey::kDevice || base.bt->kind == BluetoothKey::kPort)
        *answer = create ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
      else if (Classify(path, &place))
        *answer = MakeKey(place, base.bt->devices, create, &key);
      if (key) {
        *answer = ERROR_SUCCESS;
        *result = NewKeyHandle(0, path, key);
        if (disposition)
          *disposition = REG_OPENED_EXISTING_KEY;
      }
      return true;
    }
    if (!Classify(path, &place))
      return false;
  }
  // Asked without the lock: the bus may take a while to answer.
  std::vector<BluezDevice> all;
  std::string why;
  if (BluezPairedDevices(&all, &why) != BluezAnswer::Served)
    return false;
  std::shared_ptr<BluetoothKey> key;
  *answer = MakeKey(place, ListFor(place.list, all), create, &key);
  if (key) {
    auto lock = RegistryLock();
    *result = NewKeyHandle(0, path, key);
    if (disposition)
      *disposition = REG_OPENED_EXISTING_KEY;
  }
  return true;
}

bool BluetoothDelete(HKEY key, LPCWSTR subKey, LONG *answer) {
  KeyRecord base;
  std::vector<PathPart> parts;
  std::string path;
  Place place;
  std::vector<BluezDevice> list;
  {
    auto lock = RegistryLock();
    if (ResolveSubKey(key, subKey, &base, &parts, &path) != ERROR_SUCCESS || parts.empty())
      return false;
    if (!Classify(path, &place) || place.child.empty() || place.deeper) {
      if (!base.bt)
        return false;
      *answer = ERROR_FILE_NOT_FOUND; // nothing below a device's key
      return true;
    }
    if (base.bt)
      list = base.bt->devices;
  }
  if (!base.bt) {
    std::vector<BluezDevice> all;
    std::string why;
    if (BluezPairedDevices(&all, &why) != BluezAnswer::Served)
      return false;
    list = ListFor(place.list, all);
  }
  const BluezDevice *device = FindDevice(list, place.child);
  if (!device) {
    *answer = ERROR_FILE_NOT_FOUND;
    return true;
  }
  *answer = BluezRemoveDevice(*device);
  if (*answer == ERROR_SUCCESS && base.bt) {
    // The list the handle enumerates loses the device, as a deleted key.
    auto lock = RegistryLock();
    std::vector<BluezDevice> &held = base.bt->devices;
    for (auto it = held.begin(); it != held.end(); ++it)
      if (it->address == place.child) {
        held.erase(it);
        break;
      }
  }
  return true;
}

LONG BluetoothEnumKey(const BluetoothKey &key, DWORD index, std::u16string *name) {
  bool list = key.kind == BluetoothKey::kDeviceList || key.kind == BluetoothKey::kPortList;
  if (!list || index >= key.devices.size())
    return ERROR_NO_MORE_ITEMS;
  *name = Widen(key.devices[index].address);
  return ERROR_SUCCESS;
}

LONG BluetoothQueryValue(const BluetoothKey &key, const std::string &fold, DWORD *type, BYTE *data,
                         DWORD *size) {
  if (key.kind != BluetoothKey::kPort || fold != "port")
    return ERROR_FILE_NOT_FOUND;
  return CopyBytes(PortValue(key), type, data, size);
}

LONG BluetoothEnumValue(const BluetoothKey &key, DWORD index, LPWSTR name, DWORD *nameLen,
                        DWORD *type, BYTE *data, DWORD *dataLen) {
  if (key.kind != BluetoothKey::kPort || index > 0)
    return ERROR_NO_MORE_ITEMS;
  static constexpr char16_t kPort[] = u"Port";
  LONG result = ERROR_SUCCESS;
  if (*nameLen < 5) {
    *nameLen = 5;
    result = ERROR_MORE_DATA;
  } else {
    memcpy(name, kPort, sizeof kPort);
    *nameLen = 4;
  }
  LONG copied = CopyBytes(PortValue(key), type, result == ERROR_SUCCESS ? data : nullptr, dataLen);
  return result != ERROR_SUCCESS ? result : copied;
}

} // namespace registry

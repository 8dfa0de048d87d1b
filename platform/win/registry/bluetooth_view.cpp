// The registry's view of Bluetooth, from the Bluetooth API (paired
// devices) and SetupAPI (the ports class, whose Bluetooth entries carry the
// device's address in their instance id and the port's name in their
// device key's PortName).
#include "platform/win/registry/bluetooth_view.h"

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/trace.h"

#include <bluetoothapis.h>
#include <devguid.h>
#include <setupapi.h>

#include <cwctype>
#include <mutex>

#include "platform/win/core/real_calls.h"

namespace {

std::mutex gViewMutex;

bool IsHex(WCHAR c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

std::u16string Lower(std::u16string s) {
  for (WCHAR &c : s)
    if (c >= u'A' && c <= u'Z')
      c = static_cast<WCHAR>(c - u'A' + u'a');
  return s;
}

std::u16string AddressText(const BLUETOOTH_ADDRESS &address) {
  WCHAR text[13];
  wnsprintfW(text, 13, u"%02x%02x%02x%02x%02x%02x", address.rgBytes[5], address.rgBytes[4],
             address.rgBytes[3], address.rgBytes[2], address.rgBytes[1], address.rgBytes[0]);
  return text;
}

HKEY CreateVolatile(HKEY parent, const WCHAR *path) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

void AddPairedDevices(HKEY devices) {
  BLUETOOTH_DEVICE_SEARCH_PARAMS search = {};
  search.dwSize = sizeof search;
  search.fReturnAuthenticated = TRUE;
  search.fReturnRemembered = TRUE;
  BLUETOOTH_DEVICE_INFO info = {};
  info.dwSize = sizeof info;
  HBLUETOOTH_DEVICE_FIND find = BluetoothFindFirstDevice(&search, &info);
  if (!find) {
    PlatformTrace("bluetooth: no paired devices listed (error %lu)", GetLastError());
    return;
  }
  do {
    const std::u16string name = AddressText(info.Address);
    if (HKEY key = CreateVolatile(devices, name.c_str()))
      ::RegCloseKey(key);
  } while (BluetoothFindNextDevice(find, &info));
  BluetoothFindDeviceClose(find);
}

void AddSerialPorts(HKEY ports) {
  HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE)
    return;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    WCHAR id[512];
    if (!SetupDiGetDeviceInstanceIdW(set, &device, id, 512, nullptr))
      continue;
    const std::u16string address = BluetoothAddressOfInstance(id);
    if (address.empty())
      continue;
    HKEY deviceKey = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (deviceKey == INVALID_HANDLE_VALUE)
      continue;
    WCHAR port[32] = {};
    DWORD size = sizeof port - sizeof(WCHAR);
    DWORD type = 0;
    LONG rc = RegQueryValueExW(deviceKey, u"PortName", nullptr, &type,
                               reinterpret_cast<BYTE *>(port), &size);
    ::RegCloseKey(deviceKey);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
      continue;
    port[31] = 0;
    PlatformTrace("bluetooth: %s is the serial port of %s", Utf16ToUtf8(port).c_str(),
                  Utf16ToUtf8(address).c_str());
    if (HKEY key = CreateVolatile(ports, address.c_str())) {
      RegSetValueExW(key, u"Port", 0, REG_SZ, reinterpret_cast<const BYTE *>(port),
                     static_cast<DWORD>((wcslen(port) + 1) * sizeof(WCHAR)));
      ::RegCloseKey(key);
    }
  }
  SetupDiDestroyDeviceInfoList(set);
}

} // namespace

std::u16string BluetoothAddressOfInstance(const std::u16string &instanceId) {
  const std::u16string id = Lower(instanceId);
  if (id.rfind(u"bthenum\\", 0) != 0)
    return u"";
  // The last path part: "7&1a2b&0&02a5f3123456_c00000000".
  const size_t slash = id.rfind(u'\\');
  std::u16string last = id.substr(slash + 1);
  const size_t underscore = last.find(u'_');
  if (underscore != std::u16string::npos)
    last.resize(underscore);
  const size_t amp = last.rfind(u'&');
  const std::u16string address = amp == std::u16string::npos ? last : last.substr(amp + 1);
  if (address.size() != 12)
    return u"";
  for (WCHAR c : address)
    if (!IsHex(c))
      return u"";
  // The enumerator's ports of local services have no device: all zeros.
  if (address == u"000000000000")
    return u"";
  return address;
}

void RefreshBluetoothView() {
  std::lock_guard<std::mutex> lock(gViewMutex);
  RegDeleteTreeW(HKEY_CURRENT_USER, kBluetoothViewKey);
  HKEY view = CreateVolatile(HKEY_CURRENT_USER, kBluetoothViewKey);
  if (!view)
    return;
  HKEY devices = CreateVolatile(view, u"Device");
  HKEY ports = CreateVolatile(view, u"Serial\\Ports");
  if (devices) {
    AddPairedDevices(devices);
    ::RegCloseKey(devices);
  }
  if (ports) {
    AddSerialPorts(ports);
    ::RegCloseKey(ports);
  }
  ::RegCloseKey(view);
}

LONG ForgetBluetoothDevice(LPCWSTR name) {
  if (!name || wcslen(name) != 12)
    return ERROR_INVALID_PARAMETER;
  BLUETOOTH_ADDRESS address = {};
  for (int i = 0; i < 6; ++i) {
    WCHAR hi = name[2 * i], lo = name[2 * i + 1];
    if (!IsHex(hi) || !IsHex(lo))
      return ERROR_INVALID_PARAMETER;
    auto value = [](WCHAR c) {
      return c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10;
    };
    address.rgBytes[5 - i] = static_cast<BYTE>(value(hi) * 16 + value(lo));
  }
  DWORD rc = BluetoothRemoveDevice(&address);
  PlatformTrace("bluetooth: forgetting %s: %lu", Utf16ToUtf8(name).c_str(), rc);
  return rc == ERROR_SUCCESS || rc == ERROR_NOT_FOUND ? ERROR_SUCCESS : static_cast<LONG>(rc);
}

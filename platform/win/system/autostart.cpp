// Starting at login on Windows: the value "Vantrel" of the user's Run key.
#include "platform/autostart.h"

#include "platform/text.h"
#include "platform/wintypes.h"

#include "platform/win/core/real_calls.h"

namespace {

constexpr WCHAR kRunKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr WCHAR kValue[] = u"Vantrel";

} // namespace

std::string AutostartEntryPath() {
  return "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Vantrel";
}

bool AutostartEnabled() {
  return RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValue, RRF_RT_REG_SZ, nullptr, nullptr,
                      nullptr) == ERROR_SUCCESS;
}

std::string DesktopExecValue(const std::string &program, const std::vector<std::string> &arguments) {
  std::string line = "\"" + program + "\"";
  for (const std::string &a : arguments)
    line += " " + a;
  return line;
}

bool AutostartEnable(const std::string &program, const std::vector<std::string> &arguments,
                     std::string *why) {
  const std::u16string line = Utf8ToUtf16(DesktopExecValue(program, arguments));
  LONG rc = RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kValue, REG_SZ, line.c_str(),
                            static_cast<DWORD>((line.size() + 1) * sizeof(WCHAR)));
  if (rc != ERROR_SUCCESS && why)
    *why = "the Run key cannot be written (error " + std::to_string(rc) + ")";
  return rc == ERROR_SUCCESS;
}

bool AutostartDisable(std::string *why) {
  LONG rc = RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValue);
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
    if (why)
      *why = "the Run key cannot be written (error " + std::to_string(rc) + ")";
    return false;
  }
  return true;
}

std::string OwnProgramPath() {
  WCHAR path[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  return Utf16ToUtf8(path);
}

// The commands of vantrel-reg, written against the same registry functions
// the program uses, so they read and change exactly what the program sees.
#include "tools/vantrel-reg/commands.h"

#include "platform/registry.h"
#include "platform/registry_export.h"
#include "platform/text.h"
#include "tools/vantrel-reg/value_format.h"

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

namespace {

struct KeyPath {
  std::u16string sub;  // below HKEY_LOCAL_MACHINE, "" for the root
  std::string shown;   // HKLM\... as printed
};

bool StartsWithRoot(const std::string &path, const char *root, size_t *rest) {
  size_t n = strlen(root);
  if (path.size() < n || strncasecmp(path.c_str(), root, n) != 0)
    return false;
  if (path.size() > n && path[n] != '\\')
    return false;
  *rest = path.size() > n ? n + 1 : n;
  return true;
}

bool ParseKey(const std::string &path, KeyPath *out) {
  size_t rest = 0;
  if (!StartsWithRoot(path, "HKLM", &rest) && !StartsWithRoot(path, "HKEY_LOCAL_MACHINE", &rest)) {
    fprintf(stderr, "vantrel-reg: a key starts with HKLM\\ or HKEY_LOCAL_MACHINE\\: %s\n",
            path.c_str());
    return false;
  }
  std::string sub = path.substr(rest);
  while (!sub.empty() && sub.back() == '\\')
    sub.pop_back();
  out->sub = Utf8ToUtf16(sub);
  out->shown = sub.empty() ? "HKLM" : "HKLM\\" + sub;
  return true;
}

// Reports a failure of the settings store; `change`: a change was asked
// for and is not made.
int StoreFailure(const char *what, LONG rc, bool change = false) {
  std::string problem = RegistryGetStatus().problem;
  if (rc == ERROR_TIMEOUT && problem.empty())
    problem = "the settings database is held by another process";
  fprintf(stderr, "vantrel-reg: %s%s failed (error %d)%s%s\n",
          change ? "the change was not saved: " : "", what, static_cast<int>(rc),
          problem.empty() ? "" : ": ", problem.c_str());
  return kExitStore;
}

// Opens an existing key without creating it.
int OpenExisting(const KeyPath &key, HKEY *handle) {
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.sub.c_str(), 0, KEY_READ, handle);
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED) {
    fprintf(stderr, "vantrel-reg: no such key: %s\n", key.shown.c_str());
    return kExitMissing;
  }
  if (rc != ERROR_SUCCESS)
    return StoreFailure("opening the key", rc);
  return kExitOk;
}

// Parses a key argument and opens that existing key. Returns an exit status.
int OpenKeyArgument(const std::string &keyPath, KeyPath *key, HKEY *handle) {
  if (!ParseKey(keyPath, key))
    return kExitUsage;
  return OpenExisting(*key, handle);
}

// Reads one value whole, however it changes size meanwhile.
LONG ReadValue(HKEY key, const std::u16string &name, DWORD *type, std::vector<BYTE> *data) {
  for (;;) {
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
    if (rc != ERROR_SUCCESS)
      return rc;
    data->assign(size, 0);
    rc = RegQueryValueExW(key, name.c_str(), nullptr, type, data->data(), &size);
    if (rc == ERROR_MORE_DATA)
      continue;
    if (rc == ERROR_SUCCESS)
      data->resize(size);
    return rc;
  }
}

// The name of a value as it was stored (names match without regard to
// case); the name as asked when no stored one matches.
std::u16string StoredName(HKEY key, const std::u16string &asked) {
  std::vector<WCHAR> name(16384);
  for (DWORD i = 0;; ++i) {
    DWORD nameLen = static_cast<DWORD>(name.size());
    if (RegEnumValueW(key, i, name.data(), &nameLen, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return asked;
    if (_wcsicmp(name.data(), asked.c_str()) == 0)
      return std::u16string(name.data(), nameLen);
  }
}

void PrintValue(const std::u16string &name, DWORD type, const std::vector<BYTE> &data) {
  printf("%s\t%s\t%s\n", PrintableText(name).c_str(), TypeName(type).c_str(),
         ValueText(type, data).c_str());
}

// Prints the values of an open key, one a line. Returns an error code.
LONG PrintValues(HKEY key) {
  std::vector<WCHAR> name(16384);
  for (DWORD i = 0;; ++i) {
    DWORD nameLen = static_cast<DWORD>(name.size());
    DWORD type = 0;
    LONG rc = RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS)
      return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS)
      return rc;
    std::u16string valueName(name.data(), nameLen);
    std::vector<BYTE> data;
    rc = ReadValue(key, valueName, &type, &data);
    if (rc == ERROR_FILE_NOT_FOUND)
      continue; // deleted by the program meanwhile
    if (rc != ERROR_SUCCESS)
      return rc;
    PrintValue(valueName, type, data);
  }
}

// The names of the subkeys of an open key.
LONG SubkeyNames(HKEY key, std::vector<std::u16string> *names) {
  WCHAR name[256];
  for (DWORD i = 0;; ++i) {
    DWORD nameLen = 256;
    LONG rc = RegEnumKeyExW(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS)
      return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS)
      return rc;
    names->emplace_back(name, nameLen);
  }
}

// Writes one value, creating the key; fails when the change is not kept.
int SetValue(const std::string &keyPath, const std::string &name, DWORD type, const BYTE *data,
             DWORD size) {
  KeyPath key;
  if (!ParseKey(keyPath, &key))
    return kExitUsage;
  HKEY handle = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &handle, nullptr);
  if (rc != ERROR_SUCCESS)
    return StoreFailure("creating the key", rc, true);
  rc = RegSetValueExW(handle, Utf8ToUtf16(name).c_str(), 0, type, data, size);
  RegCloseKey(handle);
  if (rc != ERROR_SUCCESS)
    return StoreFailure("writing the value", rc, true);
  if (RegistryGetStatus().unsavedChanges) {
    fprintf(stderr, "vantrel-reg: the change was not saved: %s\n",
            RegistryGetStatus().problem.c_str());
    return kExitStore;
  }
  return kExitOk;
}

int ExportKey(HKEY handle, const std::string &shown) {
  printf("[%s]\n", shown.c_str());
  LONG rc = PrintValues(handle);
  if (rc != ERROR_SUCCESS)
    return StoreFailure("reading the values", rc);
  printf("\n");
  std::vector<std::u16string> names;
  rc = SubkeyNames(handle, &names);
  if (rc != ERROR_SUCCESS)
    return StoreFailure("reading the subkeys", rc);
  for (const std::u16string &name : names) {
    const std::string childShown = shown + "\\" + PrintableText(name);
    if (RegistryExportLeavesOut(childShown))
      continue; // another tree's copy kept among the settings
    HKEY child = nullptr;
    if (RegOpenKeyExW(handle, name.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS)
      continue; // deleted meanwhile
    int status = ExportKey(child, childShown);
    RegCloseKey(child);
    if (status != kExitOk)
      return status;
  }
  return kExitOk;
}

} // namespace

int CommandList(const std::string &keyPath) {
  KeyPath key;
  HKEY handle = nullptr;
  if (int status = OpenKeyArgument(keyPath, &key, &handle))
    return status;
  LONG rc = PrintValues(handle);
  std::vector<std::u16string> names;
  if (rc == ERROR_SUCCESS)
    rc = SubkeyNames(handle, &names);
  RegCloseKey(handle);
  if (rc != ERROR_SUCCESS)
    return StoreFailure("listing the key", rc);
  for (const std::u16string &name : names)
    printf("KEY\t%s\n", PrintableText(name).c_str());
  return kExitOk;
}

int CommandGet(const std::string &keyPath, const std::string &name) {
  KeyPath key;
  HKEY handle = nullptr;
  if (int status = OpenKeyArgument(keyPath, &key, &handle))
    return status;
  std::u16string valueName = StoredName(handle, Utf8ToUtf16(name));
  DWORD type = 0;
  std::vector<BYTE> data;
  LONG rc = ReadValue(handle, valueName, &type, &data);
  RegCloseKey(handle);
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED) {
    fprintf(stderr, "vantrel-reg: no such value: %s in %s\n", name.c_str(), key.shown.c_str());
    return kExitMissing;
  }
  if (rc != ERROR_SUCCESS)
    return StoreFailure("reading the value", rc);
  PrintValue(valueName, type, data);
  return kExitOk;
}

int CommandSetDword(const std::string &keyPath, const std::string &name, const std::string &number) {
  // Decimal or 0x hex; negative numbers are stored as their 32-bit pattern.
  errno = 0;
  char *end = nullptr;
  long long v = strtoll(number.c_str(), &end, 0);
  if (number.empty() || *end || errno == ERANGE || v < INT32_MIN || v > UINT32_MAX) {
    fprintf(stderr, "vantrel-reg: not a 32-bit number: %s\n", number.c_str());
    return kExitUsage;
  }
  DWORD value = static_cast<DWORD>(v);
  return SetValue(keyPath, name, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

int CommandSetText(const std::string &keyPath, const std::string &name, const std::string &text) {
  std::u16string wide = Utf8ToUtf16(text);
  return SetValue(keyPath, name, REG_SZ, reinterpret_cast<const BYTE *>(wide.c_str()),
                  static_cast<DWORD>((wide.size() + 1) * sizeof(char16_t)));
}

int CommandDelete(const std::string &keyPath, const std::string *name) {
  KeyPath key;
  if (!ParseKey(keyPath, &key))
    return kExitUsage;
  if (!name) {
    if (key.sub.empty()) {
      fprintf(stderr, "vantrel-reg: the root key cannot be deleted\n");
      return kExitUsage;
    }
    LONG rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.sub.c_str());
    if (rc == ERROR_FILE_NOT_FOUND) {
      fprintf(stderr, "vantrel-reg: no such key: %s\n", key.shown.c_str());
      return kExitMissing;
    }
    return rc == ERROR_SUCCESS ? kExitOk : StoreFailure("deleting the key", rc, true);
  }
  HKEY handle = nullptr;
  if (int status = OpenExisting(key, &handle))
    return status;
  LONG rc = RegDeleteValueW(handle, Utf8ToUtf16(*name).c_str());
  RegCloseKey(handle);
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED) {
    fprintf(stderr, "vantrel-reg: no such value: %s in %s\n", name->c_str(), key.shown.c_str());
    return kExitMissing;
  }
  return rc == ERROR_SUCCESS ? kExitOk : StoreFailure("deleting the value", rc, true);
}

int CommandExport(const std::string &keyPath) {
  KeyPath key;
  HKEY handle = nullptr;
  if (int status = OpenKeyArgument(keyPath, &key, &handle))
    return status;
  int status = ExportKey(handle, key.shown);
  RegCloseKey(handle);
  return status;
}

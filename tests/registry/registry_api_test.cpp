// The registry calls themselves: names without regard to case, exact bytes,
// enumeration, buffer sizes, deletion of whole trees and stale handles.
#include "tests/registry/registry_test_support.h"

#include <cstring>
#include <sqlite3.h>

namespace {

class RegistryApiTest : public RegistryTest {
protected:
  HKEY Create(const char16_t *path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }
  void SetDword(HKEY key, const char16_t *name, DWORD v) {
    EXPECT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<BYTE *>(&v), 4),
              ERROR_SUCCESS);
  }
  std::vector<std::u16string> SubkeyNames(HKEY key) {
    std::vector<std::u16string> names;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
      DWORD len = 256;
      LONG rc = RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) {
        EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
        return names;
      }
      names.emplace_back(name, len);
    }
  }
  std::vector<std::u16string> ValueNames(HKEY key) {
    std::vector<std::u16string> names;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
      DWORD len = 256;
      LONG rc = RegEnumValueW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) {
        EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
        return names;
      }
      names.emplace_back(name, len);
    }
  }
};

TEST_F(RegistryApiTest, NamesMatchWithoutCaseAndKeepTheirCase) {
  DWORD disposition = 0;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Vantrel\\", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
  SetDword(key, u"Connection Timeout", 1);
  SetDword(key, u"CONNECTION TIMEOUT", 2); // the same value, its name kept
  SetDword(key, u"Ärger", 3);
  SetDword(key, u"äRGER", 4);
  RegCloseKey(key);

  HKEY again = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\vantrel", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &again, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(ValueNames(again), (std::vector<std::u16string>{u"Connection Timeout", u"Ärger"}));
  EXPECT_EQ(ReadStored(u"software\\VANTREL", u"connection timeout").bytes,
            (std::vector<BYTE>{2, 0, 0, 0}));
  EXPECT_EQ(ReadStored(u"Software\\Vantrel", u"ärger").bytes, (std::vector<BYTE>{4, 0, 0, 0}));
  RegCloseKey(again);

  HKEY software = Create(u"software");
  EXPECT_EQ(SubkeyNames(software), (std::vector<std::u16string>{u"Vantrel"}));
  RegCloseKey(software);
}

TEST_F(RegistryApiTest, ValuesKeepTypeAndExactBytes) {
  HKEY key = Create(u"Software\\Vantrel");
  const BYTE binary[] = {0, 1, 0, 0xFF, 0};
  ASSERT_EQ(RegSetValueExW(key, u"bin", 0, REG_BINARY, binary, sizeof binary), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, u"empty", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, u"odd", 0, 77, binary, 3), ERROR_SUCCESS);
  RegCloseKey(key);
  StoredValue bin = ReadStored(u"Software\\Vantrel", u"BIN");
  EXPECT_EQ(bin.type, (DWORD)REG_BINARY);
  EXPECT_EQ(bin.bytes, std::vector<BYTE>(binary, binary + 5));
  StoredValue empty = ReadStored(u"Software\\Vantrel", u"empty");
  EXPECT_EQ(empty.rc, ERROR_SUCCESS);
  EXPECT_EQ(empty.type, (DWORD)REG_SZ);
  EXPECT_TRUE(empty.bytes.empty());
  EXPECT_EQ(ReadStored(u"Software\\Vantrel", u"odd").type, 77u);
  EXPECT_EQ(ReadStored(u"Software\\Vantrel", u"missing").rc, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadStored(u"Software\\Missing", u"x").rc, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApiTest, SmallBuffersGetTheSizeNeededAndNoBytes) {
  HKEY key = Create(u"Software\\Vantrel");
  ASSERT_EQ(RegSetValueExW(key, u"keycode", 0, REG_SZ, reinterpret_cast<const BYTE *>(u"None"), 10),
            ERROR_SUCCESS);
  BYTE buf[8];
  memset(buf, 0xEE, sizeof buf);
  DWORD size = 4, type = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"keycode", nullptr, &type, buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(type, (DWORD)REG_SZ);
  EXPECT_EQ(buf[0], 0xEE);
  size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"keycode", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(RegQueryValueExW(key, u"keycode", nullptr, &type, buf, nullptr),
            ERROR_INVALID_PARAMETER);

  // Enumeration: a name that does not fit, then data that does not fit.
  WCHAR name[4];
  DWORD nameLen = 4;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &nameLen, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(nameLen, 8u); // "keycode" and its terminator
  WCHAR bigName[16];
  nameLen = 16;
  size = 4;
  EXPECT_EQ(RegEnumValueW(key, 0, bigName, &nameLen, nullptr, &type, buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(buf[0], 0xEE);
  RegCloseKey(key);

  HKEY parent = Create(u"Software");
  Create(u"Software\\AVeryLongKeyName");
  WCHAR small[5];
  nameLen = 5;
  EXPECT_EQ(RegEnumKeyExW(parent, 1, small, &nameLen, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  RegCloseKey(parent);
}

TEST_F(RegistryApiTest, EnumerationFollowsCreationOrderAndSurvivesDeletion) {
  HKEY ports = Create(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports");
  for (const char16_t *name : {u"0002a5f30001", u"00112233aabb", u"0002A5F30002", u"0002a5f30003"})
    RegCloseKey(Create((std::u16string(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\") + name)
                           .c_str()));
  SetDword(ports, u"b", 1);
  SetDword(ports, u"a", 2);
  SetDword(ports, u"b", 3); // written again, keeps its place
  EXPECT_EQ(ValueNames(ports), (std::vector<std::u16string>{u"b", u"a"}));

  // Delete every matching subkey the way the pairing reset does: restart
  // the enumeration after each deletion.
  for (DWORD i = 0;;) {
    WCHAR name[256];
    DWORD len = 256;
    if (RegEnumKeyExW(ports, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    if (std::u16string(name).find(u"02a5f3") != std::u16string::npos) {
      ASSERT_EQ(RegDeleteKeyW(ports, name), ERROR_SUCCESS);
      i = 0;
    } else {
      ++i;
    }
  }
  EXPECT_EQ(SubkeyNames(ports), (std::vector<std::u16string>{u"00112233aabb", u"0002A5F30002"}));
  RegCloseKey(ports);
}

TEST_F(RegistryApiTest, DeletingAKeyTakesItsTreeAndNothingElse) {
  HKEY a = Create(u"T\\a\\b\\c");
  SetDword(a, u"v", 1);
  RegCloseKey(a);
  for (const char16_t *sibling : {u"T\\ab", u"T\\a[x", u"T\\a]", u"T\\a b"}) {
    HKEY s = Create(sibling);
    SetDword(s, u"v", 2);
    RegCloseKey(s);
  }
  HKEY stale = Create(u"T\\A\\B");
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"t\\A"), ERROR_SUCCESS);
  EXPECT_EQ(ReadStored(u"T\\a\\b\\c", u"v").rc, ERROR_FILE_NOT_FOUND);
  for (const char16_t *sibling : {u"T\\ab", u"T\\a[x", u"T\\a]", u"T\\a b"})
    EXPECT_EQ(ReadStored(sibling, u"v").bytes, (std::vector<BYTE>{2, 0, 0, 0}));
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"T\\a"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_INVALID_PARAMETER);

  // A handle to a deleted key neither reads nor writes, and a re-made key
  // of the same name does not inherit anything through it.
  DWORD v = 9;
  EXPECT_EQ(RegSetValueExW(stale, u"x", 0, REG_DWORD, reinterpret_cast<BYTE *>(&v), 4),
            ERROR_KEY_DELETED);
  RegCloseKey(Create(u"T\\a\\b"));
  EXPECT_EQ(ReadStored(u"T\\a\\b", u"x").rc, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(stale), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(stale), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegSetValueExW(stale, u"x", 0, REG_DWORD, reinterpret_cast<BYTE *>(&v), 4),
            ERROR_INVALID_HANDLE);
}

} // namespace

// The settings take a few pages of the database: the open store (the file's
// connection and the in-memory copy) holds memory for those, not a bulk
// of page cache set aside for each connection up front, which stays
// resident for as long as the program runs.
TEST_F(RegistryApiTest, TheOpenStoreHoldsLittleMemory) {
  HKEY key = Create(u"\\Software\\Vantrel");
  for (DWORD i = 0; i < 20; ++i)
    SetDword(key, (u"Value " + std::u16string(1, static_cast<char16_t>(u'A' + i))).c_str(), i);
  RegCloseKey(key);
  EXPECT_EQ(ReadStored(u"\\Software\\Vantrel", u"Value B").bytes.size(), 4u);
  EXPECT_LT(sqlite3_memory_used(), 100 * 1024) << "bytes held by SQLite";
}

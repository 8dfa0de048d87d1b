// The settings store: defaults written on first read, the 4-byte and
// 1001-byte limits, and what happens when the key cannot be made.
#include "common/settings_store.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tests/registry/registry_test_support.h"
#include "tests/support/scripted_message_boxes.h"

#include <sqlite3.h>

#include <cstring>

namespace {

const char16_t kKey[] = u"Software\\Vantrel";

class SettingsStoreTest : public RegistryTest {};

void SetRaw(const char16_t *name, DWORD type, const void *data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE *>(data), size),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(SettingsStoreTest, MissingValuesAreCreatedWithTheirDefaults) {
  EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 1), 1);
  StoredValue clicks = ReadStored(kKey, u"Keyclicks");
  ASSERT_EQ(clicks.rc, ERROR_SUCCESS);
  EXPECT_EQ(clicks.type, (DWORD)REG_DWORD);
  EXPECT_EQ(clicks.bytes, (std::vector<BYTE>{1, 0, 0, 0}));

  WCHAR buffer[kSettingTextUnits];
  memset(buffer, 0xAA, sizeof buffer);
  EXPECT_EQ(SettingsStore::ReadString(u"keycode", buffer), 0);
  EXPECT_EQ(std::u16string(buffer), u"None");
  StoredValue keycode = ReadStored(kKey, u"keycode");
  ASSERT_EQ(keycode.rc, ERROR_SUCCESS);
  EXPECT_EQ(keycode.type, (DWORD)REG_SZ);
  EXPECT_EQ(keycode.bytes.size(), 10u);
  EXPECT_EQ(keycode.bytes, TextBytes(u"None"));

  // The stored placeholder now reads as a text like any other.
  EXPECT_EQ(SettingsStore::ReadString(u"keycode", buffer), 1);
  EXPECT_EQ(std::u16string(buffer), u"None");
}

TEST_F(SettingsStoreTest, TheFirstDefaultWins) {
  EXPECT_EQ(SettingsStore::ReadDword(u"Connection Timeout", 180000), 180000);
  EXPECT_EQ(SettingsStore::ReadDword(u"Connection Timeout", 30000), 180000);
  EXPECT_EQ(SettingsStore::ReadDword(u"connection timeout", 30000), 180000);
  SettingsStore::WriteDword(u"Connection Timeout", 0);
  EXPECT_EQ(SettingsStore::ReadDword(u"Connection Timeout", 30000), 0);
  SettingsStore::WriteDword(u"Serial No", -2);
  EXPECT_EQ(SettingsStore::ReadDword(u"Serial No", 0), -2);
}

// Every entry of the settings table, read from an empty key, is created with
// the table's default and type; a default lies in its own range; and the two
// values of the connection time-out start on the same menu item.
TEST_F(SettingsStoreTest, EveryTableEntryIsCreatedWithItsOneDefault) {
  size_t count = 0;
  const Setting *const *all = Settings::All(&count);
  ASSERT_EQ(count, 22u);
  for (size_t i = 0; i < count; ++i) {
    const Setting &setting = *all[i];
    const std::string name = Utf16ToUtf8(setting.name);
    if (setting.type == SettingType::Text) {
      WCHAR buffer[kSettingTextUnits];
      EXPECT_EQ(SettingsStore::ReadString(setting.name, buffer), 0) << name;
      EXPECT_EQ(ReadStored(kKey, setting.name).type, (DWORD)REG_SZ) << name;
      continue;
    }
    if (setting.defaultFromLayout)
      continue;
    EXPECT_EQ(SettingsStore::ReadNumber(setting), setting.defaultValue) << name;
    StoredValue stored = ReadStored(kKey, setting.name);
    EXPECT_EQ(stored.type, (DWORD)REG_DWORD) << name;
    EXPECT_GE(setting.defaultValue, setting.minimum) << name;
    EXPECT_LE(setting.defaultValue, setting.maximum) << name;
    for (size_t j = 0; j < i; ++j)
      EXPECT_NE(std::u16string(all[j]->name), std::u16string(setting.name)) << name;
  }
  EXPECT_EQ(SettingsStore::ReadNumber(Settings::kConnectionTimeout),
            TimeoutChoiceMilliseconds(SettingsStore::ReadNumber(Settings::kKeyboardTimeout)));
  EXPECT_EQ(TimeoutChoiceMilliseconds(Settings::kKeyboardTimeout.minimum - 1), -1);
  EXPECT_EQ(TimeoutChoiceMilliseconds(Settings::kKeyboardTimeout.maximum + 1), -1);
}

TEST_F(SettingsStoreTest, NumberReadsTakeFourBytesOfAnyTypeAndReplaceLongerValues) {
  // One character and its terminator are four bytes: read as a number.
  SettingsStore::WriteString(u"originX", u"A");
  EXPECT_EQ(SettingsStore::ReadDword(u"originX", 7), 0x41);
  EXPECT_EQ(ReadStored(kKey, u"originX").type, (DWORD)REG_SZ);

  // Two characters are six bytes: the value counts as missing.
  SettingsStore::WriteString(u"originY", u"AB");
  EXPECT_EQ(SettingsStore::ReadDword(u"originY", 7), 7);
  StoredValue y = ReadStored(kKey, u"originY");
  EXPECT_EQ(y.type, (DWORD)REG_DWORD);
  EXPECT_EQ(y.bytes, (std::vector<BYTE>{7, 0, 0, 0}));

  // A shorter value fills the low bytes; the rest reads as zero.
  BYTE two[2] = {0x34, 0x12};
  SetRaw(u"scaleXLow", REG_BINARY, two, 2);
  EXPECT_EQ(SettingsStore::ReadDword(u"scaleXLow", 9), 0x1234);

  // A number write replaces a text, type and all.
  SettingsStore::WriteDword(u"originX", 5);
  StoredValue x = ReadStored(kKey, u"originX");
  EXPECT_EQ(x.type, (DWORD)REG_DWORD);
  EXPECT_EQ(x.bytes, (std::vector<BYTE>{5, 0, 0, 0}));
}

TEST_F(SettingsStoreTest, TextReadsAcceptAtMost1001Bytes) {
  WCHAR buffer[kSettingTextUnits];
  std::u16string longest(499, u'x'); // 1000 bytes with its terminator
  SettingsStore::WriteString(u"Layouts", longest.c_str());
  EXPECT_EQ(SettingsStore::ReadString(u"Layouts", buffer), 1);
  EXPECT_EQ(std::u16string(buffer), longest);

  std::u16string tooLong(500, u'y'); // 1002 bytes
  SettingsStore::WriteString(u"Languages", tooLong.c_str());
  EXPECT_EQ(SettingsStore::ReadString(u"Languages", buffer), 0);
  EXPECT_EQ(std::u16string(buffer), u"None");
  EXPECT_EQ(ReadStored(kKey, u"Languages").bytes, TextBytes(u"None"));
}

TEST_F(SettingsStoreTest, TextsWithoutTerminatorEndInsideTheBuffer) {
  // Room past the 501 units shows whether anything was written beyond them.
  WCHAR buffer[kSettingTextUnits + 8];
  auto fill = [&] { std::fill(std::begin(buffer), std::end(buffer), u'\xAAAA'); };

  fill();
  SetRaw(u"COMPORT", REG_SZ, u"COM5", 8); // no terminator
  EXPECT_EQ(SettingsStore::ReadString(u"COMPORT", buffer), 1);
  EXPECT_EQ(std::u16string(buffer), u"COM5");

  fill();
  SetRaw(u"COMPORT", REG_SZ, "C\0O\0M", 5); // half a character at the end
  EXPECT_EQ(SettingsStore::ReadString(u"COMPORT", buffer), 1);
  EXPECT_EQ(std::u16string(buffer), u"CO");

  fill();
  std::u16string full(501, u'z'); // 1001 bytes of it fit, unterminated
  SetRaw(u"language", REG_SZ, full.data(), 1001);
  EXPECT_EQ(SettingsStore::ReadString(u"language", buffer), 1);
  EXPECT_EQ(std::u16string(buffer), std::u16string(500, u'z'));
  for (size_t i = kSettingTextUnits; i < std::size(buffer); ++i)
    EXPECT_EQ(buffer[i], u'\xAAAA') << "written past the buffer at " << i;

  fill();
  SetRaw(u"language", REG_SZ, "", 0); // empty value
  EXPECT_EQ(SettingsStore::ReadString(u"language", buffer), 1);
  EXPECT_EQ(buffer[0], 0);
}

TEST_F(SettingsStoreTest, KeyThatCannotBeMadeShowsTheBoxAndChangesNothing) {
  // A database that refuses new keys: the settings key can never be made.
  {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(DbPath().c_str(), &db), SQLITE_OK);
    HKEY probe = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &probe), ERROR_SUCCESS);
    RegCloseKey(probe);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TRIGGER refuse BEFORE INSERT ON keys "
                           "BEGIN SELECT RAISE(ABORT, 'refused'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  RegistryUseDatabase(DbPath()); // reopen: the trigger is part of the file now
  testsupport::ScriptedMessageBoxes boxes;
  WCHAR buffer[kSettingTextUnits] = u"old";
  EXPECT_EQ(SettingsStore::ReadDword(u"Keyclicks", 1), 1);
  EXPECT_EQ(SettingsStore::ReadString(u"keycode", buffer), 0);
  EXPECT_EQ(std::u16string(buffer), u"None");
  EXPECT_EQ(SettingsStore::WriteDword(u"Keyclicks", 0), 1);
  EXPECT_EQ(SettingsStore::WriteString(u"keycode", u"x.kcod"), 1);
  const std::vector<testsupport::ShownBox> shown = boxes.Shown();
  ASSERT_EQ(shown.size(), 4u);
  for (const testsupport::ShownBox &box : shown) {
    EXPECT_EQ(box.text, u"RegCreateKeyEx 1");
    EXPECT_EQ(box.caption, u"Error");
  }
  // Nothing landed on the root key instead.
  HKEY root = HKEY_LOCAL_MACHINE;
  WCHAR name[256];
  DWORD nameLen = 256;
  EXPECT_EQ(RegEnumValueW(root, 0, name, &nameLen, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
}

} // namespace

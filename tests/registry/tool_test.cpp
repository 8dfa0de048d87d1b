// vantrel-reg: its commands, output lines and exit statuses.
#include "common/settings_store.h"
#include "tests/registry/registry_test_support.h"

#include <algorithm>

namespace {

class ToolTest : public RegistryTest {
protected:
  ToolResult Run(const std::vector<std::string> &args) { return RunTool(args, DbPath()); }
};

TEST_F(ToolTest, SetGetListAndExport) {
  const std::string key = "HKLM\\Software\\Vantrel";
  EXPECT_EQ(Run({"set", key, "Keyclicks", "--dword", "0"}).status, 0);
  EXPECT_EQ(Run({"set", key, "Serial No", "--dword", "-1"}).status, 0);
  EXPECT_EQ(Run({"set", "HKEY_LOCAL_MACHINE\\Software\\Vantrel", "COMPORT", "--sz", "COM5:"}).status,
            0);
  EXPECT_EQ(Run({"set", key + "\\Sub", "tab", "--sz", "a\tb"}).status, 0);
  HKEY h = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel", 0, KEY_ALL_ACCESS, &h),
            ERROR_SUCCESS);
  const BYTE bin[] = {0x01, 0x0a, 0xff};
  RegSetValueExW(h, u"Raw", 0, REG_BINARY, bin, 3);
  RegCloseKey(h);

  // What the program reads is what the tool wrote.
  EXPECT_EQ(SettingsStore::ReadDword(u"keyclicks", 1), 0);
  EXPECT_EQ(SettingsStore::ReadDword(u"Serial No", 0), -1);
  WCHAR buffer[kSettingTextUnits];
  EXPECT_EQ(SettingsStore::ReadString(u"COMPORT", buffer), 1);
  EXPECT_EQ(std::u16string(buffer), u"COM5:");

  ToolResult get = Run({"get", "hklm\\software\\vantrel", "KEYCLICKS"});
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.out, "Keyclicks\tREG_DWORD\t0\n");
  EXPECT_EQ(Run({"get", key, "COMPORT"}).out, "COMPORT\tREG_SZ\tCOM5:\n");

  ToolResult list = Run({"list", key});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "Keyclicks\tREG_DWORD\t0\n"
                      "Serial No\tREG_DWORD\t4294967295\n"
                      "COMPORT\tREG_SZ\tCOM5:\n"
                      "Raw\tREG_BINARY\t01 0a ff\n"
                      "KEY\tSub\n");

  ToolResult all = Run({"export"});
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.out, "[HKLM]\n\n"
                     "[HKLM\\Software]\n\n"
                     "[HKLM\\Software\\Vantrel]\n"
                     "Keyclicks\tREG_DWORD\t0\n"
                     "Serial No\tREG_DWORD\t4294967295\n"
                     "COMPORT\tREG_SZ\tCOM5:\n"
                     "Raw\tREG_BINARY\t01 0a ff\n\n"
                     "[HKLM\\Software\\Vantrel\\Sub]\n"
                     "tab\tREG_SZ\ta\\x09b\n\n");
}

TEST_F(ToolTest, DeleteAndExitStatuses) {
  const std::string key = "HKLM\\Software\\Vantrel";
  ASSERT_EQ(Run({"set", key + "\\Sub\\Deeper", "x", "--dword", "1"}).status, 0);
  ASSERT_EQ(Run({"set", key, "COMPORT", "--sz", "COM5:"}).status, 0);

  EXPECT_EQ(Run({"delete", key, "comport"}).status, 0);
  ToolResult again = Run({"delete", key, "COMPORT"});
  EXPECT_EQ(again.status, 1);
  EXPECT_FALSE(again.err.empty());
  EXPECT_EQ(Run({"get", key, "COMPORT"}).status, 1);
  EXPECT_EQ(Run({"delete", key + "\\Sub"}).status, 0);
  EXPECT_EQ(Run({"list", key + "\\Sub\\Deeper"}).status, 1);
  EXPECT_EQ(Run({"delete", key + "\\Sub"}).status, 1);

  // Reading a key that is not there does not make it.
  EXPECT_EQ(Run({"list", "HKLM\\Software\\Nothing"}).status, 1);
  EXPECT_EQ(Run({"get", "HKLM\\Software\\Nothing", "x"}).status, 1);
  EXPECT_EQ(Run({"export", "HKLM\\Software\\Nothing"}).status, 1);
  HKEY h = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Nothing", 0, KEY_READ, &h),
            ERROR_FILE_NOT_FOUND);

  for (const std::vector<std::string> &usage : std::vector<std::vector<std::string>>{
           {},
           {"frobnicate"},
           {"get", key},
           {"set", key, "x", "--dword", "12abc"},
           {"set", key, "x", "--dword", "4294967296"},
           {"set", key, "x", "--qword", "1"},
           {"list", "HKCU\\Software"},
           {"delete", "HKLM"},
       }) {
    ToolResult r = Run(usage);
    EXPECT_EQ(r.status, 2) << (usage.empty() ? "(none)" : usage[0]);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  ToolResult help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("export"), std::string::npos);
}

TEST_F(ToolTest, ChangesThatCannotBeKeptAreFailures) {
  WriteFile(dir_.File("plain"), "x");
  ToolResult r = RunTool({"set", "HKLM\\Software\\Vantrel", "x", "--dword", "1"},
                         dir_.File("plain/registry.db"));
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("plain/registry.db"), std::string::npos) << r.err;
}

} // namespace

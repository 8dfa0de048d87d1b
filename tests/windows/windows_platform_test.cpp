// The Windows platform's own calls against the real Win32 API (run under
// Wine): the key records typed for the key logic's calls, the program's
// dialog templates as Win32 reads them, its registry keys' places, the
// Bluetooth ports' addresses, the power requirement, the resources and the
// menu bar's answers.
#include "platform/inject.h"
#include "platform/menus.h"
#include "platform/power.h"
#include "platform/registry.h"
#include "platform/resource_formats.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/win/inject/key_records.h"
#include "platform/win/registry/bluetooth_view.h"
#include "platform/win/shell/dialog_bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A record written as "v41+" (virtual key down), "v41-" (up), "u20ac+"
// (the character itself, down) or "u20ac-".
std::string Shown(const std::vector<INPUT> &records) {
  std::string out;
  for (const INPUT &r : records) {
    char one[16];
    const bool up = r.ki.dwFlags & KEYEVENTF_KEYUP;
    if (r.ki.dwFlags & KEYEVENTF_UNICODE)
      snprintf(one, sizeof one, "u%x%c ", r.ki.wScan, up ? '-' : '+');
    else
      snprintf(one, sizeof one, "v%x%c ", r.ki.wVk, up ? '-' : '+');
    out += one;
  }
  if (!out.empty())
    out.pop_back();
  return out;
}

// A US-like layout: letters on their keys (capitals with Shift), "!" on
// Shift+1, "€" only with Ctrl+Alt (AltGr), nothing for accented letters.
SHORT UsLayout(WCHAR c) {
  if (c >= u'a' && c <= u'z')
    return static_cast<SHORT>(c - u'a' + 'A');
  if (c >= u'A' && c <= u'Z')
    return static_cast<SHORT>(0x100 | c);
  if (c == u'!')
    return 0x131;
  if (c == u' ')
    return 0x20;
  if (c == 0x20AC)
    return 0x645;
  return -1;
}

TEST(WindowsTyping, CharactersBecomeKeysOrThemselvesAndNothingStaysDown) {
  struct Case {
    std::u16string text;
    bool capsLock;
    const char *records;
  } cases[] = {
      {u"a", false, "v41+ v41-"},
      {u"A", false, "v10+ v41+ v41- v10-"},
      {u"!", false, "v10+ v31+ v31- v10-"},
      // Caps Lock would turn the letter's case: the letter goes as itself.
      {u"a", true, "u61+ u61-"},
      {u"\u00e9", false, "ue9+ ue9-"},
      // AltGr would reach the window's Ctrl+Alt shortcuts.
      {u"\u20ac", false, "u20ac+ u20ac-"},
      {u"\b\t\r\x1b", false, "v8+ v8- v9+ v9- vd+ vd- v1b+ v1b-"},
      // A pair is one character; a lone half is dropped.
      {u"\U0001F600", false, "ud83d+ ud83d- ude00+ ude00-"},
      {std::u16string(1, char16_t(0xD800)) + u"a", false, "v41+ v41-"},
  };
  for (const Case &c : cases) {
    std::vector<UINT> chars(c.text.begin(), c.text.end());
    KeyboardLayoutQuery layout;
    layout.vkFor = UsLayout;
    layout.capsLockOn = c.capsLock;
    std::vector<INPUT> records;
    AppendText(records, chars.data(), static_cast<UINT>(chars.size()), layout);
    EXPECT_EQ(Shown(records), c.records) << Utf16ToUtf8(c.text);
  }
}

const DLGITEMTEMPLATEW kItems[] = {
    {u"STATIC", u"Pick one:", 100, SS_LEFT, 0, 4, 4, 100, 10},
    {u"BUTTON", u"\u00c9tape", 101, BS_PUSHBUTTON | WS_TABSTOP, 0, 4, 20, 60, 14},
    {u"LISTBOX", nullptr, 102, LBS_NOTIFY | WS_BORDER, 0, 4, 40, 100, 40},
};
const DLGTEMPLATE kTemplate = {WS_POPUP | WS_CAPTION, 0, u"Caption \u00fc", nullptr, 0,
                               0, 0, 120, 90, kItems, 3};

TEST(WindowsDialogs, TemplateIsReadByUser32WithEveryControl) {
  std::vector<WORD> bytes = Win32DialogBytes(kTemplate);
  HWND dialog = CreateDialogIndirectParamW(
      GetModuleHandleW(nullptr), reinterpret_cast<const Win32DlgTemplate *>(bytes.data()), nullptr,
      [](HWND, UINT msg, WPARAM, LPARAM) -> INT_PTR { return msg == WM_INITDIALOG; }, 0);
  ASSERT_NE(dialog, nullptr) << GetLastError();
  WCHAR text[64] = {};
  GetWindowTextW(dialog, text, 64);
  EXPECT_EQ(std::u16string(text), u"Caption \u00fc");
  const struct {
    int id;
    const char16_t *cls;
    const char16_t *text;
  } expected[] = {{100, u"Static", u"Pick one:"}, {101, u"Button", u"\u00c9tape"},
                  {102, u"ListBox", u""}};
  for (const auto &e : expected) {
    HWND item = GetDlgItem(dialog, e.id);
    ASSERT_NE(item, nullptr) << e.id;
    GetClassNameW(item, text, 64);
    EXPECT_EQ(_wcsicmp(text, e.cls), 0) << e.id;
    GetWindowTextW(item, text, 64);
    EXPECT_EQ(std::u16string(text), e.text) << e.id;
  }
  DestroyWindow(dialog);
}

TEST(WindowsRegistry, ProgramSettingsAreTheUsersOwn) {
  const WCHAR kKey[] = u"Software\\Vantrel\\WindowsTest";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  const DWORD value = 42;
  ASSERT_EQ(RegSetValueExW(key, u"Answer", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                           sizeof value),
            ERROR_SUCCESS);
  HKEY child = nullptr;
  ASSERT_EQ(RegCreateKeyExW(key, u"Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(child);
  RegCloseKey(key);
  DWORD read = 0, size = sizeof read;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kKey, u"Answer", RRF_RT_REG_DWORD, nullptr, &read,
                         &size),
            ERROR_SUCCESS);
  EXPECT_EQ(read, 42u);
  // Another program's machine-wide key is left where it is.
  HKEY other = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Microsoft", 0, KEY_READ, &other),
            ERROR_SUCCESS);
  RegCloseKey(other);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Microsoft\\Bluetooth", 0, KEY_READ,
                          &other),
            ERROR_FILE_NOT_FOUND);
  // Deleted with what is below it.
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &other), ERROR_FILE_NOT_FOUND);
}

TEST(WindowsBluetooth, AddressComesFromTheEnumeratorsInstanceId) {
  const struct {
    const char16_t *id;
    const char16_t *address;
  } cases[] = {
      {u"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1A2B3C&0&02A5F3123456_"
       u"C00000000",
       u"02a5f3123456"},
      {u"bthenum\\{00001101-0000-1000-8000-00805f9b34fb}_vid&0001\\8&1&0&001122aabbcc_c00000003",
       u"001122aabbcc"},
      // A local service's port has no device; other enumerators are not
      // Bluetooth; a malformed id gives nothing.
      {u"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0000\\7&1&0&000000000000_"
       u"00000000",
       u""},
      {u"USB\\VID_067B&PID_2303\\5&2F1C&0&1", u""},
      {u"BTHENUM\\X\\7&1&0&02A5F31234_C0", u""},
      {u"BTHENUM\\X\\7&1&0&02A5F312345G_C0", u""},
  };
  for (const auto &c : cases)
    EXPECT_EQ(BluetoothAddressOfInstance(c.id), c.address) << Utf16ToUtf8(c.id);
}

TEST(WindowsPower, RequirementKeepsAwakeUntilItsReleaseOrTheEnd) {
  HANDLE a = SetPowerRequirement(u"BKL1:", D0, POWER_NAME, nullptr, 0);
  HANDLE b = SetPowerRequirement(u"BKL1:", D0, POWER_NAME, nullptr, 0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(ReleasePowerRequirement(a), static_cast<DWORD>(ERROR_SUCCESS));
  // The holder thread works the state out in order; stopping waits for it.
  EXPECT_TRUE(StopPowerManager(1000));
  PowerManagerStatus status = GetPowerManagerStatus();
  EXPECT_FALSE(status.running);
  EXPECT_FALSE(status.keepAwake) << "the end of the power manager releases every requirement";
  EXPECT_EQ(ReleasePowerRequirement(reinterpret_cast<HANDLE>(uintptr_t{1} << 40)),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

const MENUITEMRESOURCE kPopupItems[] = {
    {u"First", 11, MF_CHECKED, nullptr, 0},
    {nullptr, 0, MF_SEPARATOR, nullptr, 0},
    {u"Second", 12, MF_GRAYED, nullptr, 0},
};
const MENUITEMRESOURCE kTop[] = {{u"Options", 0, 0, kPopupItems, 3}};
const MENURESOURCE kMenu = {kTop, 1};
const STRINGRESOURCE kLong = {u"Vantrel"};

TEST(WindowsResources, TablesInMemoryBecomeMenusAndBoundedStrings) {
  RegisterResource(RT_MENU, 9001, &kMenu, sizeof kMenu);
  RegisterResource(RT_STRING, 9001, &kLong, sizeof kLong);
  HMENU menu = LoadMenuW(nullptr, MAKEINTRESOURCEW(9001));
  ASSERT_NE(menu, nullptr);
  HMENU popup = GetSubMenu(menu, 0);
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(GetMenuItemCount(popup), 3);
  EXPECT_EQ(GetMenuState(popup, 11, MF_BYCOMMAND) & MF_CHECKED, MF_CHECKED);
  EXPECT_EQ(GetMenuState(popup, 12, MF_BYCOMMAND) & MF_GRAYED, MF_GRAYED);
  DestroyMenu(menu);
  EXPECT_EQ(LoadMenuW(nullptr, MAKEINTRESOURCEW(9002)), nullptr);

  WCHAR buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(LoadStringW(nullptr, 9001, buffer, 4), 3);
  EXPECT_EQ(std::u16string(buffer), u"Van");
  EXPECT_EQ(LoadStringW(nullptr, 9002, buffer, 4), 0);
  EXPECT_EQ(buffer[0], 0);
}

// The bar answers the logic's questions as on Linux: each field asked for,
// the caption cut to the caller's buffer, the pop-up of a drop-down button.
const MENUBARBUTTON kBarButtons[] = {
    {21, TBSTATE_ENABLED, TBSTYLE_DROPDOWN, 9001, u"unused", 0},
    {22, TBSTATE_ENABLED, TBSTYLE_BUTTON, 0, u"Quit", -1},
};
const MENUBARRESOURCE kBar = {9001, 2, kBarButtons};

TEST(WindowsMenuBar, ButtonInfoGivesEachFieldAskedFor) {
  RegisterResource(RT_MENU, 9001, &kMenu, sizeof kMenu);
  RegisterResource(RT_STRING, 9001, &kLong, sizeof kLong);
  RegisterResource(RT_MENUBAR, 9003, &kBar, sizeof kBar);
  WNDCLASSW cls = {};
  cls.lpfnWndProc = DefWindowProcW;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = u"VantrelMenuBarTest";
  RegisterClassW(&cls);
  HWND parent = CreateWindowExW(0, cls.lpszClassName, u"", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                nullptr, nullptr, cls.hInstance, nullptr);
  ASSERT_NE(parent, nullptr);
  SHMENUBARINFO info = {};
  info.cbSize = sizeof info;
  info.hwndParent = parent;
  info.nToolBarId = 9003;
  ASSERT_TRUE(SHCreateMenuBar(&info));
  const HMENU whole = reinterpret_cast<HMENU>(SendMessageW(info.hwndMB, SHCMBM_GETMENU, 0, 0));
  ASSERT_NE(whole, nullptr);
  const HMENU options = GetSubMenu(whole, 0);
  struct Case {
    WPARAM which;
    DWORD mask;
    int units;
    LRESULT index;
    const char16_t *caption;
    HMENU popup;
  } cases[] = {
      {0, TBIF_BYINDEX | TBIF_TEXT | TBIF_LPARAM | TBIF_COMMAND, 4, 0, u"Van", options},
      {22, TBIF_TEXT | TBIF_LPARAM | TBIF_COMMAND, 16, 1, u"Quit", nullptr},
      {23, TBIF_TEXT, 16, -1, u"x", nullptr},
  };
  for (const Case &c : cases) {
    WCHAR text[16] = {u'x', 0};
    TBBUTTONINFOW button = {};
    button.cbSize = sizeof button;
    button.dwMask = c.mask;
    button.pszText = text;
    button.cchText = c.units;
    EXPECT_EQ(SendMessageW(info.hwndMB, TB_GETBUTTONINFO, c.which, reinterpret_cast<LPARAM>(&button)),
              c.index)
        << c.which;
    EXPECT_EQ(std::u16string(text), c.caption) << c.which;
    if (c.index >= 0) {
      EXPECT_EQ(button.idCommand, static_cast<int>(kBarButtons[c.index].command)) << c.which;
      EXPECT_EQ(reinterpret_cast<HMENU>(button.lParam), c.popup) << c.which;
    }
  }
  EXPECT_EQ(reinterpret_cast<HMENU>(SendMessageW(info.hwndMB, SHCMBM_GETSUBMENU, 0, 21)), options);
  DestroyWindow(parent);
}

} // namespace

// Menus (states, showing and choosing), the soft-key bar and its Options
// pop-up, and controls telling their parent what the user did.
#include "platform/controls.h"
#include "platform/menus.h"
#include "platform/shell.h"
#include "tests/support/toolkit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <vector>

using namespace testsupport;

namespace {

const MENUITEMRESOURCE kTimeouts[] = {
    {u"1 min", 125, 0, nullptr, 0}, {u"5 min", 126, 0, nullptr, 0}, {u"Never", 114, 0, nullptr, 0}};
const MENUITEMRESOURCE kOptions[] = {
    {u"Connected?", 110, 0, nullptr, 0},
    {u"Connection Timeout", 0, 0, kTimeouts, 3},
    {u"Battery Status", 116, 0, nullptr, 0},
    {u"About", 119, 0, nullptr, 0},
};
const MENUITEMRESOURCE kTop[] = {{u"Options", 0, 0, kOptions, 4}, {u"Quit", 123, 0, nullptr, 0}};
const MENURESOURCE kMenu{kTop, 2};
const MENUBARBUTTON kButtons[] = {
    {40001, TBSTATE_ENABLED, TBSTYLE_DROPDOWN | TBSTYLE_AUTOSIZE, 109, nullptr, 0},
    {40002, TBSTATE_ENABLED, TBSTYLE_AUTOSIZE, 108, nullptr, -1}};
const MENUBARRESOURCE kBar{300, 2, kButtons};
const STRINGRESOURCE kOptionsText{u"Options"}, kQuitText{u"Quit"};

void RegisterTestResources() {
  RegisterResource(RT_MENU, 300, &kMenu, sizeof kMenu);
  RegisterResource(RT_MENUBAR, 300, &kBar, sizeof kBar);
  RegisterResource(RT_STRING, 109, &kOptionsText, sizeof kOptionsText);
  RegisterResource(RT_STRING, 108, &kQuitText, sizeof kQuitText);
}

// Chooses the item with the given text from the pop-up on screen.
void ChooseSoon(const QString &text) {
  QTimer::singleShot(50, [text] {
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr) << "no pop-up menu shown";
    for (QAction *a : menu->actions())
      if (a->text() == text) {
        a->trigger();
        menu->close();
        return;
      }
    menu->close();
    ADD_FAILURE() << "no item " << text.toStdString();
  });
}

TEST(Menus, StatesByCommandReachSubMenusAndByPositionStayLocal) {
  RegisterTestResources();
  HMENU menu = LoadMenuW(nullptr, MAKEINTRESOURCEW(300));
  ASSERT_NE(menu, nullptr);
  HMENU options = GetSubMenu(menu, 0);
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(CheckMenuItem(options, 126, MF_BYCOMMAND | MF_CHECKED), MF_UNCHECKED);
  EXPECT_EQ(GetMenuState(menu, 126, MF_BYCOMMAND) & MF_CHECKED, MF_CHECKED); // found from the top too
  EXPECT_EQ(CheckMenuItem(options, 126, MF_UNCHECKED), MF_CHECKED);
  EXPECT_EQ(EnableMenuItem(options, 116, MF_GRAYED), MF_ENABLED);
  EXPECT_EQ(GetMenuState(options, 116, MF_BYCOMMAND) & MF_GRAYED, MF_GRAYED);
  EXPECT_EQ(EnableMenuItem(options, 116, MF_ENABLED), MF_GRAYED);
  EXPECT_EQ(CheckMenuItem(options, 999, MF_CHECKED), static_cast<DWORD>(-1));
  EXPECT_EQ(CheckMenuItem(options, 125, MF_BYPOSITION | MF_CHECKED), static_cast<DWORD>(-1)); // only 4 items
  EXPECT_NE(GetMenuState(options, 1, MF_BYPOSITION) & MF_POPUP, 0u);
  EXPECT_TRUE(DestroyMenu(menu));
  EXPECT_EQ(CheckMenuItem(options, 110, MF_CHECKED), static_cast<DWORD>(-1)); // went with its parent
}

TEST(Menus, ASubMenuInTwoMenusNeverLeavesAFreedPopUpBehind) {
  HMENU sub = CreatePopupMenu();
  ASSERT_TRUE(AppendMenuW(sub, MF_STRING, 77, u"Inner"));
  HMENU first = CreatePopupMenu(), second = CreatePopupMenu();
  ASSERT_TRUE(AppendMenuW(first, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"Sub"));
  ASSERT_TRUE(AppendMenuW(second, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"Sub"));
  EXPECT_TRUE(DestroyMenu(first)); // takes the sub-menu along
  // The second menu keeps its item, without the freed pop-up.
  EXPECT_EQ(GetSubMenu(second, 0), nullptr);
  EXPECT_EQ(GetMenuState(second, 0, MF_BYPOSITION) & MF_POPUP, 0u);
  EXPECT_EQ(CheckMenuItem(second, 77, MF_CHECKED), static_cast<DWORD>(-1));
  EXPECT_TRUE(DestroyMenu(second));
}

TEST(Menus, TrackPopupMenuDeliversChoiceAfterInitMenuPopup) {
  std::vector<UINT> heard;
  HMENU popup = CreatePopupMenu();
  AppendMenuW(popup, MF_STRING, 119, u"About");
  AppendMenuW(popup, MF_STRING | MF_GRAYED, 146, u"Reset ComPort");
  HWND hwnd = MakeTestWindow([&](HWND, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
    if (msg == WM_INITMENUPOPUP) {
      EXPECT_EQ(reinterpret_cast<HMENU>(wParam), popup);
      heard.push_back(msg);
    }
    if (msg == WM_COMMAND) {
      heard.push_back(LOWORD(wParam));
      PostQuitMessage(0);
    }
    return -2;
  });
  QTimer::singleShot(50, [] {
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_FALSE(menu->actions()[1]->isEnabled()); // greyed
  });
  ChooseSoon("About");
  RECT w;
  GetWindowRect(hwnd, &w);
  EXPECT_TRUE(TrackPopupMenuEx(popup, TPM_BOTTOMALIGN, 0, w.bottom, hwnd, nullptr));
  EXPECT_TRUE(RunMessageLoop(3000));
  EXPECT_EQ(heard, (std::vector<UINT>{WM_INITMENUPOPUP, 119}));
  DestroyMenu(popup);
  DestroyWindow(hwnd);
}

// A command that is never checked shows no empty check box; one that has
// been checked shows its box, empty once unchecked again.
TEST(Menus, OnlyItemsThatAreCheckedOrUncheckedShowACheckBox) {
  HMENU popup = CreatePopupMenu();
  AppendMenuW(popup, MF_STRING, 115, u"Keyclicks?");
  AppendMenuW(popup, MF_STRING, 116, u"Battery Status");
  AppendMenuW(popup, MF_STRING | MF_CHECKED, 114, u"Never");
  CheckMenuItem(popup, 115, MF_BYCOMMAND | MF_CHECKED);
  CheckMenuItem(popup, 115, MF_BYCOMMAND | MF_UNCHECKED);
  HWND hwnd = MakeTestWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return -2; });
  std::vector<std::pair<bool, bool>> shown; // checkable, checked
  QTimer::singleShot(50, [&] {
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    for (QAction *a : menu->actions())
      shown.emplace_back(a->isCheckable(), a->isChecked());
    menu->close();
  });
  TrackPopupMenuEx(popup, TPM_RETURNCMD, 0, 0, hwnd, nullptr);
  EXPECT_EQ(shown, (std::vector<std::pair<bool, bool>>{{true, false}, {false, false}, {true, true}}));
  DestroyMenu(popup);
  DestroyWindow(hwnd);
}

// An ordinary window's bar is a menu bar above its client area: its
// drop-down button is a menu filled from the pop-up (after the owner's
// WM_INITMENUPOPUP), and its plain button (Quit) is that menu's last item.
TEST(MenuBar, OrdinaryWindowGetsAMenuBarWithTheOptionsAndQuit) {
  RegisterTestResources();
  HMENU initialised = nullptr;
  std::vector<UINT> commands;
  HWND hwnd = MakeTestWindow([&](HWND, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
    if (msg == WM_INITMENUPOPUP && !initialised)
      initialised = reinterpret_cast<HMENU>(wParam);
    if (msg == WM_COMMAND) {
      commands.push_back(LOWORD(wParam));
      if (commands.size() == 2)
        PostQuitMessage(0);
    }
    return -2;
  });
  SHMENUBARINFO mbi{};
  mbi.cbSize = 36;
  mbi.hwndParent = hwnd;
  mbi.nToolBarId = 300;
  ASSERT_TRUE(SHCreateMenuBar(&mbi));
  ASSERT_NE(mbi.hwndMB, nullptr);
  TBBUTTONINFO tbbi{};
  tbbi.cbSize = sizeof tbbi;
  tbbi.dwMask = TBIF_BYINDEX | TBIF_LPARAM;
  EXPECT_EQ(SendMessageW(mbi.hwndMB, TB_GETBUTTONINFO, 0, reinterpret_cast<LPARAM>(&tbbi)), 0);
  HMENU options = reinterpret_cast<HMENU>(tbbi.lParam);
  HMENU whole = reinterpret_cast<HMENU>(SendMessageW(mbi.hwndMB, SHCMBM_GETMENU, 0, 0));
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(options, GetSubMenu(whole, 0));

  Spin(50);
  auto *bar = qobject_cast<QMenuBar *>(ClientWidget(mbi.hwndMB));
  ASSERT_NE(bar, nullptr);
  // Above the client area, which keeps the size the window was given.
  QWidget *client = ClientWidget(hwnd);
  EXPECT_EQ(bar->geometry().bottom() + 1, client->geometry().top());
  EXPECT_TRUE(bar->findChildren<QPushButton *>().isEmpty());
  ASSERT_EQ(bar->actions().size(), 1);
  QMenu *menu = bar->actions()[0]->menu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->title(), "Options");

  auto choose = [menu](const QString &text) {
    QTimer::singleShot(0, menu, [menu, text] {
      menu->popup(QPoint(0, 0)); // fills it, as a click on the bar does
      for (QAction *a : menu->actions())
        if (a->text() == text) {
          a->trigger();
          menu->close();
          return;
        }
      ADD_FAILURE() << "no item " << text.toStdString();
      menu->close();
    });
  };
  choose("Battery Status");
  QTimer::singleShot(300, menu, [&] { choose("Quit"); });
  EXPECT_TRUE(RunMessageLoop(3000));
  EXPECT_EQ(initialised, options);
  EXPECT_EQ(commands, (std::vector<UINT>{116, 40002}));
  // Quit comes last, after a separator.
  ASSERT_GE(menu->actions().size(), 2);
  EXPECT_TRUE(menu->actions()[menu->actions().size() - 2]->isSeparator());
  EXPECT_EQ(menu->actions().back()->text(), "Quit");
  DestroyWindow(hwnd);
  EXPECT_FALSE(IsWindow(mbi.hwndMB));
}

TEST(Controls, UserActionsReachTheParentAsWmCommand) {
  std::vector<std::pair<int, int>> notes; // (id, code)
  HWND hwnd = MakeTestWindow([&](HWND, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
    if (msg == WM_COMMAND)
      notes.emplace_back(LOWORD(wParam), HIWORD(wParam));
    return -2;
  });
  auto make = [&](LPCWSTR cls, LPCWSTR text, DWORD style, int id, int y) {
    return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 5, y, 200, 24, hwnd,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
  };
  HWND a = make(u"BUTTON", u"US", BS_AUTORADIOBUTTON, 500, 0);
  HWND b = make(u"BUTTON", u"UK", BS_AUTORADIOBUTTON, 501, 30);
  HWND plain = make(u"BUTTON", u"Intl", BS_RADIOBUTTON, 502, 60);
  HWND combo = make(u"COMBOBOX", nullptr, CBS_DROPDOWNLIST, 1013, 90);
  HWND list = make(u"LISTBOX", nullptr, 0, 1018, 120);
  ASSERT_TRUE(a && b && plain && combo && list);
  EXPECT_EQ(GetDlgItem(hwnd, 1013), combo);
  EXPECT_EQ(GetDlgCtrlID(list), 1018);
  Spin(30);

  SendMessageW(a, BM_SETCHECK, BST_CHECKED, 0);
  qobject_cast<QAbstractButton *>(ClientWidget(b))->click();
  EXPECT_EQ(SendMessageW(a, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessageW(b, BM_GETCHECK, 0, 0), BST_CHECKED);
  qobject_cast<QAbstractButton *>(ClientWidget(plain))->click();
  EXPECT_EQ(SendMessageW(plain, BM_GETCHECK, 0, 0), BST_UNCHECKED); // changes only by BM_SETCHECK

  for (LPCWSTR s : {u"Low", u"Medium", u"High"})
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  EXPECT_EQ(SendMessageW(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"med")), 1);
  // The exact search wants the whole text (case aside) and selects nothing.
  EXPECT_EQ(SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"Lo")), CB_ERR);
  EXPECT_EQ(SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"high")), 2);
  EXPECT_EQ(SendMessageW(combo, CB_FINDSTRINGEXACT, 2, reinterpret_cast<LPARAM>(u"Low")), 0); // wraps round
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
  auto *box = qobject_cast<QComboBox *>(ClientWidget(combo));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->currentText(), "Medium");
  box->activated(2); // the user's choice
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
  WCHAR text[100];
  EXPECT_EQ(SendMessageW(combo, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(text)), 4);
  EXPECT_EQ(std::u16string(text), u"High");

  SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"Deutsch"));
  SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"English"));
  SendMessageW(list, LB_SETCURSEL, 0, 0); // the program's own change: no notification
  qobject_cast<QListWidget *>(ClientWidget(list))->setCurrentRow(1);
  EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 1);

  EXPECT_EQ(notes, (std::vector<std::pair<int, int>>{{501, BN_CLICKED},
                                                     {502, BN_CLICKED},
                                                     {1013, CBN_SELCHANGE},
                                                     {1013, CBN_SELENDOK},
                                                     {1018, LBN_SELCHANGE}}));

  // A disabled control takes no input and says so.
  EnableWindow(combo, FALSE);
  EXPECT_FALSE(IsWindowEnabled(combo));
  EXPECT_FALSE(ClientWidget(combo)->isEnabled());
  SetWindowTextW(b, u"United Kingdom");
  EXPECT_EQ(GetWindowTextW(b, text, 100), 14);
  EXPECT_EQ(qobject_cast<QAbstractButton *>(ClientWidget(b))->text(), "United Kingdom");
  DestroyWindow(hwnd);
  EXPECT_FALSE(IsWindow(list));
}

} // namespace

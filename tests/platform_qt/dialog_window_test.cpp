// Dialogs as desktop windows: a page asked to fill the screen is its
// controls' size instead, a person can make it larger but not smaller, its
// Done is the desktop's Close at the bottom right, its controls keep their
// template height, the
// window's close button and Escape are the cancel command, Enter presses
// the default button, labels take no focus, Tab goes in reading order and a
// label's mnemonic reaches its control; message boxes without a shown owner
// sit over the main window.
#include "common/globals.h"
#include "platform/controls.h"
#include "platform/resource_formats.h"
#include "platform/shell.h"
#include "resources/resource_ids.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/toolkit.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace testsupport;

namespace {

constexpr DWORD kPage = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
constexpr DWORD kLabel = WS_CHILD | WS_VISIBLE;
constexpr int kName = 11, kChoice = 12;

// The combo box comes first in the template but lies below the field: Tab
// goes by the page, not by the template. The field is a one-line field the
// template made far too tall; the combo box's height holds its list.
const DLGITEMTEMPLATEW kItems[] = {
    {u"STATIC", u"&Choice", -1, kLabel, 0, 7, 55, 75, 8},
    {u"COMBOBOX", nullptr, kChoice, kLabel | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0, 7, 66, 90, 40},
    {u"STATIC", u"&Name", -1, kLabel, 0, 7, 6, 75, 8},
    {u"EDIT", nullptr, kName, kLabel | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, 7, 17, 125, 34},
    {u"STATIC", u"Just words", -1, kLabel, 0, 7, 90, 75, 8},
};
const DLGTEMPLATE kTemplate{kPage, 0, u"Page", u"MS Shell Dlg", 8, 0, 0, 156, 145, kItems, 5};

std::vector<int> gCommands;

INT_PTR PageProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_INITDIALOG) {
    SHINITDLGINFO info{SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN};
    SHInitDialog(&info);
    SHMENUBARINFO bar{};
    bar.cbSize = 36;
    bar.hwndParent = dialog;
    bar.nToolBarId = kMenuBarDone;
    SHCreateMenuBar(&bar);
    SendDlgItemMessageW(dialog, kChoice, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"One"));
    AppGlobals.openDialog = dialog;
    return TRUE;
  }
  if (msg == WM_COMMAND && LOWORD(wParam) < 1000)
    gCommands.push_back(LOWORD(wParam));
  return FALSE;
}

int ControlId(QWidget *widget) {
  for (; widget; widget = widget->parentWidget()) {
    for (int id : {kName, kChoice})
      if (ClientWidget(GetDlgItem(AppGlobals.openDialog.load(), id)) == widget)
        return id;
    if (qobject_cast<QPushButton *>(widget))
      return 40004;
  }
  return 0;
}

class DialogWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    gCommands.clear();
    main_ = MakeMainWindowStandIn();
    Spin(20);
  }
  void TearDown() override { DestroyWindow(main_); }
  void Open(const std::function<void(HWND)> &script) {
    ASSERT_TRUE(DriveDialog(
        [] { DialogBoxIndirectParamW(nullptr, &kTemplate, AppGlobals.mainWindow, PageProc, 0); },
        [&](HWND dialog) {
          ASSERT_NE(dialog, nullptr);
          script(dialog);
          EndDialog(dialog, 0);
        },
        kDriveShown));
  }
  // Lets the posted commands arrive.
  static void Settle() {
    for (int i = 0; i < 5; ++i)
      Spin(10);
  }
  HWND main_ = nullptr;
};

TEST_F(DialogWindowTest, FullScreenPageIsItsContentsSizeAndControlsTheirOwnHeight) {
  Open([&](HWND dialog) {
    QWidget *frame = ClientWidget(dialog)->window();
    QWidget *mainFrame = ClientWidget(main_)->window();
    // Its controls' size, less than the main window's, centred on it.
    EXPECT_LT(frame->height(), mainFrame->height());
    EXPECT_LE((frame->frameGeometry().center() - mainFrame->frameGeometry().center()).manhattanLength(), 2);
    // One button, the desktop's Close, the default; no second close button.
    const auto buttons = frame->findChildren<QPushButton *>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text().remove(u'&'), "Close");
    EXPECT_TRUE(buttons[0]->isDefault());
    EXPECT_GT(buttons[0]->mapTo(frame, buttons[0]->rect().bottomRight()).x(), frame->width() * 3 / 4);
    // A person can stretch the page, not shrink it below its content.
    const QSize least = frame->size();
    frame->resize(least + QSize(100, 100));
    EXPECT_EQ(frame->size(), least + QSize(100, 100));
    frame->resize(least - QSize(50, 50));
    EXPECT_EQ(frame->size(), least);

    QFontMetrics metrics(frame->font());
    const int unitY = metrics.height();
    QWidget *field = ClientWidget(GetDlgItem(dialog, kName));
    QWidget *combo = ClientWidget(GetDlgItem(dialog, kChoice));
    ASSERT_TRUE(field && combo);
    EXPECT_LE(field->height(), 34 * unitY / 8);
    EXPECT_EQ(field->height(), field->sizeHint().height()); // one line
    EXPECT_LE(combo->height(), 40 * unitY / 8);
    EXPECT_EQ(combo->height(), combo->sizeHint().height());
    EXPECT_EQ(field->y(), 17 * unitY / 8); // where the template put it, not moved down
  });
}

TEST_F(DialogWindowTest, CloseButtonAndEscapeCancelEnterPressesTheDefaultButton) {
  Open([&](HWND dialog) {
    QWidget *frame = ClientWidget(dialog)->window();
    frame->close();
    Settle();
    EXPECT_TRUE(frame->isVisible()); // the procedure decides
    EXPECT_EQ(gCommands, std::vector<int>{IDCANCEL});

    gCommands.clear();
    QWidget *field = ClientWidget(GetDlgItem(dialog, kName));
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Escape);
    Settle();
    EXPECT_EQ(gCommands, std::vector<int>{IDCANCEL});

    // Enter in the field presses Done (the bar posts its command, 40004,
    // not counted here), not IDOK.
    gCommands.clear();
    int done = 0;
    QObject::connect(frame->findChild<QPushButton *>(), &QPushButton::clicked, [&] { ++done; });
    QTest::keyClick(field, Qt::Key_Return);
    Settle();
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(gCommands.empty());
  });
}

TEST_F(DialogWindowTest, LabelsTakeNoFocusTabGoesDownThePageMnemonicsReachTheirControl) {
  Open([&](HWND dialog) {
    QWidget *frame = ClientWidget(dialog)->window();
    for (QLabel *label : frame->findChildren<QLabel *>())
      for (QWidget *w = label; w && w != ClientWidget(dialog); w = w->parentWidget())
        EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << label->text().toStdString();

    frame->activateWindow();
    Spin(30);
    // The top control has the focus first, then Tab goes down the page
    // and on to Done.
    std::vector<int> order{ControlId(QApplication::focusWidget())};
    for (int i = 0; i < 3; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      order.push_back(ControlId(QApplication::focusWidget()));
    }
    EXPECT_EQ(order, (std::vector<int>{kName, kChoice, 40004, kName}));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(ControlId(QApplication::focusWidget()), kChoice);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_N, Qt::AltModifier);
    EXPECT_EQ(ControlId(QApplication::focusWidget()), kName);
    Settle();
    EXPECT_TRUE(gCommands.empty());
  });
}

// A box the reader thread asks for with no owner is centred on the main
// window, as is one a dialog asks for before it is shown.
TEST_F(DialogWindowTest, MessageBoxWithoutAShownOwnerSitsOverTheMainWindow) {
  QWidget *mainFrame = ClientWidget(main_)->window();
  QWidget *parent = nullptr;
  bool seen = false;
  QTimer look;
  look.setInterval(10);
  QObject::connect(&look, &QTimer::timeout, [&] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
        parent = box->parentWidget();
        seen = true;
        box->reject();
      }
  });
  look.start();
  std::thread reader([] { MessageBoxW(nullptr, u"From the reader", u"Vantrel", MB_OK); });
  for (int i = 0; i < 500 && !seen; ++i)
    Spin(10);
  reader.join();
  EXPECT_TRUE(seen);
  EXPECT_EQ(parent, mainFrame);
}

} // namespace

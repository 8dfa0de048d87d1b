// Every dialog on a real X server (an Xvfb of the test's own), as a person
// sees it: each is saved as a picture with the main window behind it
// (VANTREL_DIALOG_SHOTS, else dialog-shots in the build folder), its
// geometry is checked against its template and the main window, and the
// keyboard is driven with xdotool: Tab order, mnemonics, Escape and Enter.
// Skipped when Xvfb or xdotool is missing.
#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/about_dialog.h"
#include "dialogs/battery_dialog.h"
#include "dialogs/calibration_dialog.h"
#include "dialogs/help_page.h"
#include "dialogs/hot_tips_dialog.h"
#include "dialogs/key_test.h"
#include "dialogs/selection_dialog.h"
#include "dialogs/typing_settings_dialog.h"
#include "keys/keycode_table.h"
#include "platform/controls.h"
#include "platform/qt/qt_internal.h"
#include "platform/qt_app.h"
#include "platform/resource_formats.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "resources/resource_ids.h"
#include "resources/resources.h"
#include "tests/inject/x_session.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/link_stand_in.h"
#include "tests/support/sandbox.h"
#include "tests/support/scripted_message_boxes.h"
#include "tests/support/thread_check.h"
#include "tests/support/toolkit.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

using namespace testsupport;

namespace {

bool gOnX = false;
std::string gWhyNot;

std::string ShotsFolder() {
  const char *dir = std::getenv("VANTREL_DIALOG_SHOTS");
  return dir && *dir ? dir : VANTREL_BINARY_DIR "/dialog-shots";
}

// Spins the toolkit until done() holds; false after a generous limit (a
// hang guard, not a timing check).
bool SpinUntil(const std::function<bool()> &done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > 10000)
      return false;
    Spin(10);
  }
  return true;
}

// Presses keys through the X server, as a keyboard does.
void Keys(const std::string &keys) {
  ASSERT_EQ(std::system(("xdotool key --clearmodifiers " + keys).c_str()), 0) << keys;
}

QWidget *Frame(HWND window) { return ClientWidget(window) ? ClientWidget(window)->window() : nullptr; }

// The id of the dialog control that has the focus; 40004 for the soft-key
// bar's Done, 0 for anything else.
int FocusedId() {
  if (auto *button = qobject_cast<QPushButton *>(QApplication::focusWidget()); button && button->isDefault())
    return kCommandPageDone;
  HWND focus = GetFocus();
  return focus && GetParent(focus) == AppGlobals.openDialog.load() ? GetDlgCtrlID(focus) : 0;
}

// The text of the button that has the focus ("" for none).
std::string FocusedButton() {
  auto *button = qobject_cast<QAbstractButton *>(QApplication::focusWidget());
  return button ? button->text().toStdString() : std::string();
}

class DialogsOnX11 : public ::testing::Test {
protected:
  void SetUp() override {
    if (!gOnX)
      GTEST_SKIP() << gWhyNot;
    for (const char *name : {"English.lang", "US.kcod", "UK.kcod", "Deutsch.kcod", "GeneralHelp.txt",
                             "PDA_Hottips.txt", "About.txt", "vtr.bmp", "vtr_wide.bmp", "marlix.bmp",
                             "marlix_wide.bmp", "altkey.bmp", "altkey_wide.bmp"})
      ASSERT_TRUE(box_.CopyData(name, std::string("opt/Vantrel/") + name)) << name;
    {
      std::ofstream list(box_.path() + "/opt/Vantrel/testmode.txt");
      list << "Q,113,x\nW,119,x\nE,101,x\n";
    }
    WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"opt\\Vantrel\\");
    SettingsStore::WriteString(u"language", u"English.lang");
    SettingsStore::WriteString(u"keycode", u"US.kcod");
    SettingsStore::WriteDword(u"Initialised", 1);
    ASSERT_TRUE(LoadUiStrings());
    ASSERT_TRUE(loadKeycodeFile(nullptr));
    AppGlobals.batteryLevel = AppGlobals.batteryThreshold[2];
    // The main window as the program makes it, before any other: 480 x 640
    // with its soft-key bar, the dialogs' owner.
    main_ = MakeTestWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return -2; }, 480, 600);
    AppGlobals.mainWindow = main_;
    SHMENUBARINFO bar{};
    bar.cbSize = 36;
    bar.hwndParent = main_;
    bar.nToolBarId = kMenuMain;
    bar.hInstRes = AppGlobals.hInstance;
    SHCreateMenuBar(&bar);
    SetWindowTextW(main_, u"Vantrel");
    ASSERT_TRUE(SpinUntil([this] { return Frame(main_) && Frame(main_)->isVisible(); }));
    link_ = std::make_unique<LinkStandIn>();
    AppGlobals.linkState = LINK_TYPING;
    boxes_ = std::make_unique<ScriptedMessageBoxes>();
    boxes_->OtherwiseAnswer(IDYES);
  }
  void TearDown() override {
    boxes_.reset();
    link_.reset();
    if (main_)
      DestroyWindow(main_);
    AppGlobals.mainWindow = nullptr;
    Spin(20);
  }

  // The picture of the dialog over the main window, as the screen shows it.
  void SaveShot(HWND dialog, const std::string &name) {
    QRect area = Frame(main_)->frameGeometry().united(Frame(dialog)->frameGeometry()).adjusted(-10, -10, 10, 10);
    QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    QDir().mkpath(QString::fromStdString(ShotsFolder()));
    EXPECT_TRUE(shot.save(QString::fromStdString(ShotsFolder() + "/" + name + ".png"))) << name;
  }

  // What a person would not accept: a page taller than the main window or
  // off its centre, a control taller than its template made it, a label
  // whose text does not fit, a list narrower than its entries.
  void CheckGeometry(HWND dialog, WORD templateId, const std::string &name) {
    SCOPED_TRACE(name);
    QWidget *frame = Frame(dialog), *mainFrame = Frame(main_);
    ASSERT_TRUE(frame && mainFrame);
    EXPECT_LE(frame->height(), mainFrame->height());
    EXPECT_LE(frame->width(), mainFrame->width());
    EXPECT_LE((frame->geometry().center() - mainFrame->geometry().center()).manhattanLength(), 2);
    HRSRC res = FindResourceW(AppGlobals.hInstance, MAKEINTRESOURCEW(templateId), RT_DIALOG);
    const auto *tmpl = static_cast<const DLGTEMPLATE *>(LockResource(LoadResource(AppGlobals.hInstance, res)));
    ASSERT_NE(tmpl, nullptr);
    QFontMetrics metrics(frame->font());
    // The controls of the template are the client's first children, in
    // template order; those the procedure makes come after them.
    QList<QWidget *> made;
    for (QObject *child : ClientWidget(dialog)->children())
      if (auto *w = qobject_cast<QWidget *>(child))
        made.push_back(w);
    ASSERT_GE(made.size(), static_cast<qsizetype>(tmpl->itemCount));
    for (UINT i = 0; i < tmpl->itemCount; ++i) {
      const DLGITEMTEMPLATEW &item = tmpl->items[i];
      QWidget *control = made[i];
      const std::string what = Utf16ToUtf8(item.className) + " " + std::to_string(item.id);
      EXPECT_LE(control->height(), item.cy * metrics.height() / 8) << what;
      EXPECT_LE(control->geometry().bottom(), ClientWidget(dialog)->height()) << what;
      if (auto *label = control->findChild<QLabel *>()) {
        EXPECT_LE(label->heightForWidth(control->width()), control->height())
            << what << " cut off: " << label->text().toStdString();
      }
      if (auto *combo = qobject_cast<QComboBox *>(control)) {
        EXPECT_GE(combo->width(), combo->minimumSizeHint().width()) << what;
      }
    }
  }

  // Opens a dialog, lets it show, saves and checks it, then runs script
  // (which closes it, or it is closed with its Done).
  void Visit(const std::string &name, WORD templateId, const std::function<void()> &open,
             const std::function<void(HWND)> &script = {}) {
    EXPECT_TRUE(DriveDialog(
        open,
        [&](HWND dialog) {
          ASSERT_TRUE(SpinUntil([dialog] { return Frame(dialog) && Frame(dialog)->isVisible(); }));
          Spin(100); // painted
          SaveShot(dialog, name);
          CheckGeometry(dialog, templateId, name);
          if (script)
            script(dialog);
          if (IsWindow(dialog))
            PostMessageW(dialog, WM_COMMAND, kCommandPageDone, 0);
        }))
        << name;
  }

  ProgramSandbox box_;
  HWND main_ = nullptr;
  std::unique_ptr<LinkStandIn> link_;
  std::unique_ptr<ScriptedMessageBoxes> boxes_;
};

TEST_F(DialogsOnX11, EveryDialogFitsItsTemplateAndTheMainWindow) {
  Visit("01-typing-settings", kDialogTypingSettings, [this] { OpenTypingSettingsDialog(main_); });
  Visit("02-battery", kDialogBattery, [this] { OpenBatteryDialog(main_); });
  Visit("03-calibration", kDialogCalibration, [this] { OpenCalibrationDialog(main_); },
        [this](HWND dialog) {
          // The first step's instruction and picture.
          PostMessageW(dialog, WM_CALIBRATION_STEP, 0, 0);
          Spin(150);
          SaveShot(dialog, "03-calibration-step-1");
        });
  Visit("04-layout-selection", kDialogSelection, [this] { OpenSelectionDialog(main_); });
  Visit("05-about", kDialogAbout, [this] { OpenAboutDialog(main_); },
        [this](HWND about) {
          Visit("06-about-more", kDialogAboutMore, [about] {
            SendMessageW(about, WM_COMMAND, kCommandPageMore, 0);
          });
        });
  Visit("07-help", kDialogHelp, [this] {
    WCHAR path[MAX_PATH];
    wnsprintfW(path, MAX_PATH, u"%sGeneralHelp.txt", AppGlobals.InstallDir);
    OpenHelpPage(main_, path);
  });
  Visit("08-hot-tips", kDialogHotTips, [this] { OpenHotTipsDialog(main_, nullptr); });
  Visit("09-key-test", kDialogBattery, [this] { runKeyTest(main_); });
  AppGlobals.isSmartphone = 1;
  Visit("10-typing-settings-smartphone", kDialogTypingSettingsSmartphone,
        [this] { OpenTypingSettingsDialog(main_); });
  Visit("11-layout-selection-smartphone", kDialogSelectionSmartphone, [this] { OpenSelectionDialog(main_); });
  AppGlobals.isSmartphone = 0;
}

// A question the page asks is the toolkit's own box, over the page and
// centred across it.
TEST_F(DialogsOnX11, TheKeepQuestionSitsOnItsPage) {
  boxes_.reset();
  SetMessageBoxPresenter(vqt::PresentMessageBox, nullptr);
  QRect boxPlace, pagePlace;
  EXPECT_TRUE(DriveDialog([this] { OpenTypingSettingsDialog(main_); },
                          [&](HWND dialog) {
                            ASSERT_TRUE(SpinUntil([dialog] { return Frame(dialog)->isVisible(); }));
                            pagePlace = Frame(dialog)->frameGeometry();
                            QTimer::singleShot(0, [&] {
                              QMessageBox *box = nullptr;
                              SpinUntil([&] {
                                box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                                return box && box->isVisible();
                              });
                              ASSERT_NE(box, nullptr);
                              Spin(100);
                              boxPlace = box->frameGeometry();
                              SaveShot(dialog, "12-typing-settings-keep-question");
                              box->button(QMessageBox::Yes)->click();
                            });
                            PickComboEntry(dialog, 1014, 2);
                            SendMessageW(dialog, WM_COMMAND, kCommandPageDone, 0);
                          }));
  SetMessageBoxPresenter(nullptr, nullptr);
  EXPECT_TRUE(pagePlace.contains(boxPlace));
  EXPECT_LE(std::abs(boxPlace.center().x() - pagePlace.center().x()), pagePlace.width() / 10);
}

// Tab goes down the typing settings page and on to Done; Alt and a label's
// letter reach its list; Escape closes the page without a question when
// nothing changed. In the layout choice Space picks a button and Enter is
// Done, which stores it.
TEST_F(DialogsOnX11, KeyboardAloneWorksThePages) {
  if (std::system("command -v xdotool >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no xdotool";
  bool closedByEscape = false;
  EXPECT_TRUE(DriveDialog([this] { OpenTypingSettingsDialog(main_); },
                          [&](HWND dialog) {
                            ASSERT_TRUE(SpinUntil([] { return FocusedId() == 1013; }))
                                << "first focus on " << FocusedId();
                            std::vector<int> order;
                            for (int i = 0; i < 4; ++i) {
                              const int before = FocusedId();
                              Keys("Tab");
                              SpinUntil([&] { return FocusedId() != before; });
                              order.push_back(FocusedId());
                            }
                            EXPECT_EQ(order, (std::vector<int>{1014, 1015, 1012, kCommandPageDone}));
                            Keys("alt+d");
                            EXPECT_TRUE(SpinUntil([] { return FocusedId() == 1015; }));
                            Keys("Escape");
                            closedByEscape = SpinUntil([dialog] { return !Frame(dialog)->isVisible(); });
                          }));
  EXPECT_TRUE(closedByEscape);
  EXPECT_EQ(boxes_->Count(), 0u);

  EXPECT_TRUE(DriveDialog([this] { OpenSelectionDialog(main_); },
                          [&](HWND dialog) {
                            // The checked choice has the focus; Tab on to UK.
                            ASSERT_TRUE(SpinUntil([] { return FocusedButton() == "US"; })) << FocusedButton();
                            for (int i = 0; i < 4 && FocusedButton() != "UK"; ++i) {
                              const std::string before = FocusedButton();
                              Keys("Tab");
                              SpinUntil([&] { return FocusedButton() != before; });
                            }
                            ASSERT_EQ(FocusedButton(), "UK");
                            HWND uk = GetFocus();
                            Keys("space");
                            EXPECT_TRUE(SpinUntil([uk] { return SendMessageW(uk, BM_GETCHECK, 0, 0) == BST_CHECKED; }));
                            Keys("Return");
                            SpinUntil([dialog] { return !Frame(dialog)->isVisible(); });
                          }));
  WCHAR stored[kSettingTextUnits];
  SettingsStore::ReadString(u"keycode", stored);
  EXPECT_EQ(Utf16ToUtf8(stored), "UK.kcod");
}

} // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  auto *xvfb = new XvfbServer;
  if (!xvfb->Start()) {
    gWhyNot = "no Xvfb: " + xvfb->why();
  } else {
    setenv("DISPLAY", xvfb->display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    gOnX = VantrelQtInit(argc, argv);
    if (gOnX)
      RegisterVantrelResources();
    else
      gWhyNot = "the toolkit did not start on " + xvfb->display();
  }
  const int result = testsupport::RunTestsEndingTheirThreads();
  // The toolkit is never torn down; the X server goes first, then the
  // process ends at once, before the toolkit can notice.
  delete xvfb;
  std::fflush(stdout);
  std::_Exit(result);
}

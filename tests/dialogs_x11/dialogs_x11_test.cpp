// Every dialog on a real X server (an Xvfb of the test's own, 1280 x 800), as
// a person sees it: each is saved as a picture with the main window behind
// it (VANTREL_DIALOG_SHOTS, else dialog-shots in the build folder), checked
// as a desktop dialog (on the screen, at least its content's size, buttons
// at the bottom right, readable in a dark theme, named for assistive
// technology), and the keyboard is driven with xdotool: Tab order,
// mnemonics, arrow keys in a choice, Escape and Enter. The same program runs
// again at a scale factor of 2. Skipped when Xvfb, openbox (the window
// manager) or xdotool is missing.
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

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
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

// The contrast ratio of two colours by their relative luminance (1 to 21;
// 4.5 is what body text needs to be read).
double Contrast(const QColor &a, const QColor &b) {
  auto luminance = [](const QColor &c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
  };
  double x = luminance(a), y = luminance(b);
  return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

// The colour most of a picture has (of its edge only: the page behind
// whatever is on it, pictures included).
QColor Dominant(const QImage &image, bool edge) {
  std::map<QRgb, int> counts;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (!edge || x == 0 || y == 0 || x == image.width() - 1 || y == image.height() - 1)
        ++counts[image.pixel(x, y) | 0xff000000u];
  auto most = std::max_element(counts.begin(), counts.end(),
                               [](const auto &a, const auto &b) { return a.second < b.second; });
  return most == counts.end() ? QColor() : QColor::fromRgb(most->first);
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

  // What a person expects of a desktop dialog: it lies on the screen's free
  // area, every control inside its client area, which is at least the
  // template's size when the procedure makes or paints the content (as far
  // as the screen allows); a page can be made
  // larger; its buttons sit in one row at the bottom right, below the
  // content, and stay there when it is made larger; no label is cut off and
  // no list is narrower than its entries.
  void CheckGeometry(HWND dialog, WORD templateId, const std::string &name) {
    SCOPED_TRACE(name);
    QWidget *frame = Frame(dialog), *client = ClientWidget(dialog);
    ASSERT_TRUE(frame && client);
    const QRect free = frame->screen()->availableGeometry();
    EXPECT_TRUE(free.contains(frame->frameGeometry()))
        << "frame " << frame->frameGeometry().x() << "," << frame->frameGeometry().y() << " "
        << frame->frameGeometry().width() << "x" << frame->frameGeometry().height();
    HRSRC res = FindResourceW(AppGlobals.hInstance, MAKEINTRESOURCEW(templateId), RT_DIALOG);
    const auto *tmpl = static_cast<const DLGTEMPLATE *>(LockResource(LoadResource(AppGlobals.hInstance, res)));
    ASSERT_NE(tmpl, nullptr);
    QFontMetrics metrics(frame->font());
    const QSize templateSize(tmpl->cx * metrics.averageCharWidth() / 4, tmpl->cy * metrics.height() / 8);
    const QSize room = free.size() - (frame->frameGeometry().size() - client->size());
    if (tmpl->itemCount == 0) { // its procedure makes or paints its content
      EXPECT_GE(client->width(), std::min(templateSize.width(), room.width()));
      EXPECT_GE(client->height(), std::min(templateSize.height(), room.height()));
    }
    EXPECT_NE(frame->minimumSize(), frame->maximumSize()) << "cannot be resized";
    EXPECT_GE(frame->width(), frame->minimumWidth());
    EXPECT_GE(frame->height(), frame->minimumHeight());
    CheckContentAndButtons(dialog);
    // The template's controls are the client's first children, in template
    // order; those the procedure makes come after them.
    QList<QWidget *> made;
    for (QObject *child : client->children())
      if (auto *w = qobject_cast<QWidget *>(child))
        made.push_back(w);
    ASSERT_GE(made.size(), static_cast<qsizetype>(tmpl->itemCount));
    for (UINT i = 0; i < tmpl->itemCount; ++i) {
      const DLGITEMTEMPLATEW &item = tmpl->items[i];
      QWidget *control = made[i];
      const std::string what = Utf16ToUtf8(item.className) + " " + std::to_string(item.id);
      EXPECT_LE(control->height(), item.cy * metrics.height() / 8) << what;
      if (auto *label = qobject_cast<QLabel *>(control) ? qobject_cast<QLabel *>(control) : control->findChild<QLabel *>()) {
        EXPECT_LE(label->heightForWidth(control->width()), control->height())
            << what << " cut off: " << label->text().toStdString();
        EXPECT_GE(control->width(), label->minimumSizeHint().width())
            << what << " cut off: " << label->text().toStdString();
      }
      if (auto *combo = qobject_cast<QComboBox *>(control)) {
        EXPECT_GE(combo->width(), combo->minimumSizeHint().width()) << what;
      }
    }
    // Made larger, the page keeps its buttons at the bottom right and its
    // controls inside.
    const QSize was = frame->size();
    frame->resize(was + QSize(60, 40));
    ASSERT_TRUE(SpinUntil([&] { return frame->size() == was + QSize(60, 40); }));
    {
      SCOPED_TRACE("made larger");
      CheckContentAndButtons(dialog);
    }
    frame->resize(was);
    SpinUntil([&] { return frame->size() == was; });
  }

  // Every shown control inside the client area; the buttons in one row at
  // the frame's bottom right, within the style's margins, below the client
  // area, wide enough for their texts, one of them the default.
  void CheckContentAndButtons(HWND dialog) {
    QWidget *frame = Frame(dialog), *client = ClientWidget(dialog);
    for (QObject *child : client->children()) {
      if (auto *w = qobject_cast<QWidget *>(child); w && !w->isHidden()) {
        EXPECT_TRUE(client->rect().contains(w->geometry())) << w->metaObject()->className();
      }
    }
    auto *box = frame->findChild<QDialogButtonBox *>();
    ASSERT_NE(box, nullptr) << "no button row";
    const QStyle *style = frame->style();
    const int margin = std::max(style->pixelMetric(QStyle::PM_LayoutRightMargin),
                                style->pixelMetric(QStyle::PM_LayoutBottomMargin)) + 2;
    int right = -1, defaults = 0;
    for (QAbstractButton *button : box->buttons()) {
      if (!button->isVisible())
        continue;
      const QRect r(button->mapTo(frame, QPoint(0, 0)), button->size());
      right = std::max(right, r.right());
      EXPECT_LE(frame->height() - 1 - r.bottom(), margin) << button->text().toStdString();
      EXPECT_GE(r.top(), client->geometry().bottom()) << button->text().toStdString();
      EXPECT_GE(button->width(), button->minimumSizeHint().width()) << button->text().toStdString();
      if (auto *push = qobject_cast<QPushButton *>(button); push && push->isDefault())
        ++defaults;
    }
    EXPECT_LE(frame->width() - 1 - right, margin);
    EXPECT_EQ(defaults, 1);
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

TEST_F(DialogsOnX11, EveryDialogIsADesktopDialogOnTheScreen) {
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

// In a dark theme every page is dark with light text: the page behind the
// labels and the painted pages follow the theme.
TEST_F(DialogsOnX11, InADarkThemeEveryPageIsReadable) {
  const QPalette light = QApplication::palette();
  const QPalette dark = DarkPalette();
  QApplication::setPalette(dark);
  auto readable = [&](const std::string &name, const std::function<void()> &open,
                      const std::function<void(HWND)> &before = {}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(DriveDialog(open, [&](HWND dialog) {
      ASSERT_TRUE(SpinUntil([dialog] { return Frame(dialog) && Frame(dialog)->isVisible(); }));
      if (before)
        before(dialog);
      Spin(100);
      SaveShot(dialog, "dark-" + name);
      QWidget *client = ClientWidget(dialog);
      const QColor page = Dominant(client->grab().toImage(), true);
      EXPECT_GE(Contrast(page, dark.color(QPalette::WindowText)), 4.5) << page.name().toStdString();
      for (QLabel *label : client->findChildren<QLabel *>())
        EXPECT_GE(Contrast(label->palette().color(label->foregroundRole()), page), 4.5)
            << label->text().toStdString() << " on " << page.name().toStdString();
      PostMessageW(dialog, WM_COMMAND, kCommandPageDone, 0);
    }));
  };
  readable("typing-settings", [this] { OpenTypingSettingsDialog(main_); });
  readable("battery", [this] { OpenBatteryDialog(main_); });
  readable("calibration", [this] { OpenCalibrationDialog(main_); },
           [](HWND dialog) { PostMessageW(dialog, WM_CALIBRATION_STEP, 0, 0); });
  readable("layout-selection", [this] { OpenSelectionDialog(main_); });
  readable("about", [this] { OpenAboutDialog(main_); });
  readable("hot-tips", [this] { OpenHotTipsDialog(main_, nullptr); });
  readable("key-test", [this] { runKeyTest(main_); });
  QApplication::setPalette(light);
}

// Assistive technology hears a name for every control (a list or field by
// the label above it) and for the painted pages their caption and what
// they say.
TEST_F(DialogsOnX11, ControlsAndPaintedAreasHaveAccessibleNames) {
  auto name = [](QWidget *widget, QAccessible::Text what = QAccessible::Name) {
    QAccessibleInterface *face = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
    return face ? face->text(what).toStdString() : std::string("(none)");
  };
  EXPECT_TRUE(DriveDialog([this] { OpenTypingSettingsDialog(main_); }, [&](HWND dialog) {
    ASSERT_TRUE(SpinUntil([dialog] { return Frame(dialog) && Frame(dialog)->isVisible(); }));
    const std::pair<int, const char *> controls[] = {
        {1013, "Sensitivity"}, {1014, "Key Repeat Rate"}, {1015, "Key Repeat Delay"}, {1012, "Test"}};
    for (const auto &[id, expected] : controls) {
      QWidget *control = ClientWidget(GetDlgItem(dialog, id));
      QAccessibleInterface *face = QAccessible::queryAccessibleInterface(control);
      ASSERT_NE(face, nullptr) << id;
      // A list's name may be its value (on X11 it is): its label is then
      // what names it, through the label relation.
      std::string label;
      for (const auto &[other, relation] : face->relations(QAccessible::Label))
        label = other->text(QAccessible::Name).toStdString();
      EXPECT_EQ(label, expected) << id;
      if (!qobject_cast<QComboBox *>(control)) {
        EXPECT_EQ(name(control), expected) << id;
      }
    }
    for (QPushButton *button : Frame(dialog)->findChildren<QPushButton *>())
      EXPECT_FALSE(name(button).empty());
    PostMessageW(dialog, WM_COMMAND, kCommandPageDone, 0);
  }));
  const std::string fine = Utf16ToUtf8(UiString(kUiBatteryFine));
  EXPECT_TRUE(DriveDialog([this] { OpenBatteryDialog(main_); }, [&](HWND dialog) {
    ASSERT_TRUE(SpinUntil([dialog] { return Frame(dialog) && Frame(dialog)->isVisible(); }));
    EXPECT_TRUE(SpinUntil([&] { return name(ClientWidget(dialog), QAccessible::Description).find(fine) != std::string::npos; }))
        << name(ClientWidget(dialog), QAccessible::Description);
    EXPECT_EQ(name(ClientWidget(dialog)), "Battery Status");
    PostMessageW(dialog, WM_COMMAND, kCommandPageDone, 0);
  }));
  const std::string step = Utf16ToUtf8(UiString(kUiCalibrationStep1));
  EXPECT_TRUE(DriveDialog([this] { OpenCalibrationDialog(main_); }, [&](HWND dialog) {
    ASSERT_TRUE(SpinUntil([dialog] { return Frame(dialog) && Frame(dialog)->isVisible(); }));
    PostMessageW(dialog, WM_CALIBRATION_STEP, 0, 0);
    EXPECT_TRUE(SpinUntil([&] { return name(ClientWidget(dialog), QAccessible::Description) == step; }))
        << name(ClientWidget(dialog), QAccessible::Description);
    EXPECT_FALSE(name(ClientWidget(dialog)).empty());
    PostMessageW(dialog, WM_COMMAND, kCommandPageDone, 0);
  }));
}

// A question the page asks is the toolkit's own box, over the page's
// middle and centred across it.
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
  EXPECT_TRUE(boxPlace.contains(pagePlace.center()));
  EXPECT_LE(std::abs(boxPlace.center().x() - pagePlace.center().x()), pagePlace.width() / 10);
}

// Tab goes down the typing settings page and on to Done; Alt and a label's
// letter reach its list; Escape closes the page without a question when
// nothing changed. The layout choice is one Tab stop, the arrow keys move
// its check, and Enter is OK, which stores it.
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
                            // The checked choice has the focus, and the
                            // choice is one Tab stop: Tab goes on to OK.
                            ASSERT_TRUE(SpinUntil([] { return FocusedButton() == "US"; })) << FocusedButton();
                            HWND us = GetFocus();
                            Keys("Tab");
                            EXPECT_TRUE(SpinUntil([] { return FocusedId() == kCommandPageDone; })) << FocusedButton();
                            Keys("shift+Tab");
                            ASSERT_TRUE(SpinUntil([] { return FocusedButton() == "US"; })) << FocusedButton();
                            // The arrow keys move the check, not only the
                            // focus; from the last entry Down comes round.
                            std::vector<std::string> checked;
                            for (int i = 0; i < 3; ++i) {
                              const std::string before = FocusedButton();
                              Keys("Down");
                              SpinUntil([&] { return FocusedButton() != before; });
                              HWND focus = GetFocus();
                              SpinUntil([focus] { return SendMessageW(focus, BM_GETCHECK, 0, 0) == BST_CHECKED; });
                              if (SendMessageW(focus, BM_GETCHECK, 0, 0) == BST_CHECKED)
                                checked.push_back(FocusedButton());
                              if (FocusedButton() == "UK")
                                break;
                            }
                            ASSERT_FALSE(checked.empty());
                            EXPECT_EQ(checked.back(), "UK");
                            EXPECT_EQ(SendMessageW(us, BM_GETCHECK, 0, 0), BST_UNCHECKED);
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
  if (!xvfb->Start("1280x800x24")) {
    gWhyNot = "no Xvfb: " + xvfb->why();
  } else if (!xvfb->StartWindowManager()) {
    // Framed, placed and activated by a window manager, as on a desktop.
    gWhyNot = xvfb->why();
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

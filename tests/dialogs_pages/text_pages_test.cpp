// The text pages: reading their files, the text window, the About banner and
// logos, and the hot tips page's guard against a second opening.
#include "common/globals.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/about_dialog.h"
#include "dialogs/help_page.h"
#include "dialogs/hot_tips_dialog.h"
#include "dialogs/selection_dialog.h"
#include "dialogs/text_page.h"
#include "platform/controls.h"
#include "platform/gdi.h"
#include "platform/qt/qt_internal.h"
#include "platform/qt_app.h"
#include "platform/text.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/sandbox.h"
#include "tests/support/toolkit.h"

#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextBrowser>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBlock>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

using namespace testsupport;

namespace {

// A dialog its script leaves open is closed with IDOK.

std::u16string Page(const WCHAR *page) { return std::u16string(page); }

std::string ShownText(HWND dialog) {
  HWND text = reinterpret_cast<HWND>(GetWindowLongW(dialog, DWL_USER));
  std::vector<WCHAR> buffer(kTextPageUnits + 10);
  GetWindowTextW(text, buffer.data(), static_cast<int>(buffer.size()));
  return Utf16ToUtf8(buffer.data());
}

class TextPagesTest : public ::testing::Test {
protected:
  // As in the program, a main window is there when a dialog opens: the
  // full-screen dialogs take its size.
  void SetUp() override {
    StartToolkitOnce();
    main_ = MakeMainWindowStandIn();
    box_.MakeFolder("opt/Vantrel");
    WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"opt\\Vantrel\\");
  }
  void TearDown() override {
    DestroyWindow(main_);
    AppGlobals.mainWindow = nullptr;
  }
  void Put(const std::string &name, const std::string &content) {
    box_.Put("opt/Vantrel/" + name, content);
  }
  ProgramSandbox box_;
  HWND main_ = nullptr;
  WCHAR page_[kTextPageUnits];
};

TEST_F(TextPagesTest, ReadsAFileCutAtFifteenThousandBytesOrAtANul) {
  EXPECT_EQ(ReadTextPage(u"opt\\Vantrel\\missing.txt", page_), 1);
  EXPECT_EQ(Page(page_), u"");

  Put("long.txt", std::string(20000, 'a'));
  EXPECT_EQ(ReadTextPage(u"opt\\Vantrel\\long.txt", page_), 0);
  EXPECT_EQ(Page(page_), std::u16string(14999, u'a'));

  // Exactly as many bytes as are read: nothing after them may be taken.
  Put("exact.txt", std::string(15000, 'b'));
  EXPECT_EQ(ReadTextPage(u"opt\\Vantrel\\exact.txt", page_), 0);
  EXPECT_EQ(Page(page_), std::u16string(14999, u'b'));

  Put("nul.txt", std::string("before\0after", 12));
  ReadTextPage(u"opt\\Vantrel\\nul.txt", page_);
  EXPECT_EQ(Page(page_), u"before");
}

TEST_F(TextPagesTest, ReadsEightBitAndUtf8TextAndSurvivesBinaryFiles) {
  Put("cafe.txt", "caf\xe9 \xe2\x82\xac");
  ReadTextPage(u"opt\\Vantrel\\cafe.txt", page_);
  EXPECT_EQ(Page(page_), u"caf\u00e9 \u20ac");

  std::string binary;
  for (int i = 0; i < 40000; ++i)
    binary.push_back(static_cast<char>((i * 131 + 7) % 255 + 1));
  Put("binary.txt", binary);
  EXPECT_EQ(ReadTextPage(u"opt\\Vantrel\\binary.txt", page_), 0);
  EXPECT_LE(Page(page_).size(), 14999u);
  EXPECT_GT(Page(page_).size(), 0u);
}

TEST_F(TextPagesTest, HelpPageShowsItsFileAndAMissingFileGivesAnEmptyPage) {
  Put("GeneralHelp.txt", "Pair the keyboard first.");
  std::string shown;
  EXPECT_TRUE(DriveDialog([&] { OpenHelpPage(nullptr, u"opt\\Vantrel\\GeneralHelp.txt"); },
                          [&](HWND dialog) {
                            shown = ShownText(dialog);
                            SendMessageW(dialog, WM_COMMAND, 40004, 0);
                          },
                          kDriveCloseAfter));
  EXPECT_EQ(shown, "Pair the keyboard first.");

  shown = "unset";
  EXPECT_TRUE(DriveDialog([&] { OpenHelpPage(nullptr, u"opt\\Vantrel\\OptionsHelp.txt"); },
                          [&](HWND dialog) {
                            shown = ShownText(dialog);
                            SendMessageW(dialog, WM_COMMAND, IDOK, 0);
                          },
                          kDriveCloseAfter));
  EXPECT_EQ(shown, "");

  // A path longer than the page keeps is cut, not overrun.
  std::u16string longPath(400, u'x');
  EXPECT_TRUE(DriveDialog([&] { OpenHelpPage(nullptr, longPath.c_str()); },
                          [](HWND dialog) { SendMessageW(dialog, WM_COMMAND, IDOK, 0); },
                          kDriveCloseAfter));
  EXPECT_EQ(Page(AppGlobals.helpPagePath), std::u16string(255, u'x'));
}

// Whether the end of the text the page's text window shows can be brought
// into view: scrolled to its end, the last line lies wholly inside the
// visible part of the window, and the window wholly inside the page. A
// person sees that there is more by the window's scroll bar.
bool EndOfTextReachable(HWND dialog) {
  HWND text = reinterpret_cast<HWND>(GetWindowLongW(dialog, DWL_USER));
  vqt::WindowHost *host = vqt::HostFor(text);
  QWidget *client = vqt::ClientOf(dialog);
  if (!host || !host->frame || !client)
    return false;
  QWidget *window = host->frame;
  if (!client->rect().contains(window->geometry()))
    return false;
  auto *scroll = qobject_cast<QAbstractScrollArea *>(window);
  if (!scroll)
    return false;
  // More text than shows: the scroll bar says so, and can be dragged.
  QScrollBar *bar = scroll->verticalScrollBar();
  if (bar->maximum() > 0 && !bar->isVisible())
    return false;
  bar->setValue(bar->maximum());
  QApplication::processEvents();
  const QRect seen = scroll->viewport()->rect();
  if (auto *area = qobject_cast<QPlainTextEdit *>(window)) {
    QTextCursor end(area->document());
    end.movePosition(QTextCursor::End);
    const QRect last = area->cursorRect(end);
    return seen.contains(last);
  }
  if (auto *area = qobject_cast<QScrollArea *>(window); area && area->widget()) {
    QLabel *label = qobject_cast<QLabel *>(area->widget());
    const QRect shown(label->mapTo(area->viewport(), QPoint(0, 0)),
                      QSize(label->width(), label->heightForWidth(label->width())));
    return seen.contains(shown.bottomLeft());
  }
  return false;
}

// A hot tips text far longer than any screen: all of it can be read.
TEST_F(TextPagesTest, ALongTextCanBeReadToItsLastLine) {
  std::string tips;
  for (int i = 1; tips.size() < 14000; ++i)
    tips += "Tip " + std::to_string(i) + ": hold Alt and press a letter to reach the menu item it names.\n";
  tips += "The last tip.";
  Put("PDA_Hottips.txt", tips);
  bool reachable = false;
  EXPECT_TRUE(DriveDialog([&] { OpenHotTipsDialog(main_, nullptr); },
                          [&](HWND dialog) { reachable = EndOfTextReachable(dialog); },
                          {.settleMs = 150, .closeAfterScript = true}));
  EXPECT_TRUE(reachable);
  // The shipped tips, and a text a little longer than the page opens with.
  box_.CopyData("PDA_Hottips.txt", "opt/Vantrel/PDA_Hottips.txt");
  reachable = false;
  EXPECT_TRUE(DriveDialog([&] { OpenHotTipsDialog(main_, nullptr); },
                          [&](HWND dialog) { reachable = EndOfTextReachable(dialog); },
                          {.settleMs = 150, .closeAfterScript = true}));
  EXPECT_TRUE(reachable);
  Put("PDA_Hottips.txt", tips.substr(tips.size() - 1500));
  reachable = false;
  EXPECT_TRUE(DriveDialog([&] { OpenHotTipsDialog(main_, nullptr); },
                          [&](HWND dialog) { reachable = EndOfTextReachable(dialog); },
                          {.settleMs = 150, .closeAfterScript = true}));
  EXPECT_TRUE(reachable);
}

TEST_F(TextPagesTest, HotTipsRequestWhileOpenShowsThePageAgainAndClosingReturns) {
  Put("PDA_Hottips.txt", "Alt+Esc shows these tips.");
  HWND returnTo =
      CreateWindowExW(0, u"STATIC", u"editor", 0, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  ShowWindow(returnTo, SW_HIDE);
  HWND page = nullptr;
  std::string shown;
  EXPECT_TRUE(DriveDialog([&] { OpenHotTipsDialog(nullptr, returnTo); },
                          [&](HWND dialog) {
                            page = dialog;
                            shown = ShownText(dialog);
                            EXPECT_EQ(AppGlobals.hotTipsOpen, 1);
                            ShowWindow(dialog, SW_HIDE);
                            // The keyboard shortcut again: no second page, the open one comes back.
                            OpenHotTipsDialog(nullptr, nullptr);
                            EXPECT_EQ(AppGlobals.openDialog.load(), dialog);
                            EXPECT_TRUE(IsWindowVisible(dialog));
                            EXPECT_EQ(AppGlobals.hotTipsReturnWindow, returnTo);
                            SendMessageW(dialog, WM_COMMAND, 40004, 0);
                          },
                          kDriveCloseAfter));
  EXPECT_NE(page, nullptr);
  EXPECT_EQ(shown, "Alt+Esc shows these tips.");
  EXPECT_EQ(AppGlobals.hotTipsOpen, 0);
  EXPECT_TRUE(IsWindowVisible(returnTo));

  // Closed, it opens again.
  HWND second = nullptr;
  EXPECT_TRUE(DriveDialog([&] { OpenHotTipsDialog(nullptr, nullptr); },
                          [&](HWND dialog) {
                            second = dialog;
                            SendMessageW(dialog, WM_COMMAND, IDOK, 0);
                          },
                          kDriveCloseAfter));
  EXPECT_NE(second, nullptr);
  EXPECT_NE(second, page);
  DestroyWindow(returnTo);
}

// The pages' texts in the person's language: the language's folder holds
// them under the English names; a text it lacks is shown in English.
TEST_F(TextPagesTest, TextsAreReadInTheLanguageChosenAndInEnglishWhereItHasNone) {
  Put("English.lang", "Hello;note\n");
  Put("Deutsch.lang", "Hallo;note\n");
  Put("PDA_Hottips.txt", "English tips");
  Put("About.txt", "English about");
  box_.MakeFolder("opt/Vantrel/de");
  Put("de/PDA_Hottips.txt", "Deutsche Tipps");
  WCHAR path[MAX_PATH];
  for (const auto &[language, tips, about] :
       {std::tuple{u"Deutsch.lang", "Deutsche Tipps", "English about"},
        std::tuple{u"English.lang", "English tips", "English about"}}) {
    SCOPED_TRACE(Utf16ToUtf8(language));
    SettingsStore::WriteString(u"language", language);
    ASSERT_TRUE(LoadUiStrings());
    LanguageTextPath(path, u"About.txt");
    ReadTextPage(path, page_);
    EXPECT_EQ(Utf16ToUtf8(page_), about);
    std::string shown;
    EXPECT_TRUE(DriveDialog([&] { OpenHotTipsDialog(nullptr, nullptr); },
                            [&](HWND dialog) {
                              shown = ShownText(dialog);
                              SendMessageW(dialog, WM_COMMAND, IDOK, 0);
                            },
                            kDriveCloseAfter));
    EXPECT_EQ(shown, tips);
  }
  ResetUiStrings();
}

// The banner speaks of the keyboard in words: its serial number as eight
// hexadecimal digits and its firmware build as a number, or that none has
// been connected; the program's version is the build's.
TEST_F(TextPagesTest, AboutBannerNamesVersionLicenceAndKeyboard) {
  const std::string head = std::string("Vantrel ") + VANTREL_PROJECT_VERSION +
                           "\nCopyright The Vantrel developers\nLicence: MIT\n\n";
  struct Case {
    int32_t serial, build;
    const char *keyboard;
  };
  const Case cases[] = {
      {0, 0, "No keyboard has been connected yet."},
      {0x00A5F301, 104, "Keyboard serial number: 00A5F301\nKeyboard firmware: build 104"},
      {-1, 0xFFFF, "Keyboard serial number: FFFFFFFF\nKeyboard firmware: build 65535"},
      {0x00A5F301, 0, "Keyboard serial number: 00A5F301"}, // the build not told
  };
  for (const Case &c : cases) {
    SettingsStore::WriteDword(u"Serial No", c.serial);
    SettingsStore::WriteDword(u"Build No", c.build);
    WCHAR banner[256];
    BuildAboutBanner(banner, 256);
    EXPECT_EQ(Utf16ToUtf8(banner), head + c.keyboard);
  }
}

TEST_F(TextPagesTest, LogoWidthChoice) {
  EXPECT_EQ(Page(LogoFileName(240, u"n", u"w")), u"n");
  EXPECT_EQ(Page(LogoFileName(241, u"n", u"w")), u"w");
  AppGlobals.isSmartphone = 1;
  EXPECT_EQ(Page(LogoFileName(320, u"n", u"w")), u"n");
  EXPECT_EQ(Page(LogoFileName(280, u"n", u"w")), u"w");
}

TEST_F(TextPagesTest, AboutMoreOpensFromAboutAndHandsTheOpenPageBack) {
  box_.CopyData("About.txt", "opt/Vantrel/About.txt");
  box_.CopyData("marlix.bmp", "opt/Vantrel/marlix.bmp");
  HWND about = nullptr, more = nullptr;
  std::string moreText;
  EXPECT_TRUE(DriveDialog([&] { OpenAboutDialog(nullptr); },
                          [&](HWND dialog) {
                            about = dialog;
                            UpdateWindow(dialog);
                            EXPECT_TRUE(
                                DriveDialog([&] { SendMessageW(dialog, WM_COMMAND, 40005, 0); },
                                            [&](HWND inner) {
                                              more = inner;
                                              moreText = ShownText(inner);
                                              UpdateWindow(inner);
                                              SendMessageW(inner, WM_COMMAND, 40004, 0);
                                            },
                                            kDriveCloseAfter));
                            EXPECT_EQ(AppGlobals.openDialog.load(), dialog);
                            SendMessageW(dialog, WM_COMMAND, 40004, 0);
                          },
                          kDriveCloseAfter));
  EXPECT_NE(about, nullptr);
  EXPECT_NE(more, nullptr);
  EXPECT_NE(about, more);
  EXPECT_NE(moreText.find("Vantrel"), std::string::npos);
}


// The colour most pixels of an image have.
QRgb Dominant(const QImage &image) {
  std::map<QRgb, int> count;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      ++count[image.pixel(x, y) & 0xFFFFFFu];
  return std::max_element(count.begin(), count.end(),
                          [](auto &a, auto &b) { return a.second < b.second; })
      ->first;
}

// The largest difference in lightness from `from` among an image's pixels.
int MostDistinct(const QImage &image, const QColor &from) {
  int most = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      most = std::max(most, std::abs(QColor(image.pixel(x, y)).lightness() - from.lightness()));
  return most;
}

// In a dark theme the pages, the help window and the pictures are dark
// too: a picture's white surround takes the page's colour (its shape keeps
// its own), the help document the theme's text and link colours, and an unchecked choice's
// circle still shows.
TEST_F(TextPagesTest, InADarkThemePagesPicturesAndChoicesFollowThePalette) {
  const QPalette light = QApplication::palette();
  const QPalette dark = DarkPalette();
  QApplication::setPalette(dark);
  const QRgb window = dark.color(QPalette::Window).rgb() & 0xFFFFFFu;
  for (const char *name : {"vtr.bmp", "vtr_wide.bmp"})
    box_.CopyData(name, std::string("opt/Vantrel/") + name);
  int logoWidth = 0, logoHeight = 0;
  QImage about;
  EXPECT_TRUE(DriveDialog([&] { OpenAboutDialog(main_); },
                          [&](HWND dialog) {
                            RECT client = {};
                            GetClientRect(dialog, &client);
                            LogoSize(LogoFileName(client.right, u"vtr.bmp", u"vtr_wide.bmp"), &logoWidth,
                                     &logoHeight);
                            about = vqt::ClientOf(dialog)->grab().toImage();
                          },
                          {.settleMs = 150, .closeAfterScript = true}));
  ASSERT_GT(logoWidth, 20);
  const int left = about.width() / 2 - logoWidth / 2;
  // The logo's corner lies outside its rounded shape; its middle inside.
  EXPECT_EQ(about.pixel(left, 5) & 0xFFFFFFu, window);
  EXPECT_EQ(about.pixel(left + logoWidth - 1, 5 + logoHeight - 1) & 0xFFFFFFu, window);
  EXPECT_NE(about.pixel(left + logoWidth / 2, 5 + logoHeight / 2) & 0xFFFFFFu, window);
  EXPECT_EQ(Dominant(about), window);

  box_.CopyData("Vantrel.htm", "opt/Vantrel/Vantrel.htm");
  ASSERT_TRUE(ShowHelpWindow(u"opt\\Vantrel\\Vantrel.htm"));
  QTextBrowser *browser = nullptr;
  for (QWidget *top : QApplication::topLevelWidgets())
    if (top->objectName() == "vantrel_help" && top->isVisible())
      browser = top->findChild<QTextBrowser *>("vantrel_help_text");
  ASSERT_NE(browser, nullptr);
  QApplication::processEvents();
  EXPECT_EQ(Dominant(browser->viewport()->grab().toImage()), dark.color(QPalette::Base).rgb() & 0xFFFFFFu);
  for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next())
    for (auto it = block.begin(); !it.atEnd(); ++it)
      if (const QTextCharFormat format = it.fragment().charFormat();
          format.hasProperty(QTextFormat::ForegroundBrush)) // else the palette's text colour
        EXPECT_EQ(format.foreground().color().rgb() & 0xFFFFFFu,
                  (!format.anchorHref().isEmpty() ? dark.color(QPalette::Link) : dark.color(QPalette::Text)).rgb() &
                      0xFFFFFFu)
            << it.fragment().text().toStdString();
  browser->window()->close();

  box_.Put("opt/Vantrel/US.kcod", "x");
  box_.Put("opt/Vantrel/UK.kcod", "x");
  int rim = 0;
  EXPECT_TRUE(DriveDialog([&] { OpenSelectionDialog(main_); },
                          [&](HWND dialog) {
                            for (QRadioButton *radio : vqt::ClientOf(dialog)->findChildren<QRadioButton *>())
                              if (!radio->isChecked()) {
                                QStyleOptionButton option;
                                option.initFrom(radio);
                                const QRect circle =
                                    radio->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, radio);
                                rim = MostDistinct(radio->grab(circle).toImage(), dark.color(QPalette::Window));
                              }
                          },
                          {.settleMs = 150, .closeAfterScript = true}));
  EXPECT_GE(rim, 60);
  QApplication::setPalette(light);
}

TEST(ShippedPages, TextsFitTheirPageAndPicturesLoad) {
  // English beside the program, each other language in its own folder.
  for (const char *folder : {"", "de/", "fr/", "es/"})
    for (const char *name : {"GeneralHelp.txt", "ConnectivityHelp.txt", "OptionsHelp.txt",
                             "PDA_Hottips.txt", "About.txt"}) {
      std::ifstream in(std::string(VANTREL_SOURCE_DIR) + "/data/" + folder + name,
                       std::ios::binary);
      std::stringstream content;
      content << in.rdbuf();
      EXPECT_GT(content.str().size(), 100u) << folder << name;
      EXPECT_LT(content.str().size(), 15000u) << folder << name;
      EXPECT_EQ(content.str().find('\0'), std::string::npos) << folder << name;
    }
  for (const char *name : {"marlix.bmp", "marlix_wide.bmp"}) {
    std::ifstream in(std::string(VANTREL_SOURCE_DIR) + "/data/" + name, std::ios::binary);
    char magic[2] = {};
    in.read(magic, 2);
    EXPECT_EQ(std::string(magic, 2), "BM") << name;
  }
}

} // namespace

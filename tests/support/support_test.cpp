// The shared helpers' own promises that the other tests lean on: a root that
// goes away whatever a test left in it, a port whose far side can hang up,
// and scripted boxes that answer in order and may be shown from inside a box.
#include "tests/support/pty_port.h"
#include "tests/support/scripted_message_boxes.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

TEST(TempRoot, GoesAwayWithReadOnlyFoldersAndPointsTheProgramIntoIt) {
  std::string path;
  {
    TempRoot root("support");
    path = root.path();
    root.Put("locked/deep/file.txt", "x");
    ASSERT_EQ(chmod(root.File("locked/deep").c_str(), 0500), 0);
    ASSERT_EQ(chmod(root.File("locked").c_str(), 0500), 0);
    root.Use(kDeviceRoot | kDevices);
    EXPECT_EQ(std::string(getenv("VANTREL_ROOT")), path);
    EXPECT_TRUE(fs::is_directory(std::string(getenv("VANTREL_DEVICES"))));
    EXPECT_EQ(ReadFile(root.File("locked/deep/file.txt")), "x");
  }
  EXPECT_FALSE(fs::exists(path));
}

TEST(PtyPort, OfferedPortCarriesBytesBothWaysAndHangsUp) {
  TempRoot root("support");
  PtyPort port;
  ASSERT_TRUE(port.ok());
  ASSERT_TRUE(port.OfferAs(root.File("devices"), 3));
  const int fd = open(root.File("devices/COM3").c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(port.Send({0xA5, 0x0A, 0x0D})); // raw: no line-end translation
  uint8_t in[3] = {};
  ASSERT_EQ(read(fd, in, 3), 3);
  EXPECT_EQ(in[1], 0x0A);
  EXPECT_EQ(in[2], 0x0D);
  ASSERT_EQ(write(fd, "\x5A\x0A", 2), 2);
  EXPECT_EQ(port.Received(2, 2000), (std::vector<uint8_t>{0x5A, 0x0A}));
  port.HangUp(); // the program's side reads an end (0, or EIO) at once
  EXPECT_LE(read(fd, in, 1), 0);
  close(fd);
}

TEST(ScriptedMessageBoxes, AnswersInOrderThenAsThePlatformAndAllowsABoxInsideABox) {
  {
    ScriptedMessageBoxes boxes({IDYES});
    boxes.During(1, [] { MessageBoxW(nullptr, u"inner", u"c", MB_OK); });
    EXPECT_EQ(MessageBoxW(nullptr, u"first", u"c", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxW(nullptr, u"second", u"c", MB_YESNO), IDNO);
    boxes.OtherwiseAnswer(IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, u"third", u"c", MB_OK), IDCANCEL);
    const std::vector<ShownBox> shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[2].text, u"inner");
    EXPECT_EQ(shown[3].type, static_cast<UINT>(MB_OK));
  }
  // Gone: the platform's own answer again.
  EXPECT_EQ(MessageBoxW(nullptr, u"after", u"c", MB_YESNO), IDNO);
}

} // namespace

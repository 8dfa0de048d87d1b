// What the three calls become for a typing backend: key presses and releases
// and characters, with a SendInput key-down typed as a whole key press.
#include "platform/inject.h"
#include "platform/inject/key_sink.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class RecordingSink : public KeySink {
public:
  std::string log;
  void Key(BYTE vk, bool down) override {
    log += (down ? "+" : "-") + std::to_string(vk) + " ";
  }
  bool Type(const std::vector<uint32_t> &cps) override {
    for (uint32_t c : cps)
      log += "'" + std::to_string(c) + " ";
    return true;
  }
};

class KeySinkTest : public ::testing::Test {
protected:
  void SetUp() override {
    MakeKeySinkOps(ops_, "recording", &sink_);
    InjectSetBackend(&ops_);
  }
  void TearDown() override { InjectSetBackend(nullptr); }
  RecordingSink sink_;
  InjectOps ops_{};
};

TEST_F(KeySinkTest, KeybdEventPressesOrReleasesByTheKeyUpFlag) {
  keybd_event(VK_SHIFT, 0, KEYEVENTF_SILENT, 1);
  keybd_event('A', 0, 0, 0);
  keybd_event('A', 0, KEYEVENTF_KEYUP, 0);
  keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0xC0000001u);
  EXPECT_EQ(sink_.log, "+16 +65 -65 -16 ");
}

TEST_F(KeySinkTest, SendInputKeyDownIsAWholePressAndKeyUpsAndOtherRecordsDoNothing) {
  INPUT in[3] = {};
  in[0].type = INPUT_KEYBOARD;
  in[0].ki.wVk = VK_F7;
  in[0].ki.dwFlags = 4;
  in[1].type = INPUT_KEYBOARD;
  in[1].ki.wVk = VK_F7;
  in[1].ki.dwFlags = KEYEVENTF_KEYUP;
  in[2].type = INPUT_MOUSE;
  EXPECT_EQ(SendInput(3, in, 28), 2u);
  EXPECT_EQ(sink_.log, "+118 -118 ");
}

TEST_F(KeySinkTest, PostedUnitsBecomeCodePoints) {
  UINT chars[] = {'a', 0xD83D, 0xDE00, 0xDC00, 0, 0x20AC, 0xD800};
  EXPECT_TRUE(PostKeybdMessage(reinterpret_cast<HWND>(-1), 'a', 1, 7, nullptr, chars));
  // The pair is one character; the lone halves and the 0 are skipped.
  EXPECT_EQ(sink_.log, "'97 '128512 '8364 ");
  UINT lone = 0xDC00;
  EXPECT_FALSE(PostKeybdMessage(reinterpret_cast<HWND>(-1), 0, 1, 1, nullptr, &lone));
}

} // namespace

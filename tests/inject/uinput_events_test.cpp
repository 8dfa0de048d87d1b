// The input events the uinput backend writes, read back from a pipe standing
// in for the virtual keyboard's device.
#include "platform/inject.h"
#include "platform/keymaps/key_events.h"
#include "platform/uinput/uinput_backend.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// Writes the events through a pipe and reads them back as "code:value" for
// key events, checking that each is followed by its SYN_REPORT.
std::vector<std::string> ThroughPipe(const std::vector<KeyInputEvent> &events) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  EXPECT_TRUE(WriteKeyEvents(fds[1], events));
  close(fds[1]);
  std::vector<std::string> keys;
  input_event ev;
  bool wantSyn = false;
  while (read(fds[0], &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev)) {
    if (wantSyn) {
      EXPECT_EQ(ev.type, EV_SYN);
      EXPECT_EQ(ev.code, SYN_REPORT);
      wantSyn = false;
      continue;
    }
    EXPECT_EQ(ev.type, EV_KEY);
    keys.push_back(std::to_string(ev.code) + ":" + std::to_string(ev.value));
    wantSyn = true;
  }
  EXPECT_FALSE(wantSyn) << "last key event without SYN_REPORT";
  close(fds[0]);
  return keys;
}

std::string K(unsigned code, int value) { return std::to_string(code) + ":" + std::to_string(value); }

TEST(UinputEvents, KeyAndShiftedKeyAtTheirUsPositions) {
  std::vector<KeyInputEvent> events;
  AppendKeyEvent(events, UinputKeyForVk('Z'), true);
  AppendKeyEvent(events, UinputKeyForVk('Z'), false);
  EXPECT_EQ(ThroughPipe(events), (std::vector<std::string>{K(KEY_Z, 1), K(KEY_Z, 0)}));

  events.clear();
  AppendKeyTap(events, UinputKeyForVk(VK_OEM_3), true);
  EXPECT_EQ(ThroughPipe(events), (std::vector<std::string>{K(KEY_LEFTSHIFT, 1), K(KEY_GRAVE, 1),
                                                           K(KEY_GRAVE, 0), K(KEY_LEFTSHIFT, 0)}));

  EXPECT_EQ(UinputKeyForVk(VK_CAPITAL), static_cast<unsigned>(KEY_CAPSLOCK));
  EXPECT_EQ(UinputKeyForVk(VK_OEM_7), static_cast<unsigned>(KEY_APOSTROPHE));
  EXPECT_EQ(UinputKeyForVk(VK_F7), static_cast<unsigned>(KEY_F7));
  EXPECT_EQ(UinputKeyForVk(0xFF), 0u);
}

TEST(UinputEvents, AsciiCharactersUseUsKeysWithShiftWhereNeeded) {
  std::vector<KeyInputEvent> events;
  for (uint32_t c : {U'a', U'A', U'~', U'\b', U'\r'})
    ASSERT_TRUE(AppendCharacter(events, c));
  EXPECT_EQ(ThroughPipe(events),
            (std::vector<std::string>{K(KEY_A, 1), K(KEY_A, 0), K(KEY_LEFTSHIFT, 1), K(KEY_A, 1),
                                      K(KEY_A, 0), K(KEY_LEFTSHIFT, 0), K(KEY_LEFTSHIFT, 1),
                                      K(KEY_GRAVE, 1), K(KEY_GRAVE, 0), K(KEY_LEFTSHIFT, 0),
                                      K(KEY_BACKSPACE, 1), K(KEY_BACKSPACE, 0), K(KEY_ENTER, 1),
                                      K(KEY_ENTER, 0)}));
}

TEST(UinputEvents, OtherCharactersGoThroughCtrlShiftUHexEntry) {
  std::vector<KeyInputEvent> events;
  ASSERT_TRUE(AppendCharacter(events, 0x20AC)); // €
  std::vector<std::string> want = {K(KEY_LEFTCTRL, 1), K(KEY_LEFTSHIFT, 1), K(KEY_U, 1),
                                   K(KEY_U, 0),        K(KEY_LEFTSHIFT, 0), K(KEY_LEFTCTRL, 0)};
  for (unsigned key : {KEY_2, KEY_0, KEY_A, KEY_C}) {
    want.push_back(K(key, 1));
    want.push_back(K(key, 0));
  }
  want.push_back(K(KEY_SPACE, 1));
  want.push_back(K(KEY_SPACE, 0));
  EXPECT_EQ(ThroughPipe(events), want);

  events.clear();
  ASSERT_TRUE(AppendCharacter(events, 0xE9)); // é: two digits, no leading zeros
  std::vector<std::string> got = ThroughPipe(events);
  ASSERT_EQ(got.size(), 12u);
  EXPECT_EQ(got[6], K(KEY_E, 1));
  EXPECT_EQ(got[8], K(KEY_9, 1));

  // Nothing typeable: no events at all, rather than a half-entered code.
  events.clear();
  EXPECT_FALSE(AppendCharacter(events, 0));
  EXPECT_FALSE(AppendCharacter(events, 0x01));
  EXPECT_FALSE(AppendCharacter(events, 0xD800));
  EXPECT_FALSE(AppendCharacter(events, 0x110000));
  EXPECT_TRUE(events.empty());
}

TEST(UinputEvents, WritingToAClosedDeviceReportsFailure) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  signal(SIGPIPE, SIG_IGN);
  std::vector<KeyInputEvent> events;
  AppendKeyTap(events, KEY_A, false);
  EXPECT_FALSE(WriteKeyEvents(fds[1], events));
  close(fds[1]);
}

TEST(UinputBackend, AMissingDeviceIsRefused) {
  EXPECT_EQ(UinputInjectOpen("/nonexistent/uinput"), nullptr);
}

} // namespace

// Typing through the compositor's virtual keyboard: a headless sway (run as
// an unprivileged user, since sway refuses root) with `wev` focused, the
// wayland backend typing into it, and wev's record of the characters it
// received read back. Under the us and de layouts of the compositor, whose
// own layout must not matter: the backend brings its keymap.
#include "platform/inject.h"
#include "platform/wayland/wayland_backend.h"
#include "tests/inject/sway_session.h"
#include "tests/inject/x_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Types text through the backend, in calls of a few characters as the key
// logic makes them.
void TypeText(const InjectOps *ops, const std::u32string &text) {
  for (size_t i = 0; i < text.size(); i += 3) {
    std::vector<UINT> units;
    for (size_t j = i; j < text.size() && j < i + 3; ++j) {
      char32_t c = text[j];
      if (c >= 0x10000) {
        units.push_back(0xD800 + ((c - 0x10000) >> 10));
        units.push_back(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        units.push_back(c);
      }
    }
    ASSERT_TRUE(ops->postKeybdMessage(ops->self, reinterpret_cast<HWND>(-1), 0, 0,
                                      static_cast<UINT>(units.size()), nullptr, units.data()));
  }
}

class WaylandTyping : public ::testing::TestWithParam<const char *> {};

TEST_P(WaylandTyping, MixedTextArrivesExactlyWhateverTheCompositorsLayout) {
  if (!SwaySession::Available())
    GTEST_SKIP() << "skipped: sway, wev or stdbuf is not installed";
  SwaySession sway;
  if (!sway.Start(GetParam()))
    GTEST_SKIP() << "skipped: headless sway cannot run here: " << sway.why();
  setenv("WAYLAND_DISPLAY", sway.socket().c_str(), 1);
  std::string why;
  const InjectOps *ops = WaylandInjectOpen(&why);
  unsetenv("WAYLAND_DISPLAY");
  ASSERT_NE(ops, nullptr) << why;
  ASSERT_TRUE(sway.WaitForKeyboard()) << "wev never got the virtual keyboard's focus";

  // ASCII, accents, ß € Ω Ж, a character beyond the first plane, and more
  // characters than the backend has spare keys, so that spares are lent
  // again; then the same stress text as the X11 backend's.
  std::u32string text = U"Hello, World! zy@\"{}|~ äöü ÄÖÜ ß é è ê ç € Ω Ж жук 😀 ";
  for (char32_t c = 0x3B1; c <= 0x3C9; ++c) // the Greek small letters
    text.push_back(c);
  text += MixedStressText(400);
  // More new characters than there are spare keys: the ones used longest ago
  // are lent again, each after it settled.
  for (char32_t c = 0x4E00; c < 0x4E00 + 300; ++c)
    text.push_back(c);
  text += U" end";
  TypeText(ops, text);
  // A virtual key: Shift held around a letter, and Enter.
  ops->keybdEvent(ops->self, VK_SHIFT, 0, 0, 0);
  ops->keybdEvent(ops->self, 'Q', 0, 0, 0);
  ops->keybdEvent(ops->self, 'Q', 0, KEYEVENTF_KEYUP, 0);
  ops->keybdEvent(ops->self, VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
  text += U"Q";
  const std::u32string got = sway.wev().Read(text.size());
  EXPECT_EQ(got.size(), text.size());
  EXPECT_TRUE(got == text) << "first difference at "
                           << std::mismatch(got.begin(), got.end(), text.begin(), text.end()).first -
                                  got.begin();
  ops->close(ops->self);
}

INSTANTIATE_TEST_SUITE_P(Layouts, WaylandTyping, ::testing::Values("us", "de"));

} // namespace

// The xtest backend against a real X server (Xvfb) and a real X client: what
// the client receives is exactly what was typed, in order, under a US and a
// German keymap, with the host's caps lock on, and at full speed.
#include "platform/inject.h"
#include "platform/xtest/xtest_backend.h"
#include "tests/inject/x_session.h"

#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <set>

#include <chrono>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

std::string Show(const std::u32string &s) {
  std::string out;
  for (char32_t c : s) {
    if (c >= 0x20 && c < 0x7F)
      out += static_cast<char>(c);
    else
      out += "<" + std::to_string(static_cast<unsigned>(c)) + ">";
  }
  return out;
}

void Post(char32_t c) {
  UINT ch = static_cast<UINT>(c), state = 1;
  PostKeybdMessage(reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), ch, 1, 1, &state, &ch);
}

// Posts the characters, then flushes as the injecting thread does before it
// waits for input: the backend sends characters in batches.
void PostText(const std::u32string &text) {
  for (char32_t c : text)
    Post(c);
  InjectFlush();
}

void Press(BYTE vk) { keybd_event(vk, 0, KEYEVENTF_SILENT, 1); }
void Release(BYTE vk) { keybd_event(vk, 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0xC0000001u); }
void Tap(BYTE vk) {
  Press(vk);
  Release(vk);
}
void ShiftedTap(BYTE vk) {
  Press(VK_SHIFT);
  Tap(vk);
  Release(VK_SHIFT);
}
void CapsTap(BYTE vk) {
  Tap(VK_CAPITAL);
  Tap(vk);
  Tap(VK_CAPITAL);
}
constexpr BYTE kVkNumLock = 0x90;

// Forty small letters no key of the German keymap carries: Cyrillic а-я
// and Greek α-θ.
std::u32string FortyLentLetters() {
  std::u32string text;
  for (char32_t c = U'а'; c <= U'я'; ++c)
    text += c;
  for (char32_t c = U'α'; c <= U'θ'; ++c)
    text += c;
  return text;
}

// The capitals of FortyLentLetters.
std::u32string Capitals(const std::u32string &letters) {
  std::u32string out;
  for (char32_t c : letters)
    out += c - 0x20;
  return out;
}

// How many of the characters of text are on a level of a keycode whose
// first group has `width` levels, and on how many such keycodes.
struct Carried {
  size_t keysyms = 0, keycodes = 0;
};
Carried CarriedAtWidth(const std::string &display, const std::u32string &text, size_t width) {
  std::set<unsigned long> wanted;
  for (char32_t c : text)
    wanted.insert(xkb_utf32_to_keysym(c));
  Carried carried;
  std::set<unsigned long> seen;
  for (const std::vector<unsigned long> &levels : GroupOneLevels(display)) {
    if (levels.size() != width)
      continue;
    bool any = false;
    for (unsigned long ks : levels) {
      if (wanted.count(ks)) {
        any = true;
        seen.insert(ks);
      }
    }
    carried.keycodes += any;
  }
  carried.keysyms = seen.size();
  return carried;
}

class XTestTyping : public ::testing::Test {
protected:
  void SetUp() override {
    if (!server_.Start())
      GTEST_SKIP() << "skipped: " << server_.why();
    ASSERT_TRUE(recorder_.Start(server_.display())) << "recording client did not start";
  }
  void OpenBackend() {
    ops_ = XTestInjectOpen(server_.display().c_str());
    ASSERT_NE(ops_, nullptr);
    InjectSetBackend(ops_);
  }
  void TearDown() override {
    InjectSetBackend(nullptr);
    if (ops_)
      ops_->close(ops_->self);
  }
  // Expects exactly `want` to arrive, and nothing more soon after.
  void ExpectReceived(const std::u32string &want) {
    InjectFlush();
    std::u32string got = recorder_.Read(want.size());
    EXPECT_EQ(Show(got), Show(want));
    std::u32string extra = recorder_.Read(1, 200);
    EXPECT_TRUE(extra.empty()) << "unexpected extra keys: " << Show(extra);
  }

  XvfbServer server_;
  Recorder recorder_;
  const InjectOps *ops_ = nullptr;
};

TEST_F(XTestTyping, PostedCharactersArriveExactlyIncludingOnesNoKeyCarries) {
  OpenBackend();
  std::u32string text = U"Hello, World! 0123456789 ~`!@#$%^&*()_+-=[]{};':\"\\|,./<>?";
  text += U"é à ê ñ ü ß € É À Ñ Ü";
  text += U" Привет, мир! Ёлка ЖЩЪЫЬЭЮЯ ёжщъыьэюя";
  text += U"ħ Ω ≠ 中";
  PostText(text);
  // Backspace, Enter and Tab are posted as the characters 8, 13 and 9.
  PostText(U"\b\r\t");
  // Several characters in one call, and a surrogate pair as one character.
  UINT many[] = {'x', 0xE9, 0x20AC, 0xD83D, 0xDE00, 'y'};
  UINT states[6] = {1, 1, 1, 1, 1, 1};
  EXPECT_TRUE(PostKeybdMessage(reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), 'x', 1, 6,
                               states, many));
  ExpectReceived(text + U"\b\r\t" + U"xé€\U0001F600y");
}

TEST_F(XTestTyping, ShiftAndCapsLockPressedAsKeysActOnTheFollowingKeys) {
  OpenBackend();
  Tap('A');
  ShiftedTap('B');
  CapsTap('C');
  Tap('D'); // caps lock is off again
  Tap('1');
  ShiftedTap('1');
  Tap(VK_OEM_3);
  ShiftedTap(VK_OEM_3);
  Tap(VK_SPACE);
  Tap(VK_OEM_MINUS);
  Tap(VK_RETURN);
  // Ctrl held over a letter types no text; the next key is plain again.
  Press(VK_CONTROL);
  Tap('C');
  Release(VK_CONTROL);
  Tap('E');
  ExpectReceived(U"aBCd1!`~ -\r\x03" U"e");
}

// A key press goes out with its release, in one write; a press with no
// release after it goes out when the injecting thread is about to wait.
TEST_F(XTestTyping, APressHeldBackForItsReleaseGoesOutBeforeTheThreadWaits) {
  OpenBackend();
  Press('A');
  InjectFlush();
  ExpectReceived(U"a");
  InjectFlush(); // nothing held back: nothing sent
  Release('A');
  Tap('B');
  ExpectReceived(U"b");
}

TEST_F(XTestTyping, SendInputKeyDownTypesOneWholeKeyPress) {
  OpenBackend();
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = 'K';
  in.ki.dwFlags = KEYEVENTF_SILENT;
  EXPECT_EQ(SendInput(1, &in, 28), 1u);
  // Were K left down, Shift would not change it and a held key would repeat.
  ShiftedTap('L');
  ExpectReceived(U"kL");
}

TEST_F(XTestTyping, GermanKeymapVirtualKeysTypeTheLettersTheyName) {
  OpenBackend();
  Tap('Z');
  Tap('Y');
  ExpectReceived(U"zy");
  // The keymap changes while the backend runs: it reads the new one.
  ASSERT_TRUE(server_.SetLayout("de"));
  Tap('Z');
  Tap('Y');
  ShiftedTap('Z');
  CapsTap('Y');
  Tap(VK_OEM_3);
  ShiftedTap(VK_OEM_3);
  ShiftedTap('2'); // the host's own Shift+2: a double quote on a German keymap
  PostText(U"zyZY@€äöüß{}|~é Жж");
  ExpectReceived(U"zyZY`~\"zyZY@€äöüß{}|~é Жж");
}

TEST_F(XTestTyping, HostCapsLockOnIsRespectedWhenPostingCharacters) {
  ASSERT_TRUE(server_.SetLayout("de"));
  OpenBackend();
  keybd_event(VK_CAPITAL, 0, 0, 0); // the host's own caps lock, switched on
  keybd_event(VK_CAPITAL, 0, KEYEVENTF_KEYUP, 0);
  PostText(U"abcABCäÄéÉжЖ€1!");
  Tap('Q'); // a key, by contrast, is capitalised by the host's caps lock
  keybd_event(VK_CAPITAL, 0, 0, 0);
  keybd_event(VK_CAPITAL, 0, KEYEVENTF_KEYUP, 0);
  PostText(U"aé");
  ExpectReceived(U"abcABCäÄéÉжЖ€1!Qaé");
}

TEST_F(XTestTyping, LentKeycodesAreGivenBackAtClose) {
  OpenBackend();
  PostText(U"жΩ");
  ExpectReceived(U"жΩ");
  InjectSetBackend(nullptr);
  ops_->close(ops_->self);
  ops_ = nullptr;
  // Cyrillic_zhe, Greek_OMEGA: on no key any more.
  EXPECT_EQ(CountKeysymInKeymap(server_.display(), 0x6d6), 0);
  EXPECT_EQ(CountKeysymInKeymap(server_.display(), 0x7d9), 0);
}

// 33 Cyrillic, 24 Greek and 38 Armenian letter pairs: more keysyms than the
// spare keycodes of Xvfb hold even at eight levels each, so levels are lent
// again and again, with the host's caps lock off and then on.
TEST_F(XTestTyping, MorePairsThanLentKeycodesHoldArriveExactlyWithCapsLockOffAndOn) {
  ASSERT_TRUE(server_.SetLayout("de"));
  OpenBackend();
  std::u32string letters, capitals;
  for (char32_t c = U'а'; c <= U'я'; ++c) {
    letters += c;
    capitals += c - 0x20;
  }
  letters += U'ё';
  capitals += U'Ё';
  for (char32_t c = U'α'; c <= U'ω'; ++c) {
    if (c != U'ς') {
      letters += c;
      capitals += c - 0x20;
    }
  }
  for (char32_t c = U'ա'; c <= U'ֆ'; ++c) {
    letters += c;
    capitals += c - 0x30;
  }
  std::u32string text;
  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < letters.size(); ++i) {
      size_t k = (i * 7 + round) % letters.size();
      text += (i + round) % 3 == 0 ? capitals[k] : letters[k];
    }
  }
  PostText(text);
  keybd_event(VK_CAPITAL, 0, 0, 0); // the host's own caps lock, switched on
  keybd_event(VK_CAPITAL, 0, KEYEVENTF_KEYUP, 0);
  PostText(text);
  keybd_event(VK_CAPITAL, 0, 0, 0);
  keybd_event(VK_CAPITAL, 0, KEYEVENTF_KEYUP, 0);
  ExpectReceived(text + text);
}

TEST_F(XTestTyping, LentKeycodesAreGivenBackWhenIdle) {
  ASSERT_TRUE(server_.SetLayout("de"));
  const std::string before = KeymapFingerprint(server_.display());
  ASSERT_FALSE(before.empty());
  OpenBackend();
  PostText(U"жЖψΨщ");
  ExpectReceived(U"жЖψΨщ");
  // Cyrillic_zhe, Greek_PSI, Cyrillic_shcha: on no key of the German keymap.
  const unsigned long lent[] = {0x6d6, 0x7d8, 0x6dd};
  auto onKeys = [&] {
    int n = 0;
    for (unsigned long ks : lent)
      n += CountKeysymInKeymap(server_.display(), ks) > 0;
    return n;
  };
  EXPECT_EQ(onKeys(), 3);
  // Two seconds without typing, and the idle check that follows.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (onKeys() != 0 && std::chrono::steady_clock::now() < deadline)
    usleep(100000);
  EXPECT_EQ(onKeys(), 0);
  EXPECT_EQ(KeymapFingerprint(server_.display()), before) << "the keymap as it was";
  // Typing again after the restore lends afresh.
  PostText(U"Жψ");
  ExpectReceived(U"Жψ");
}

// An Xlib client reads its keymap, and asks to be told of changes, only when
// it translates its first key; a keymap change that falls between the two is
// never announced to it. Each round: a layout switch (which empties every
// lent keycode), a new client that has translated nothing yet, and a plain
// key followed at once by a character that needs a keycode lent afresh.
TEST_F(XTestTyping, CharacterLentRightAfterANewClientsFirstKeyArrives) {
  OpenBackend();
  const char *layouts[] = {"de", "us"};
  const std::u32string lent = U"жщфыюэъбдлпц";
  for (size_t round = 0; round < lent.size(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(server_.SetLayout(layouts[round % 2]));
    auto fresh = std::make_unique<Recorder>();
    ASSERT_TRUE(fresh->Start(server_.display())) << "recording client did not start";
    // Two batches, as when the bytes arrive apart: the plain key goes out
    // before the keymap change.
    std::u32string text = U"a";
    text += lent[round];
    PostText(text.substr(0, 1));
    PostText(text.substr(1));
    std::u32string got = fresh->Read(text.size(), 2000);
    EXPECT_EQ(Show(got), Show(text));
  }
}

// Where the keymap's eight-level types read levels 5-8 with the num lock
// modifier, a key pressed for it is lent, and each lent keycode carries
// eight keysyms: the keymap read back shows every letter on a level of its
// own. With the host's num lock on, only levels 5-8 read: the letters on
// levels 1-4 are lent again there; with caps lock on too, small letters
// stay small.
TEST_F(XTestTyping, LentKeycodesCarryEightLevelsReadExactlyWithNumLockAndCapsLock) {
  ASSERT_TRUE(server_.SetLayout("de"));
  OpenBackend();
  const std::u32string small = FortyLentLetters(), both = small + Capitals(small);
  PostText(small);
  ExpectReceived(small);
  Carried carried = CarriedAtWidth(server_.display(), small, 8);
  EXPECT_EQ(carried.keysyms, small.size()) << "each letter on a level of an eight-level key";

  Tap(kVkNumLock);
  PostText(both);
  Tap(VK_CAPITAL);
  PostText(both);
  Tap(kVkNumLock);
  PostText(both);
  Tap(VK_CAPITAL);
  PostText(small);
  ExpectReceived(both + both + both + small);
}

// A keymap with a level-5 key of its own: lent keycodes carry eight levels
// reached with it, and no key is lent for level 5. Its eight-level type
// cannot give level 5 under caps lock: letters there are lent again on
// another level while caps lock is on.
TEST_F(XTestTyping, TheKeymapsOwnLevelFiveKeyGivesEightLevels) {
  ASSERT_TRUE(server_.SetLayout("de", "lv5:ralt_switch"));
  const std::string before = KeymapFingerprint(server_.display());
  OpenBackend();
  const std::u32string small = FortyLentLetters(), both = small + Capitals(small);
  PostText(small);
  ExpectReceived(small);
  Carried carried = CarriedAtWidth(server_.display(), small, 8);
  EXPECT_EQ(carried.keysyms, small.size());
  EXPECT_GT(carried.keycodes, small.size() / 8) << "a whole keycode a letter while spares last";
  Tap(VK_CAPITAL);
  PostText(both);
  Tap(VK_CAPITAL);
  PostText(small);
  ExpectReceived(both + small);
  InjectSetBackend(nullptr);
  ops_->close(ops_->self);
  ops_ = nullptr;
  EXPECT_EQ(KeymapFingerprint(server_.display()), before);
}

// With the host's num lock on, the eight-level types read levels 5-8 only:
// no key is lent for level 5, and lent keycodes keep four levels.
TEST_F(XTestTyping, WithNumLockOnLentKeycodesKeepFourLevels) {
  ASSERT_TRUE(server_.SetLayout("de"));
  OpenBackend();
  Tap(kVkNumLock);
  const std::u32string small = FortyLentLetters();
  PostText(small);
  Tap(kVkNumLock);
  PostText(Capitals(small));
  ExpectReceived(small + Capitals(small));
  EXPECT_EQ(CarriedAtWidth(server_.display(), small + Capitals(small), 8).keysyms, 0u);
  EXPECT_EQ(CarriedAtWidth(server_.display(), Capitals(small), 4).keysyms, small.size());
}

// The level-5 key and the lent keycodes are given back at close: the keymap,
// its modifier map and the core keymap read back as they were.
TEST_F(XTestTyping, LevelFiveKeyAndLentKeycodesAreGivenBackExactlyAtClose) {
  ASSERT_TRUE(server_.SetLayout("de"));
  const std::string before = KeymapFingerprint(server_.display());
  ASSERT_FALSE(before.empty());
  OpenBackend();
  const std::u32string small = FortyLentLetters();
  PostText(small + Capitals(small));
  ExpectReceived(small + Capitals(small));
  ASSERT_GT(CarriedAtWidth(server_.display(), small, 8).keycodes, 0u) << "no level-5 key lent";
  EXPECT_NE(KeymapFingerprint(server_.display()), before);
  InjectSetBackend(nullptr);
  ops_->close(ops_->self);
  ops_ = nullptr;
  EXPECT_EQ(KeymapFingerprint(server_.display()), before);
}

// A keymap whose num lock modifier stands for no real modifier has no way
// to reach levels 5-8: lent keycodes keep four levels, and no key is lent
// for level 5.
TEST_F(XTestTyping, WithoutANumLockModifierLentKeycodesKeepFourLevels) {
  ASSERT_TRUE(server_.SetLayout("de"));
  {
    Display *dpy = XOpenDisplay(server_.display().c_str());
    ASSERT_NE(dpy, nullptr);
    XModifierKeymap *mods = XGetModifierMapping(dpy);
    mods = XDeleteModifiermapEntry(mods, XKeysymToKeycode(dpy, XK_Num_Lock), Mod2MapIndex);
    ASSERT_EQ(XSetModifierMapping(dpy, mods), MappingSuccess);
    XFreeModifiermap(mods);
    XCloseDisplay(dpy);
  }
  const std::string before = KeymapFingerprint(server_.display());
  OpenBackend();
  const std::u32string small = FortyLentLetters();
  PostText(small);
  ExpectReceived(small);
  EXPECT_EQ(CarriedAtWidth(server_.display(), small, 8).keysyms, 0u);
  Carried carried = CarriedAtWidth(server_.display(), small, 4);
  EXPECT_EQ(carried.keysyms, small.size());
  EXPECT_GT(carried.keycodes, small.size() / 4) << "a whole keycode a letter while spares last";
  InjectSetBackend(nullptr);
  ops_->close(ops_->self);
  ops_ = nullptr;
  EXPECT_EQ(KeymapFingerprint(server_.display()), before);
}

// While spare keycodes last, a character no key carries is lent a whole
// keycode, the keysym on every level, and typed with no modifier pressed: no
// client is sent a modifier state notice for it (each is a wake-up of every X
// client). Typed in one batch and one character a batch, with caps lock off
// and on.
TEST_F(XTestTyping, CharactersLentWholeKeycodesTypeWithoutModifierPresses) {
  ASSERT_TRUE(server_.SetLayout("de"));
  OpenBackend();
  Display *watcher = XOpenDisplay(server_.display().c_str());
  ASSERT_NE(watcher, nullptr);
  XkbSelectEventDetails(watcher, XkbUseCoreKbd, XkbStateNotify, XkbAllStateComponentsMask,
                        XkbAllStateComponentsMask);
  XSync(watcher, False);
  int xkbEvent = 0, opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
  ASSERT_TRUE(XkbQueryExtension(watcher, &opcode, &xkbEvent, &error, &major, &minor));
  auto stateNotices = [&] {
    XSync(watcher, False);
    int n = 0;
    while (XPending(watcher)) {
      XEvent ev;
      XNextEvent(watcher, &ev);
      n += ev.type == xkbEvent;
    }
    return n;
  };
  const std::u32string small = U"жщψфЖДλ", batch = small + U"Ψ";
  PostText(batch);
  for (char32_t c : small)
    PostText(std::u32string(1, c));
  ExpectReceived(batch + small);
  EXPECT_EQ(stateNotices(), 0) << "modifiers pressed around lent characters";
  for (const std::vector<unsigned long> &levels : GroupOneLevels(server_.display())) {
    for (char32_t c : batch) {
      unsigned long ks = xkb_utf32_to_keysym(c);
      if (!levels.empty() && levels[0] == ks)
        EXPECT_EQ(std::set<unsigned long>(levels.begin(), levels.end()).size(), 1u)
            << "keysym 0x" << std::hex << ks << " alone on its keycode";
    }
  }
  Tap(VK_CAPITAL); // the host's caps lock on: two notices (locked, then not pressed)
  InjectFlush();
  // Both notices must be counted here, not after the next text: the server
  // may deliver them a moment after the backend has sent the key.
  int capsNotices = 0;
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       capsNotices < 2 && std::chrono::steady_clock::now() < until;)
    capsNotices += stateNotices();
  ASSERT_GE(capsNotices, 2) << "caps lock reached the server";
  PostText(small);
  ExpectReceived(small);
  EXPECT_EQ(stateNotices(), 0) << "modifiers pressed around lent characters under caps lock";
  Tap(VK_CAPITAL);
  XCloseDisplay(watcher);
}

TEST_F(XTestTyping, StressTwoThousandMixedCharactersUnderGermanKeymapArriveExactly) {
  ASSERT_TRUE(server_.SetLayout("de"));
  OpenBackend();
  std::u32string text = MixedStressText(2000);
  auto start = std::chrono::steady_clock::now();
  PostText(text);
  std::u32string got = recorder_.Read(text.size(), 5000);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (size_t i = 0; i < text.size() && i < got.size(); ++i)
    ASSERT_EQ(got[i], text[i]) << "first difference at character " << i << " of " << got.size()
                               << ": ..." << Show(got.substr(i > 10 ? i - 10 : 0, 20)) << " for ..."
                               << Show(text.substr(i > 10 ? i - 10 : 0, 20));
  ASSERT_EQ(got.size(), text.size()) << "received " << got.size() << " of " << text.size();
  printf("stress: %zu characters in %.2f s\n", text.size(), seconds);
  RecordProperty("chars_per_second", static_cast<int>(text.size() / seconds));
}

} // namespace

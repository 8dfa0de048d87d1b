// The uinput backend's plan of keys for a layout, checked against
// xkbcommon's own answer: the planned events are played into an xkb_state of
// the same keymap, and the characters the keys then produce must be the ones
// asked for. Also where the layout names come from, and, where this machine
// has a writable /dev/uinput, the events the real device delivers.
#include "platform/inject.h"
#include "platform/keymaps/desktop_layout.h"
#include "platform/uinput/evdev_library.h"
#include "platform/keymaps/host_layout.h"
#include "platform/keymaps/key_plan.h"
#include "platform/uinput/uinput_backend.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// One layout: its keymap compiled here, apart from the plan's own, and the plan.
class Layout {
public:
  explicit Layout(const char *layout) {
    ctx_ = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    xkb_rule_names names{nullptr, nullptr, layout, nullptr, nullptr};
    keymap_ = xkb_keymap_new_from_names(ctx_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    ok_ = keymap_ && PlanForNames(XkbNames{"", "", layout, "", "", "test"}, plan_);
  }
  ~Layout() {
    xkb_keymap_unref(keymap_);
    xkb_context_unref(ctx_);
  }
  bool ok() const { return ok_; }
  const KeyPlan &plan() const { return plan_; }

  // What a client of this keymap reads from the events: the character of
  // every key pressed that is not a modifier, in order.
  std::u32string Play(const std::vector<KeyInputEvent> &events) const {
    std::u32string got;
    xkb_state *state = xkb_state_new(keymap_);
    for (const KeyInputEvent &e : events) {
      if (e.type != EV_KEY)
        continue;
      xkb_keycode_t kc = e.code + 8;
      if (e.value == 1) {
        uint32_t cp = xkb_keysym_to_utf32(xkb_state_key_get_one_sym(state, kc));
        if (cp)
          got.push_back(cp);
      }
      xkb_state_update_key(state, kc, e.value ? XKB_KEY_DOWN : XKB_KEY_UP);
    }
    // Every modifier pressed was released again.
    EXPECT_EQ(xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED), 0u);
    xkb_state_unref(state);
    return got;
  }

  // Types text by the plan and plays it back.
  std::u32string Type(const std::u32string &text) const {
    std::vector<KeyInputEvent> events;
    for (char32_t c : text)
      EXPECT_TRUE(plan_.AppendCharacter(events, c));
    return Play(events);
  }

private:
  xkb_context *ctx_ = nullptr;
  xkb_keymap *keymap_ = nullptr;
  KeyPlan plan_;
  bool ok_ = false;
};

// What a client reads for text when the characters the layout lacks go
// through Ctrl+Shift+U: "U", the hexadecimal digits, a space.
std::u32string Expected(const KeyPlan &plan, const std::u32string &text) {
  std::u32string want;
  for (char32_t c : text) {
    if (plan.ForChar(c)) {
      want.push_back(c == 10 ? 13 : c);
      continue;
    }
    want.push_back(U'U');
    char hex[16];
    snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(c));
    for (char *h = hex; *h; ++h)
      want.push_back(static_cast<char32_t>(*h));
    want.push_back(U' ');
  }
  return want;
}

#define NEED_LAYOUT(l)                                                                             \
  if (!(l).ok())                                                                                   \
  GTEST_SKIP() << "skipped: the XKB data for this layout is not installed"

TEST(KeyPlan, EveryPlannedCharacterIsWhatTheKeymapTypes) {
  for (const char *name : {"us", "de", "fr", "ru", "gr"}) {
    SCOPED_TRACE(name);
    Layout layout(name);
    NEED_LAYOUT(layout);
    EXPECT_GT(layout.plan().Chars().size(), 60u);
    for (const auto &[cp, stroke] : layout.plan().Chars()) {
      std::vector<KeyInputEvent> events;
      ASSERT_TRUE(layout.plan().AppendCharacter(events, cp));
      EXPECT_EQ(layout.Play(events), std::u32string(1, cp)) << "U+" << std::hex << cp;
    }
  }
}

TEST(KeyPlan, LettersAndSymbolsMoveWithTheLayout) {
  Layout de("de");
  NEED_LAYOUT(de);
  // German: z and y swap, @ is AltGr+Q, " is Shift+2.
  EXPECT_EQ(de.plan().ForChar('z')->key, KEY_Y);
  EXPECT_EQ(de.plan().ForChar('y')->key, KEY_Z);
  const KeyStroke *at = de.plan().ForChar('@');
  ASSERT_NE(at, nullptr);
  EXPECT_EQ(at->key, KEY_Q);
  ASSERT_EQ(at->modCount, 1);
  EXPECT_EQ(at->mods[0], KEY_RIGHTALT);
  EXPECT_EQ(de.plan().ForChar('"')->key, KEY_2);
  EXPECT_EQ(de.Type(U"Grüße, @€\"{}|~ äöÜ ß\n"), U"Grüße, @€\"{}|~ äöÜ ß\r");
  // Virtual keys by their meaning: Z is the key that types z.
  EXPECT_EQ(de.plan().KeyForVk('Z'), static_cast<unsigned>(KEY_Y));
  EXPECT_EQ(de.plan().KeyForVk('Y'), static_cast<unsigned>(KEY_Z));
  EXPECT_EQ(de.plan().KeyForVk(VK_SHIFT), static_cast<unsigned>(KEY_LEFTSHIFT));
  EXPECT_EQ(de.plan().KeyForVk(VK_RETURN), static_cast<unsigned>(KEY_ENTER));
  // No German key carries [ unshifted: its US position.
  EXPECT_EQ(de.plan().KeyForVk(VK_OEM_4), static_cast<unsigned>(KEY_LEFTBRACE));

  Layout fr("fr");
  NEED_LAYOUT(fr);
  // French: digits need Shift, a and q swap.
  const KeyStroke *one = fr.plan().ForChar('1');
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->key, KEY_1);
  ASSERT_EQ(one->modCount, 1);
  EXPECT_EQ(one->mods[0], KEY_LEFTSHIFT);
  EXPECT_EQ(fr.plan().KeyForVk('A'), static_cast<unsigned>(KEY_Q));
  EXPECT_EQ(fr.Type(U"Azerty 1234 àéèç @#"), U"Azerty 1234 àéèç @#");

  Layout us("us");
  NEED_LAYOUT(us);
  EXPECT_EQ(us.Type(U"Hello, World! ~`[]{}\t"), U"Hello, World! ~`[]{}\t");
  // The keypad's * and . stay behind the main block's keys.
  EXPECT_EQ(us.plan().ForChar('*')->key, KEY_8);
  EXPECT_EQ(us.plan().ForChar('.')->key, KEY_DOT);
}

TEST(KeyPlan, CharactersTheLayoutLacksAreEnteredByTheLayoutsOwnDigitKeys) {
  Layout fr("fr");
  NEED_LAYOUT(fr);
  // Ж is on no French key: Ctrl+Shift+U, then 4 1 6 each with Shift (the
  // playback reads digits only when Shift is held), then Space.
  ASSERT_EQ(fr.plan().ForChar(U'Ж'), nullptr);
  EXPECT_EQ(fr.Type(U"aЖ€Ω😀"), Expected(fr.plan(), U"aЖ€Ω😀"));
  EXPECT_EQ(fr.Type(U"Ж"), U"U416 ");

  Layout de("de");
  NEED_LAYOUT(de);
  EXPECT_EQ(de.Type(U"ЖΩé€ÿ"), Expected(de.plan(), U"ЖΩé€ÿ"));

  // Russian: Cyrillic on its own keys; Latin letters the layout lacks come
  // through hexadecimal entry, whose u and a-f sit at their US positions.
  Layout ru("ru");
  NEED_LAYOUT(ru);
  EXPECT_EQ(ru.plan().ForChar(U'ж')->key, KEY_SEMICOLON);
  EXPECT_EQ(ru.Type(U"Жук, ёж!"), U"Жук, ёж!");
  EXPECT_EQ(ru.plan().ForChar(U'e'), nullptr);
  EXPECT_EQ(ru.plan().KeyForVk('A'), static_cast<unsigned>(KEY_A));
  std::vector<KeyInputEvent> events;
  ASSERT_TRUE(ru.plan().AppendCharacter(events, 0xE9)); // é: U, e, 9, Space
  std::vector<unsigned> pressed;
  for (const KeyInputEvent &e : events)
    if (e.type == EV_KEY && e.value == 1)
      pressed.push_back(e.code);
  EXPECT_EQ(pressed, (std::vector<unsigned>{KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_U, KEY_E, KEY_9,
                                            KEY_SPACE}));

  // Nothing typeable: nothing at all.
  events.clear();
  EXPECT_FALSE(ru.plan().AppendCharacter(events, 0x01));
  EXPECT_FALSE(ru.plan().AppendCharacter(events, 0xDC00));
  EXPECT_FALSE(ru.plan().AppendCharacter(events, 0x110000));
  EXPECT_TRUE(events.empty());
}

// locale1 stand-ins.
bool Locale1De(XkbNames &out, std::string &) {
  out = XkbNames{"", "pc105", "de", "nodeadkeys", "", "locale1"};
  return true;
}
bool Locale1Empty(XkbNames &out, std::string &) {
  out = XkbNames{"", "", "", "", "", "locale1"};
  return true;
}
bool Locale1Absent(XkbNames &, std::string &why) {
  why = "no answer";
  return false;
}
int gLocale1Reads = 0;
bool Locale1Counted(XkbNames &out, std::string &why) {
  ++gLocale1Reads;
  return Locale1De(out, why);
}

bool DesktopGnomeFr(XkbNames &out, std::string &) {
  out = XkbNames{"", "", "fr", "oss", "", "GNOME input sources"};
  return true;
}
bool DesktopNone(XkbNames &, std::string &why) {
  why = "another desktop";
  return false;
}

TEST(HostLayout, TheEnvironmentThenTheDesktopThenLocale1ThenUs) {
  XkbNames env{"", "", "fr", "bepo", "", "environment"};
  XkbNames got = ChooseXkbNames(env, DesktopGnomeFr, Locale1Counted);
  EXPECT_EQ(got.layout, "fr");
  EXPECT_EQ(got.variant, "bepo");
  EXPECT_EQ(gLocale1Reads, 0); // the bus is not asked when not needed

  // Without XKB_DEFAULT_LAYOUT the desktop's setting comes before the
  // machine's, and the bus is not asked.
  env = XkbNames{"", "", "", "dvorak", "", "environment"};
  got = ChooseXkbNames(env, DesktopGnomeFr, Locale1Counted);
  EXPECT_EQ(got.source, "GNOME input sources");
  EXPECT_EQ(got.variant, "oss");
  EXPECT_EQ(gLocale1Reads, 0);

  // Then locale1 whole: a variant or model of the environment is not mixed
  // into its layout.
  got = ChooseXkbNames(env, DesktopNone, Locale1De);
  EXPECT_EQ(got.source, "locale1");
  EXPECT_EQ(got.layout, "de");
  EXPECT_EQ(got.variant, "nodeadkeys");

  for (auto reader : {Locale1Empty, Locale1Absent}) {
    got = ChooseXkbNames(env, DesktopNone, reader);
    EXPECT_EQ(got.source, "default");
    EXPECT_EQ(got.layout, "");
    EXPECT_EQ(got.variant, "");
  }

  // The real environment: XKB_DEFAULT_* read as they are.
  setenv("XKB_DEFAULT_LAYOUT", "gr", 1);
  setenv("XKB_DEFAULT_OPTIONS", "grp:alt_shift_toggle", 1);
  got = XkbNamesFromEnvironment();
  unsetenv("XKB_DEFAULT_LAYOUT");
  unsetenv("XKB_DEFAULT_OPTIONS");
  EXPECT_EQ(got.layout, "gr");
  EXPECT_EQ(got.options, "grp:alt_shift_toggle");
}

TEST(DesktopLayout, GnomeInputSourcesAndKdeKxkbrcAsTheyAreWritten) {
  XkbNames got;
  // Input methods are passed over; "layout+variant"; options joined.
  ASSERT_TRUE(XkbNamesFromGnomeSettings("[('ibus', 'anthy'), ('xkb', 'de+nodeadkeys'), ('xkb', 'us')]",
                                        "['compose:ralt', 'ctrl:nocaps']", got));
  EXPECT_EQ(got.layout, "de");
  EXPECT_EQ(got.variant, "nodeadkeys");
  EXPECT_EQ(got.options, "compose:ralt,ctrl:nocaps");
  ASSERT_TRUE(XkbNamesFromGnomeSettings("[('xkb', 'gr')]", "@as []", got));
  EXPECT_EQ(got.layout, "gr");
  EXPECT_EQ(got.variant, "");
  EXPECT_EQ(got.options, "");
  for (const char *none : {"@a(ss) []", "", "[('ibus', 'pinyin')]", "[('xkb', '')]", "[('xkb'"})
    EXPECT_FALSE(XkbNamesFromGnomeSettings(none, "", got)) << none;

  const std::string kxkbrc = "[Other]\nLayoutList=ru\n\n[Layout]\nDisplayNames=\n"
                             "LayoutList=de, us\nModel=pc105\nOptions=grp:alt_shift_toggle\n"
                             "Use=true\nVariantList=nodeadkeys,intl\n";
  ASSERT_TRUE(XkbNamesFromKxkbrc(kxkbrc, got));
  EXPECT_EQ(got.layout, "de");
  EXPECT_EQ(got.variant, "nodeadkeys");
  EXPECT_EQ(got.model, "pc105");
  EXPECT_EQ(got.options, "grp:alt_shift_toggle");
  // Layouts the person switched off, or none set, are not a setting.
  EXPECT_FALSE(XkbNamesFromKxkbrc("[Layout]\nLayoutList=de\nUse=false\n", got));
  EXPECT_FALSE(XkbNamesFromKxkbrc("[Layout]\nUse=true\nLayoutList=\n", got));
  EXPECT_FALSE(XkbNamesFromKxkbrc("[Other]\nUse=true\nLayoutList=de\n", got));
}

// The desktop's files and programs as the backend reads them: kxkbrc in the
// configuration folder, and gsettings (a stand-in first on PATH) whose
// answer for one key never comes: the reader gives up on it within its
// second and goes on.
TEST(DesktopLayout, ReadFromTheRunningDesktop) {
  char tmpl[] = "/tmp/vantrel-desktop-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  const std::string dir = tmpl;
  const std::string oldPath = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  std::ofstream(dir + "/kxkbrc") << "[Layout]\nLayoutList=fr\nUse=true\nVariantList=bepo\n";
  std::ofstream(dir + "/gsettings")
      << "#!/bin/sh\n"
      << "case \"$3\" in\n"
      << "  mru-sources) echo \"@a(ss) []\" ;;\n"
      << "  sources) echo \"[('xkb', 'ch+fr')]\" ;;\n"
      << "  xkb-options) exec sleep 5 ;;\n"
      << "esac\n";
  chmod((dir + "/gsettings").c_str(), 0755);
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  setenv("PATH", (dir + ":" + oldPath).c_str(), 1);

  XkbNames got;
  std::string why;
  setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
  EXPECT_TRUE(XkbNamesFromDesktop(got, why)) << why;
  EXPECT_EQ(got.layout + "/" + got.variant, "fr/bepo");

  setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
  EXPECT_TRUE(XkbNamesFromDesktop(got, why)) << why;
  EXPECT_EQ(got.layout + "/" + got.variant + "/" + got.options, "ch/fr/");

  setenv("XDG_CURRENT_DESKTOP", "sway", 1);
  EXPECT_FALSE(XkbNamesFromDesktop(got, why));
  unsetenv("XDG_CURRENT_DESKTOP");
  EXPECT_FALSE(XkbNamesFromDesktop(got, why));

  setenv("PATH", oldPath.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  system(("rm -rf '" + dir + "'").c_str());
}

// Helpers that misbehave cost the reader a bounded time: a gsettings that
// closes its output and lingers is killed at the end of its second, and a
// kxkbrc that is a FIFO (no writer ever comes) is not read at all.
TEST(DesktopLayout, LingeringGsettingsAndAFifoKxkbrcReturnInBoundedTime) {
  char tmpl[] = "/tmp/vantrel-desktop-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  const std::string dir = tmpl;
  const std::string oldPath = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  std::ofstream(dir + "/gsettings") << "#!/bin/sh\n"
                                    << "echo \"[('xkb', 'de')]\"\n"
                                    << "exec >&-\n"
                                    << "exec sleep 30\n";
  chmod((dir + "/gsettings").c_str(), 0755);
  const std::string fifo = dir + "/kxkbrc";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  setenv("PATH", (dir + ":" + oldPath).c_str(), 1);

  XkbNames got;
  std::string why;
  setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);
  auto start = std::chrono::steady_clock::now();
  // Its answer is printed, but a helper that has not exited is not trusted.
  EXPECT_FALSE(XkbNamesFromDesktop(got, why));
  const auto gnome = std::chrono::steady_clock::now() - start;
  // Three calls of about a second each; lingering, they took 30 s each.
  EXPECT_LT(gnome, std::chrono::seconds(10));

  // Without the fix the read would block for good: a watchdog opens the
  // FIFO's writing end after a while, which lets a blocked reader go on.
  std::mutex mu;
  std::condition_variable cv;
  bool returned = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(mu);
    if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return returned; })) {
      int w = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (w >= 0)
        close(w);
    }
  });
  setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
  start = std::chrono::steady_clock::now();
  const bool kde = XkbNamesFromDesktop(got, why);
  const auto kdeTime = std::chrono::steady_clock::now() - start;
  {
    std::lock_guard<std::mutex> lock(mu);
    returned = true;
  }
  cv.notify_all();
  watchdog.join();
  EXPECT_FALSE(kde);
  EXPECT_LT(kdeTime, std::chrono::seconds(4)) << "the FIFO was waited on";
  EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;

  unsetenv("XDG_CURRENT_DESKTOP");
  setenv("PATH", oldPath.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  system(("rm -rf '" + dir + "'").c_str());
}

// The backend opens libevdev itself: every call it makes is found, and
// describing a device through them works (no /dev/uinput needed).
TEST(UinputDevice, LibevdevLoadsWithEveryCallTheBackendMakes) {
  std::string why;
  const EvdevLibrary *lib = LoadEvdevLibrary(&why);
  ASSERT_NE(lib, nullptr) << why;
  libevdev *dev = lib->newDevice();
  ASSERT_NE(dev, nullptr);
  lib->setName(dev, "probe");
  lib->setIdBustype(dev, BUS_VIRTUAL);
  EXPECT_EQ(lib->enableEventType(dev, EV_KEY), 0);
  EXPECT_EQ(lib->enableEventCode(dev, EV_KEY, KEY_A, nullptr), 0);
  lib->freeDevice(dev);
  EXPECT_EQ(LoadEvdevLibrary(nullptr), lib) << "loaded once for the process";
}

// The events a real virtual keyboard delivers, read through libevdev from its
// event device.
TEST(UinputDevice, TypedCharactersArriveAsTheLayoutsKeys) {
  if (access("/dev/uinput", W_OK) != 0)
    GTEST_SKIP() << "skipped: no writable /dev/uinput on this machine";
  setenv("XKB_DEFAULT_LAYOUT", "de", 1);
  const InjectOps *ops = UinputInjectOpen(nullptr);
  unsetenv("XKB_DEFAULT_LAYOUT");
  ASSERT_NE(ops, nullptr);
  libevdev *dev = nullptr;
  int fd = -1;
  if (DIR *dir = opendir("/dev/input")) {
    while (dirent *e = readdir(dir)) {
      if (std::string(e->d_name).rfind("event", 0) != 0 || dev)
        continue;
      int f = open(("/dev/input/" + std::string(e->d_name)).c_str(), O_RDONLY | O_NONBLOCK);
      libevdev *d = nullptr;
      if (f >= 0 && libevdev_new_from_fd(f, &d) == 0 &&
          std::string(libevdev_get_name(d)) == "Vantrel virtual keyboard") {
        dev = d;
        fd = f;
        continue;
      }
      if (d)
        libevdev_free(d);
      if (f >= 0)
        close(f);
    }
    closedir(dir);
  }
  if (!dev) {
    ops->close(ops->self);
    GTEST_SKIP() << "skipped: the virtual keyboard's event device cannot be read";
  }
  const UINT text[] = {'z', '@'};
  EXPECT_TRUE(ops->postKeybdMessage(ops->self, reinterpret_cast<HWND>(-1), 0, 0, 2, nullptr, text));
  std::vector<unsigned> pressed;
  while (pressed.size() < 3) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0)
      break;
    input_event ev;
    while (libevdev_next_event(dev, LIBEVDEV_READ_FLAG_NORMAL, &ev) == LIBEVDEV_READ_STATUS_SUCCESS)
      if (ev.type == EV_KEY && ev.value == 1)
        pressed.push_back(ev.code);
  }
  EXPECT_EQ(pressed, (std::vector<unsigned>{KEY_Y, KEY_RIGHTALT, KEY_Q}));
  libevdev_free(dev);
  close(fd);
  ops->close(ops->self);
}

} // namespace

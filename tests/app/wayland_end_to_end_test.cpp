// The real vantrel against the vantrel-kbd keyboard emulator, typing into a
// Wayland window: a headless sway with wev focused (tests/inject's harness),
// the program injecting through the compositor's virtual keyboard. The
// program's own window stays offscreen: the build carries no Wayland
// platform for the toolkit, and a window of its own in the compositor would
// take the keyboard's focus from the recording client. The keys are the
// keyboard's scancodes for a mixed text (dead-key accents, AltGr cycles,
// caps lock, Backspace), through the Intl English layout file; the text must
// arrive exactly, whatever the compositor's own keymap.
#include "app_test_env.h"
#include "tests/inject/mutter_session.h"
#include "tests/inject/sway_session.h"
#include "tests/inject/x_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace testsupport;

namespace {

// The keyboard's scancodes for keys written as the characters on its keys
// (a-z, 0-9, space and the punctuation keys) and {S} Shift, {C} caps lock,
// {G} AltGr, {B} Backspace, {E} Enter; as a list for vantrel-kbd --keys.
std::string ScancodeList(const std::string &keys) {
  std::string out;
  for (size_t i = 0; i < keys.size(); ++i) {
    int code = static_cast<unsigned char>(keys[i]);
    if (keys[i] == '{') {
      const char name = keys.at(i + 1);
      i += 2;
      code = name == 'S' ? 2 : name == 'C' ? 3 : name == 'G' ? 114 : name == 'B' ? 8 : 13;
    } else if (code >= 'a' && code <= 'z') {
      code -= 'a' - 'A';
    }
    out += (out.empty() ? "" : ",") + std::to_string(code);
  }
  return out;
}

// The keys and the text they give under the Intl English layout, with
// Omega and omega added to the W key's AltGr cycle (no shipped layout file
// carries a Greek letter).
const char kKeys[] = "{S}hello, {S}world{S}1 {S}caf'e, na{G}iiiive {G}[{G}{C}'c{C}a va{S}/{G}]{G} "
                     "100{G}4{G} {S}7 for{S}6et {S}`n {G}uuuu{G} {G}s{G} {G}ss{G} "
                     "{G}w{G} {G}ww{G} {G}eeeee{G} {G}e{G}{E}"
                     "{S}2{S}3{S}4{S}5 x{B}-=[]\\;,./";
const char32_t kText[] = U"Hello, World! Café, naïve «Ça va?» 100€ & forêt ñ ü ß § Ω ω € é\n"
                         U"@#$% -=[]\\;,./";

// Puts Omega and omega at the head of the W key's AltGr cycle (columns 4
// and 5 of row 87) in the sandbox's copy of the layout file.
bool AddGreekToW(const std::string &path) {
  std::ifstream in(path);
  std::vector<std::string> rows;
  for (std::string row; std::getline(in, row);)
    rows.push_back(row);
  if (rows.size() <= 87)
    return false;
  std::vector<std::string> cells;
  std::stringstream row(rows[87]);
  for (std::string cell; std::getline(row, cell, ',');)
    cells.push_back(cell);
  if (cells.size() < 6)
    return false;
  cells[4] = "2937";
  cells[5] = "2969";
  std::string joined;
  for (const std::string &c : cells)
    joined += (joined.empty() ? "" : ",") + c;
  rows[87] = joined;
  std::ofstream out(path, std::ios::trunc);
  for (const std::string &r : rows)
    out << r << "\n";
  return bool(out);
}

// Runs the emulator typing kKeys and the program connected to it, in box
// with env, and checks that the program chose `backend`, that kText arrives
// whole in wev's window once focused() (when given) holds, and that the
// program quits cleanly. A fatal failure stops it (ASSERT_NO_FATAL_FAILURE
// stops the caller too).
void TypeTextAndQuit(ProgramSandbox &box, std::vector<std::string> env, const std::string &backend,
                     WevLog &wev, const std::function<bool()> &focused) {
  PresetProgramRun(box, u"COM3:");
  ASSERT_TRUE(AddGreekToW(box.path() + "/opt/Vantrel/Intl English.kcod"));
  env.push_back("LANG=C.UTF-8");
  const std::string trace = box.path() + "/trace.log";

  // The emulator types a while after the handshake, once wev has the
  // keyboard's focus; keys come faster than a person types.
  Child kbd({VANTREL_KBD_EXE, "--port", "COM3", "--devices", box.path() + "/dev", "--log",
             box.path() + "/kbd.log", "--keys", ScancodeList(kKeys), "--key-interval", "15",
             "--type-delay", "1000"},
            env, box.path() + "/kbd.out");
  ASSERT_TRUE(WaitFor([&] { return fs::exists(box.path() + "/dev/COM3"); }, 10s));
  Child vantrel({VANTREL_EXE, "--connect"}, env, box.path() + "/vantrel.out");
  ASSERT_TRUE(WaitFor([&] { return ReadFile(trace).find("Typing keys through") != std::string::npos; },
                      20s));
  ASSERT_NE(ReadFile(trace).find("Typing keys through " + backend), std::string::npos)
      << ReadFile(trace);
  if (focused) {
    ASSERT_TRUE(focused()) << "wev never got the virtual keyboard's focus";
  }
  ASSERT_TRUE(WaitFor([&] { return ReadFile(trace).find("Connect button: Disconnect") !=
                                   std::string::npos; },
                      20s))
      << ReadFile(trace);

  // Backspaces (those erasing a spacing accent or an AltGr alternative, and
  // the one typed) make the raw count larger than the text's: read until the
  // text is whole or nothing more came for ten seconds.
  const std::u32string want = kText;
  std::u32string got;
  size_t raw = 0;
  auto last = std::chrono::steady_clock::now();
  while (got != want && std::chrono::steady_clock::now() - last < 10s) {
    std::this_thread::sleep_for(20ms);
    const std::u32string &typed = wev.Typed();
    if (typed.size() != raw) {
      raw = typed.size();
      last = std::chrono::steady_clock::now();
      got = ApplyBackspaces(typed);
    }
  }
  EXPECT_TRUE(got == want) << "arrived " << got.size() << " of " << want.size()
                           << " characters; first difference at "
                           << std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first -
                                  got.begin();

  Child quit({VANTREL_EXE, "--quit"}, env, box.path() + "/quit.out");
  EXPECT_EQ(quit.Wait(10s), 0);
  EXPECT_EQ(vantrel.Wait(15s), 0) << ReadFile(box.path() + "/vantrel.out");
}

class WaylandEndToEnd : public ::testing::TestWithParam<const char *> {};

TEST_P(WaylandEndToEnd, KeyboardTextArrivesExactlyInAWaylandWindow) {
  if (!SwaySession::Available())
    GTEST_SKIP() << "skipped: sway, wev or stdbuf is not installed";
  SwaySession sway;
  if (!sway.Start(GetParam()))
    GTEST_SKIP() << "skipped: headless sway cannot run here: " << sway.why();

  ProgramSandbox box;
  std::vector<std::string> env = ProgramEnvironment(box.path());
  env.push_back("VANTREL_INJECT=wayland");
  env.push_back("WAYLAND_DISPLAY=" + sway.socket());
  TypeTextAndQuit(box, env, "wayland", sway.wev(), [&] { return sway.WaitForKeyboard(); });
}

INSTANTIATE_TEST_SUITE_P(CompositorKeymaps, WaylandEndToEnd, ::testing::Values("us", "de"));

// GNOME's compositor offers no virtual-keyboard protocol: with nothing
// named, the program chooses the desktop's RemoteDesktop portal by itself
// (here the stand-in, passing the keys to mutter's own RemoteDesktop), and
// types by mutter's keymap; characters the keymap lacks go through
// Ctrl+Shift+U, which the harness reads as GTK does.
class PortalEndToEnd : public ::testing::TestWithParam<const char *> {};

TEST_P(PortalEndToEnd, KeyboardTextArrivesExactlyThroughTheDesktopPortal) {
  if (!MutterSession::Available())
    GTEST_SKIP() << "skipped: mutter, wev, stdbuf, dbus-daemon or python3-dbus is missing";
  MutterSession mutter;
  if (!mutter.Start(GetParam()))
    GTEST_SKIP() << "skipped: headless mutter cannot run here: " << mutter.why();

  ProgramSandbox box;
  std::vector<std::string> env;
  for (const std::string &e : ProgramEnvironment(box.path()))
    if (e.rfind("VANTREL_INJECT=", 0) != 0 && e.rfind("DBUS_", 0) != 0)
      env.push_back(e);
  env.push_back("WAYLAND_DISPLAY=" + mutter.socket());
  env.push_back("XDG_SESSION_TYPE=wayland");
  env.push_back("DBUS_SESSION_BUS_ADDRESS=" + mutter.bus());
  env.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + mutter.bus());
  ASSERT_NO_FATAL_FAILURE(TypeTextAndQuit(box, env, "portal", mutter.wev(), nullptr));
  // The session ended with the program: its keys were released, and the
  // trace says the session was closed.
  EXPECT_NE(ReadFile(box.path() + "/trace.log").find("inject: portal: session"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(DesktopKeymaps, PortalEndToEnd, ::testing::Values("us", "de"));

} // namespace

// The real vantrel, headless, against the vantrel-kbd keyboard emulator:
// start-up on a fresh settings database, connecting through --connect,
// typed text arriving through the log injector, the status on the connect
// button (its trace lines), heartbeat loss, a second launch and Quit.
#include "common/settings_store.h"
#include "app_test_env.h"
#include "tests/support/portal_stand_in.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using namespace testsupport;

namespace {

// What the log injector's lines type, as text: key presses of letters (with
// Shift held or caps lock on), space and Enter, and posted characters.
std::string TypedText(const std::string &log) {
  std::string text;
  bool shift = false, caps = false;
  std::istringstream lines(log);
  std::string line;
  const std::regex number("\"(vk|flags)\":(\\d+)");
  while (std::getline(lines, line)) {
    if (line.find("\"PostKeybdMessage\"") != std::string::npos) {
      std::smatch m;
      if (std::regex_search(line, m, std::regex("\"chars\":\\[([0-9,]*)\\]"))) {
        std::stringstream list(m[1].str());
        std::string c;
        while (std::getline(list, c, ','))
          if (!c.empty())
            text += static_cast<char>(std::stoi(c));
      }
      continue;
    }
    if (line.find("\"keybd_event\"") == std::string::npos)
      continue;
    int vk = -1, flags = 0;
    for (std::sregex_iterator it(line.begin(), line.end(), number), end; it != end; ++it)
      ((*it)[1] == "vk" ? vk : flags) = std::stoi((*it)[2]);
    const bool up = flags & 2;
    if (vk == 0x10)
      shift = !up;
    else if (vk == 0x14 && !up)
      caps = !caps;
    else if (!up && vk >= 'A' && vk <= 'Z')
      text += static_cast<char>((shift != caps) ? vk : vk + 32);
    else if (!up && vk == ' ')
      text += ' ';
    else if (!up && vk == 0x0D)
      text += '\n';
  }
  return text;
}

class EndToEnd : public ::testing::Test {
protected:
  void SetUp() override {
    PresetProgramRun(box_, u"COM3:");
    env_ = {"VANTREL_ROOT=" + box_.path(),
            "VANTREL_REGISTRY=" + box_.path() + "/registry.db",
            "VANTREL_DEVICES=" + box_.path() + "/dev",
            "VANTREL_INJECT=log:" + box_.path() + "/inject.log",
            "VANTREL_TRACE=" + box_.path() + "/trace.log",
            "XDG_RUNTIME_DIR=" + box_.path(),
            "QT_QPA_PLATFORM=offscreen",
            "VANTREL_PLATFORM=PocketPC"};
  }
  std::unique_ptr<Child> StartKeyboard(const std::vector<std::string> &extra) {
    std::vector<std::string> args = {VANTREL_KBD_EXE, "--port", "COM3", "--devices",
                                     box_.path() + "/dev", "--log", box_.path() + "/kbd.log"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto kbd = std::make_unique<Child>(args, env_, box_.path() + "/kbd.out");
    EXPECT_TRUE(WaitFor([&] { return fs::exists(box_.path() + "/dev/COM3"); }, 5s));
    return kbd;
  }
  std::unique_ptr<Child> StartVantrel(const std::vector<std::string> &extra,
                                      const std::string &output = "vantrel.out") {
    std::vector<std::string> args = {VANTREL_EXE};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<Child>(args, env_, box_.path() + "/" + output);
  }
  std::string Trace() { return ReadFile(box_.path() + "/trace.log"); }
  bool TraceHas(const std::string &text, std::chrono::milliseconds limit) {
    return WaitFor([&] { return Trace().find(text) != std::string::npos; }, limit);
  }
  std::string Typed() { return TypedText(ReadFile(box_.path() + "/inject.log")); }

  ProgramSandbox box_;
  std::vector<std::string> env_;
};

TEST_F(EndToEnd, ConnectsTypesLosesTheHeartbeatAndQuits) {
  auto kbd = StartKeyboard({"--type", "Hello world", "--key-interval", "30"});
  auto vantrel = StartVantrel({"--connect"});
  ASSERT_TRUE(TraceHas("Connect button: Disconnect", 20s)) << Trace();
  EXPECT_NE(Trace().find("Typing keys through log"), std::string::npos);
  ASSERT_TRUE(WaitFor([&] { return Typed() == "Hello world"; }, 15s)) << Typed();

  // A second launch hands itself to the running one and ends.
  auto second = StartVantrel({}, "second.out");
  EXPECT_EQ(second->Wait(10s), 0);
  EXPECT_TRUE(TraceHas("Brought forward by a new launch", 5s));

  // The keyboard goes silent with its port still open: ten seconds without
  // a heartbeat end the link.
  kbd->Signal(SIGSTOP);
  ASSERT_TRUE(WaitFor(
      [&] {
        std::string t = Trace();
        size_t connected = t.rfind("Connect button: Disconnect");
        return t.find("Connect button: Connect\n", connected) != std::string::npos;
      },
      25s))
      << Trace();
  EXPECT_NE(Trace().find("Heartbeat timer expired"), std::string::npos);
  kbd->Signal(SIGCONT);

  // Quit through a later launch, as the Quit soft key.
  auto quit = StartVantrel({"--quit"}, "quit.out");
  EXPECT_EQ(quit->Wait(10s), 0);
  EXPECT_EQ(vantrel->Wait(15s), 0) << Trace();
}

TEST_F(EndToEnd, QuitWhileConnectedSendsTheDisconnectPacket) {
  auto kbd = StartKeyboard({});
  auto vantrel = StartVantrel({"--connect"});
  ASSERT_TRUE(TraceHas("Connect button: Disconnect", 20s)) << Trace();
  auto quit = StartVantrel({"--quit"}, "quit.out");
  EXPECT_EQ(quit->Wait(10s), 0);
  EXPECT_EQ(vantrel->Wait(15s), 0);
  // The emulator logs every packet; the disconnect command is among the
  // last ones it received.
  ASSERT_TRUE(WaitFor([&] { return ReadFile(box_.path() + "/kbd.log").find("\"close\"") !=
                                   std::string::npos; },
                      5s));
  const std::string log = ReadFile(box_.path() + "/kbd.log");
  EXPECT_NE(log.find("\"name\":\"DISCONNECT\""), std::string::npos) << log;
}

// The desktop's portal starts on demand and may be slow to answer: the
// window is made before the way to type keys is chosen, and once the
// portal answers it is chosen and types what the keyboard sends.
TEST_F(EndToEnd, TheWindowDoesNotWaitForASlowPortal) {
  testbus::PortalStandIn portal;
  if (!portal.Ready())
    GTEST_SKIP() << portal.Problem();
  ASSERT_TRUE(portal.HoldProperties(true));
  ASSERT_TRUE(portal.SetAnswer(0, 0));
  env_.push_back("VANTREL_INJECT=portal");
  env_.push_back("XKB_DEFAULT_LAYOUT=us");
  auto kbd = StartKeyboard({"--type", "hello hello", "--type-delay", "2000", "--key-interval", "50"});
  auto vantrel = StartVantrel({"--connect"});
  ASSERT_TRUE(TraceHas("Connect button:", 20s)) << Trace();
  // Held, the portal has not answered: the choice is still under way.
  EXPECT_EQ(Trace().find("Typing keys through"), std::string::npos) << Trace();
  ASSERT_TRUE(portal.HoldProperties(false));
  ASSERT_TRUE(TraceHas("Typing keys through portal", 20s)) << Trace();
  ASSERT_TRUE(TraceHas("Connect button: Disconnect", 20s)) << Trace();
  EXPECT_TRUE(WaitFor([&] { return portal.Keys().size() >= 4; }, 20s)) << Trace();
  EXPECT_EQ(portal.Dialogs(), 1u);
  auto quit = StartVantrel({"--quit"}, "quit.out");
  EXPECT_EQ(quit->Wait(10s), 0);
  EXPECT_EQ(vantrel->Wait(15s), 0);
}

TEST_F(EndToEnd, QuitWithNothingRunningStartsNothing) {
  auto quit = StartVantrel({"--quit"}, "quit.out");
  EXPECT_EQ(quit->Wait(10s), 1);
  EXPECT_FALSE(fs::exists(box_.path() + "/trace.log") &&
               Trace().find("Connect button") != std::string::npos);
}

TEST_F(EndToEnd, FreshSettingsAreFilledAtStartUp) {
  // No language stored: the first run stores the device language's file.
  env_.push_back("LC_ALL=en_US.UTF-8");
  SettingsStore::WriteString(u"language", u"None");
  auto vantrel = StartVantrel({});
  ASSERT_TRUE(TraceHas("Connect button", 20s) || TraceHas("yLine", 1s)) << Trace();
  EXPECT_NE(Trace().find("No language detected, forcing to device language"), std::string::npos);
  WCHAR value[kSettingTextUnits];
  SettingsStore::ReadString(u"language", value);
  EXPECT_EQ(std::u16string(value), u"English.lang");
  // The link runs with the time-out of the item the menu checks: "5 min".
  EXPECT_TRUE(WaitFor([] { return StoredSetting(u"Connection Timeout") == 300000; }, 10s))
      << StoredSetting(u"Connection Timeout");
  EXPECT_EQ(StoredSetting(u"Keyboard Timeout"), 1);
}

} // namespace

// Frame decoding scenarios: bytes written by a fake keyboard into a real
// pseudo-terminal, ReceiveBlock on the program's side, then the result code,
// the key bytes that reached key translation, the settings stored, the
// messages posted, the packets sent back, the message boxes shown and the
// link timers that expire as virtual time passes.
//
// The files in scenarios/ hold the cases; the format is described at the
// top of scenarios/README.txt. Each case becomes one test.
#include "tests/link_protocol/link_test_support.h"

#include "common/settings_store.h"
#include "common/messages.h"
#include "link/frame_actions.h"
#include "platform/clock.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace linktest {
namespace {

struct Line {
  int number;
  std::string keyword;
  std::string rest;
};

struct Scenario {
  std::string file;
  std::string name;
  std::vector<Line> lines;
};

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.file << ": " << s.name; }

std::string Trim(std::string s) {
  s.erase(0, s.find_first_not_of(" \t"));
  s.erase(s.find_last_not_of(" \t\r") + 1);
  return s;
}

std::vector<Scenario> LoadScenarios() {
  std::vector<Scenario> all;
  std::vector<std::filesystem::path> files;
  for (auto &e : std::filesystem::directory_iterator(VANTREL_SOURCE_DIR "/tests/link_protocol/scenarios"))
    if (e.path().extension() == ".txt" && e.path().filename() != "README.txt")
      files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (auto &path : files) {
    std::ifstream in(path);
    std::string text;
    int number = 0;
    while (std::getline(in, text)) {
      ++number;
      text = Trim(text);
      if (text.empty() || text[0] == '#')
        continue;
      size_t space = text.find_first_of(" \t");
      std::string keyword = text.substr(0, space);
      std::string rest = space == std::string::npos ? "" : Trim(text.substr(space));
      if (keyword == "case") {
        all.push_back({path.filename().string(), rest, {}});
        continue;
      }
      if (!all.empty())
        all.back().lines.push_back({number, keyword, rest});
    }
  }
  return all;
}

std::string TestName(const Scenario &s) {
  std::string name = s.file.substr(0, s.file.size() - 4) + "_";
  for (char c : s.name)
    name += isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

// "Serial No = 5" -> {"Serial No", "5"}
std::pair<std::string, std::string> NameValue(const std::string &rest) {
  size_t eq = rest.find('=');
  return {Trim(rest.substr(0, eq)), eq == std::string::npos ? "" : Trim(rest.substr(eq + 1))};
}

std::vector<std::string> Split(const std::string &rest, char sep) {
  std::vector<std::string> out;
  std::stringstream ss(rest);
  std::string item;
  while (std::getline(ss, item, sep))
    if (!Trim(item).empty())
      out.push_back(Trim(item));
  return out;
}

std::u16string U16(const std::string &s) { return Utf8ToUtf16(s); }

class Scenarios : public LinkTest, public ::testing::WithParamInterface<Scenario> {
protected:
  // The link timers run on a virtual clock that only "Nms" lines move on.
  VirtualClockScope clock{VirtualClock::Auto};
};

// "250ms" -> 250; -1 for any other keyword.
int TimeLine(const std::string &keyword) {
  size_t digits = keyword.find_first_not_of("0123456789");
  if (digits == 0 || digits == std::string::npos || keyword.substr(digits) != "ms")
    return -1;
  return std::stoi(keyword);
}

// The timers of TypingWnd due now, taken from this thread's queue by name
// and stopped, as the link controller stops its heartbeat and time-out
// timers when they expire (the test window does nothing else with them).
void TakeDueTimers(HWND typingWnd, std::vector<std::string> *fired) {
  MSG msg;
  while (PeekMessageW(&msg, typingWnd, WM_TIMER, WM_TIMER, PM_REMOVE)) {
    KillTimer(typingWnd, msg.wParam);
    switch (msg.wParam) {
    case kHeartbeatTimer:
      fired->push_back("heartbeat");
      break;
    case kStatusPollTimer:
      fired->push_back("poll");
      break;
    case kConnectionTimeoutTimer:
      fired->push_back("timeout");
      break;
    default:
      fired->push_back("timer " + std::to_string(msg.wParam));
      break;
    }
  }
}

TEST_P(Scenarios, Run) {
  const Scenario &s = GetParam();
  OpenPort();
  int result = -1;
  std::vector<int> scancodes;
  std::vector<std::string> posted;
  Bytes wire;
  std::vector<std::thread> later;
  std::vector<std::string> fired; // timers expired since the last "timers" line

  for (const Line &l : s.lines) {
    SCOPED_TRACE(s.file + ":" + std::to_string(l.number) + ": " + l.keyword + " " + l.rest);
    const std::string &r = l.rest;
    if (int ms = TimeLine(l.keyword); ms >= 0) {
      AdvanceVirtualClock(static_cast<DWORD>(ms));
      TakeDueTimers(typingWnd, &fired);
    } else if (l.keyword == "timers") {
      EXPECT_EQ(fired, r == "none" ? std::vector<std::string>{} : Split(r, ','));
      fired.clear();
    } else if (l.keyword == "given") {
      auto [what, value] = NameValue(r.substr(r.find(' ') + 1));
      std::string kind = r.substr(0, r.find(' '));
      if (kind == "synchronised")
        AppGlobals.linkSynchronised = 1;
      else if (kind == "setting")
        SettingsStore::WriteDword(U16(what).c_str(), static_cast<int32_t>(std::stoll(value, nullptr, 0)));
      else if (kind == "timeout")
        AppGlobals.connectionTimeout.store(std::stoi(what)); // "given timeout N"
      else if (kind == "linkState")
        AppGlobals.linkState.store(std::stoi(what));
      else if (kind == "no")
        AppGlobals.calibrationDialog.store(nullptr); // "given no calibration dialog"
      else if (kind == "reference")
        AppGlobals.handshakeReference = static_cast<uint8_t>(std::stoi(what));
      else if (kind == "thresholds") {
        auto v = Split(what, ' ');
        for (size_t i = 0; i < 5 && i < v.size(); ++i)
          AppGlobals.batteryThreshold[i] = std::stof(v[i]);
      } else
        FAIL() << "unknown given";
    } else if (l.keyword == "feed") {
      keyboard->Send(ParseHex(r));
    } else if (l.keyword == "feed-after") {
      // "feed-after 300: FA 01" writes the bytes 300 ms after the next call starts.
      int ms = std::stoi(r);
      Bytes bytes = ParseHex(r.substr(r.find(':') + 1));
      FakeKeyboard *kb = keyboard;
      later.emplace_back([kb, ms, bytes] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        kb->Send(bytes);
      });
    } else if (l.keyword == "call") {
      result = ReceiveBlock(std::stoi(r)).marker;
      for (auto &t : later)
        t.join();
      later.clear();
      scancodes = TakeScancodes();
      posted = TakePosted();
      wire = keyboard->Received(0, 30);
    } else if (l.keyword == "result") {
      EXPECT_EQ(result, std::stoi(r));
    } else if (l.keyword == "scancodes") {
      std::vector<int> want;
      if (r != "none")
        for (auto &v : Split(r, ' '))
          want.push_back(std::stoi(v));
      EXPECT_EQ(scancodes, want);
    } else if (l.keyword == "posted") {
      std::vector<std::string> want = r == "none" ? std::vector<std::string>{} : Split(r, ',');
      EXPECT_EQ(posted, want);
    } else if (l.keyword == "wire") {
      EXPECT_EQ(Hex(wire), r == "none" ? "" : Hex(ParseHex(r)));
    } else if (l.keyword == "setting") {
      auto [name, value] = NameValue(r);
      EXPECT_EQ(SettingsStore::ReadDword(U16(name).c_str(), -7777), std::stoll(value, nullptr, 0)) << name;
    } else if (l.keyword == "box") {
      ASSERT_FALSE(boxes.empty());
      EXPECT_EQ(boxes.front(), r);
      boxes.erase(boxes.begin());
    } else if (l.keyword == "boxes") {
      EXPECT_EQ(boxes.size(), static_cast<size_t>(std::stoi(r)));
    } else if (l.keyword == "trace") {
      EXPECT_EQ(CountTrace(r), 1) << "trace line: " << r;
    } else if (l.keyword == "synchronised") {
      EXPECT_EQ(AppGlobals.linkSynchronised, r == "yes" ? 1 : 0);
    } else if (l.keyword == "serialChanged") {
      EXPECT_EQ(AppGlobals.serialChanged.load(), std::stoi(r));
    } else if (l.keyword == "disconnectNotice") {
      EXPECT_EQ(AppGlobals.disconnectNoticePending.load(), std::stoi(r));
    } else if (l.keyword == "linkState") {
      EXPECT_EQ(AppGlobals.linkState.load(), std::stoi(r));
    } else if (l.keyword == "battery") {
      EXPECT_FLOAT_EQ(AppGlobals.batteryLevel.load(), std::stof(r));
    } else if (l.keyword == "reference") {
      EXPECT_EQ(AppGlobals.handshakeReference, std::stoi(r));
    } else if (l.keyword == "thresholds") {
      auto v = Split(r, ' ');
      for (size_t i = 0; i < 5 && i < v.size(); ++i)
        EXPECT_FLOAT_EQ(AppGlobals.batteryThreshold[i], std::stof(v[i])) << "threshold " << i + 1;
    } else {
      FAIL() << "unknown keyword";
    }
  }
  for (auto &t : later)
    t.join();
}

// Untrusted input: a long random stream, read in both block sizes, is
// decoded without a crash or a read past rxBuffer (run under the
// sanitizers), and every key byte in it still reaches key translation.
TEST_F(LinkTest, RandomStreamIsDecodedSafely) {
  OpenPort();
  AppGlobals.linkSynchronised = 1;
  SettingsStore::WriteDword(u"Build No", 9100);
  uint32_t seed = 12345;
  Bytes stream(4000);
  for (uint8_t &b : stream) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  keyboard->Send(stream);
  for (int call = 0; call < 4000; ++call) {
    auto start = std::chrono::steady_clock::now();
    ReceiveBlock(call % 3 == 0 ? 1 : 12);
    if (MsSince(start) > 100) // the stream has run dry
      break;
  }
  EXPECT_FALSE(TakeScancodes().empty());
  EXPECT_EQ(keyboard->Received(0, 0).size() % 12, 0u); // whole packets only
}

INSTANTIATE_TEST_SUITE_P(Decoder, Scenarios, ::testing::ValuesIn(LoadScenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &info) { return TestName(info.param); });

} // namespace
} // namespace linktest

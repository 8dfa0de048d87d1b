// The keyboard emulator against the program's decoder and packet code over
// a real pseudo-terminal: the handshake, the status frame, calibration,
// typed text, a reconnection, the scripted session's steps across
// connections, and the emulator's care of its link.
#include "tests/link_protocol/link_test_support.h"

#include "common/messages.h"
#include "common/settings_store.h"
#include "link/frame_actions.h"
#include "link/packets.h"
#include "platform/clock.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace linktest {
namespace {

class Emulator : public LinkTest {
protected:
  void TearDown() override {
    ClosePort();
    Stop();
    LinkTest::TearDown();
  }

  // Starts vantrel-kbd on COM6 in this test's devices folder; waits for its link.
  pid_t Start(std::vector<std::string> args, bool waitForLink = true) {
    args.insert(args.begin(), {VANTREL_KBD, "--port", "COM6", "--devices", devices, "--log", root + "/kbd.log"});
    std::vector<char *> argv;
    for (auto &a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, VANTREL_KBD, nullptr, nullptr, argv.data(), environ), 0);
    pids.push_back(pid);
    for (int i = 0; waitForLink && i < 200 && !LinkLive(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pid;
  }
  // The link names an existing pty (a stale link does not).
  bool LinkLive() {
    struct stat st;
    return stat((devices + "/COM6").c_str(), &st) == 0;
  }
  bool LinkExists() {
    struct stat st;
    return lstat((devices + "/COM6").c_str(), &st) == 0;
  }
  int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    pids.erase(std::remove(pids.begin(), pids.end(), pid), pids.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Stop() {
    for (pid_t pid : std::vector<pid_t>(pids)) {
      kill(pid, SIGTERM);
      Wait(pid);
    }
  }
  void OpenCom6() {
    HANDLE h = CreateFileW(u"COM6:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS t{120, 200, 10, 10, 100};
    SetCommTimeouts(h, &t);
    AppGlobals.portHandle.store(h);
  }
  // Calls ReceiveBlock until it returns `want` (true) or the time is up.
  bool ReceiveUntil(int blockSize, int want, int timeoutMs = 8000) {
    auto start = std::chrono::steady_clock::now();
    while (MsSince(start) < timeoutMs)
      if (ReceiveBlock(blockSize).marker == want)
        return true;
    return false;
  }
  // Sync and heartbeat, then the handshake request, identity and status,
  // in the link states the reader thread would be in (the identity is only
  // taken while handshaking); typing afterwards unless a status code closed
  // the link.
  void Handshake() {
    OpenCom6();
    ASSERT_TRUE(ReceiveUntil(12, RX_SYNC));
    ASSERT_TRUE(ReceiveUntil(12, RX_HEARTBEAT));
    AppGlobals.linkState.store(LINK_HANDSHAKE);
    SendPacket(kHandshakeRequestPacket);
    ASSERT_TRUE(ReceiveUntil(12, RX_IDENTITY));
    SendPacket(kRequestSystemDataPacket);
    ASSERT_TRUE(ReceiveUntil(12, RX_STATUS));
    int32_t handshake = LINK_HANDSHAKE;
    AppGlobals.linkState.compare_exchange_strong(handshake, LINK_TYPING);
  }
  std::vector<std::string> LogLines() {
    std::ifstream in(root + "/kbd.log");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
      lines.push_back(l);
    return lines;
  }
  bool Logged(const std::string &part) {
    for (int i = 0; i < 100; ++i) {
      for (auto &l : LogLines())
        if (l.find(part) != std::string::npos)
          return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Reads 1-byte blocks until `n` keys have arrived or the time is up;
  // stops early when the port has gone.
  std::vector<int> Keys(size_t n, int timeoutMs = 5000) {
    std::vector<int> keys;
    auto start = std::chrono::steady_clock::now();
    while (keys.size() < n && MsSince(start) < timeoutMs) {
      bool lost = ReceiveBlock(1).portLost;
      for (int k : TakeScancodes())
        keys.push_back(k);
      if (lost)
        break;
    }
    return keys;
  }
  // A connection up to typing: handshake, then the typing-mode packet.
  void ConnectAndType() {
    Handshake();
    SendPacket(kTypingModePacket);
    TakeScancodes();
  }
  std::string LinkTarget() {
    char target[256] = {};
    readlink((devices + "/COM6").c_str(), target, sizeof target - 1);
    return target;
  }

  std::vector<pid_t> pids;
  // The program's pauses (calibration on, the settings push) take no real
  // time; the emulator keeps its own.
  VirtualClockScope clock{VirtualClock::Auto};
};

TEST_F(Emulator, HandshakeStoresTheIdentityAndAnswersTheReference) {
  Start({"--serial", "0x01020304", "--features", "5", "--build", "9200", "--config-table", "513",
         "--battery", "77", "--reference", "200", "--heartbeat", "150"});
  AppGlobals.batteryThreshold[0] = 100;
  Handshake();
  EXPECT_EQ(SettingsStore::ReadDword(u"Serial No", 0), 0x01020304);
  EXPECT_EQ(SettingsStore::ReadDword(u"Feature Set", 0), 5);
  EXPECT_EQ(SettingsStore::ReadDword(u"Build No", 0), 9200);
  EXPECT_EQ(SettingsStore::ReadDword(u"Config Table", 0), 513);
  EXPECT_FLOAT_EQ(AppGlobals.batteryLevel.load(), 77.0f);
  EXPECT_FLOAT_EQ(AppGlobals.batteryThreshold[0], 119.04762f);
  // The emulator saw whole packets with good checksums, the last one the
  // reference parameter 13 = 220.
  EXPECT_TRUE(Logged("\"name\":\"HANDSHAKE_REQUEST\",\"id\":0,\"value\":0,\"checksum_ok\":true"));
  EXPECT_TRUE(Logged("\"kind\":1,\"name\":\"SET_PARAMETER\",\"id\":13,\"value\":220,\"checksum_ok\":true"));
}

TEST_F(Emulator, StatusCodeOfTheSecondStatusFrameEndsTheLink) {
  Start({"--status-code", "8", "--status-after", "2", "--heartbeat", "150", "--build", "100"});
  Handshake();
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
  SendPacket(kRequestSystemDataPacket);
  ASSERT_TRUE(ReceiveUntil(12, RX_STATUS));
  EXPECT_EQ(AppGlobals.linkState.load(), 5);
}

TEST_F(Emulator, CalibrationReportsThreePointsThenItsValues) {
  Start({"--calibration-step", "60", "--calibration-values", "1,2,3,4,5,6", "--heartbeat", "150"});
  Handshake();
  TakePosted();
  AppGlobals.linkState.store(LINK_CALIBRATING); // the values are only taken while calibrating
  SendBeginCalibration();
  std::vector<std::string> posted;
  auto start = std::chrono::steady_clock::now();
  while (MsSince(start) < 4000 &&
         (posted.empty() || posted.back() != "calibration WM_CALIBRATION_RESULT")) {
    ReceiveBlock(12);
    for (auto &p : TakePosted())
      posted.push_back(p);
  }
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(std::count(posted.begin(), posted.end(), "calibration WM_CALIBRATION_STEP"), 3);
  EXPECT_EQ(posted.back(), "calibration WM_CALIBRATION_RESULT");
  const char16_t *names[] = {u"originX", u"scaleXHigh", u"scaleXLow", u"originY", u"scaleYHigh", u"scaleYLow"};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(SettingsStore::ReadDword(names[i], -1), i + 1);
}

TEST_F(Emulator, FailedCalibrationSendsTheFailureMarker) {
  Start({"--calibration", "fail", "--calibration-step", "40", "--heartbeat", "150"});
  Handshake();
  SendBeginCalibration();
  // 1-byte blocks: in a 12-byte block a heartbeat right after the failure
  // marker would hide it (the last marker of a block wins).
  EXPECT_TRUE(ReceiveUntil(1, RX_CALIBRATION_FAILED, 4000));
  EXPECT_EQ(SettingsStore::ReadDword(u"originX", -1), -1);
}

TEST_F(Emulator, TypedTextArrivesAsTheKeysAPersonPresses) {
  Start({"--type", "Hi, Bob!\n", "--key-interval", "15", "--type-delay", "50", "--heartbeat", "150",
         "--split-frames", "5"});
  Handshake();
  SendPacket(kTypingModePacket);
  TakeScancodes();
  auto start = std::chrono::steady_clock::now();
  std::vector<int> keys;
  while (keys.size() < 12 && MsSince(start) < 5000) {
    ReceiveBlock(1);
    for (int k : TakeScancodes())
      keys.push_back(k);
  }
  EXPECT_EQ(keys, (std::vector<int>{2, 72, 73, 44, 32, 2, 66, 79, 66, 2, 49, 13}));
}

TEST_F(Emulator, ServesAReconnectionAndLogsTheProgramsPackets) {
  Start({"--heartbeat", "300"});
  Handshake();
  SendPacket(kDisconnectPacket);
  ClosePort();
  EXPECT_TRUE(Logged("\"name\":\"DISCONNECT\""));
  EXPECT_TRUE(Logged("\"event\":\"close\""));
  // The second connection: sync again and heartbeats, no leftovers.
  OpenCom6();
  ASSERT_TRUE(ReceiveUntil(12, RX_SYNC, 3000));
  EXPECT_TRUE(ReceiveUntil(12, RX_HEARTBEAT, 3000));
}

TEST_F(Emulator, SessionStatusCodeStopsTheKeysAndTheNextConnectionGoesOn) {
  Start({"--session", "type:5,status:8,type:100000,type:3", "--keys", "65,66,67",
         "--key-interval", "5", "--type-delay", "20", "--heartbeat", "150", "--build", "100"});
  ConnectAndType();
  // The first step, then the long one runs until a status request.
  std::vector<int> keys = Keys(12);
  ASSERT_EQ(keys.size(), 12u);
  EXPECT_EQ(keys, (std::vector<int>{65, 66, 67, 65, 66, 67, 65, 66, 67, 65, 66, 67}));
  SendPacket(kRequestSystemDataPacket);
  ASSERT_TRUE(ReceiveUntil(1, RX_STATUS));
  EXPECT_EQ(AppGlobals.linkState.load(), 5); // code 8
  // Nothing typed after the frame: every key sent came before it.
  TakeScancodes();
  EXPECT_TRUE(Keys(1, 300).empty());
  EXPECT_TRUE(Logged("\"event\":\"step_dropped\",\"step\":\"type:100000\""));

  // The next connection starts with the step after the dropped one, and
  // the keys go on where they stopped; then the session ends.
  ClosePort();
  AppGlobals.linkState.store(0);
  ASSERT_TRUE(Logged("\"event\":\"close\""));
  OpenCom6();
  ASSERT_TRUE(ReceiveUntil(12, RX_HEARTBEAT));
  AppGlobals.linkState.store(LINK_HANDSHAKE);
  SendPacket(kHandshakeRequestPacket);
  ASSERT_TRUE(ReceiveUntil(12, RX_IDENTITY));
  SendPacket(kRequestSystemDataPacket);
  ASSERT_TRUE(ReceiveUntil(12, RX_STATUS));
  EXPECT_EQ(AppGlobals.linkState.load(), LINK_HANDSHAKE); // this status frame carries no code
  SendPacket(kTypingModePacket);
  TakeScancodes();
  keys = Keys(3);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_TRUE(Logged("\"event\":\"session_end\""));
  EXPECT_TRUE(Keys(1, 300).empty());
}

TEST_F(Emulator, SessionHangupWaitsForTheKeysThenOffersTheLinkAgain) {
  Start({"--session", "type:20,hangup,type:4", "--key-interval", "2", "--type-delay", "20",
         "--heartbeat", "150"});
  const std::string before = LinkTarget();
  ConnectAndType();
  // All 20 keys are read, then the reads fail: the line is gone.
  EXPECT_EQ(Keys(1000).size(), 20u);
  EXPECT_TRUE(ReceiveBlock(1).portLost);
  EXPECT_TRUE(Logged("\"event\":\"hangup\",\"unread\":0,\"keys_unread\":0"));
  // The same name leads to a fresh line at once, which serves a connection.
  EXPECT_NE(LinkTarget(), before);
  EXPECT_TRUE(LinkLive());
  ClosePort();
  OpenCom6();
  ASSERT_TRUE(ReceiveUntil(12, RX_SYNC, 3000));
  ASSERT_TRUE(ReceiveUntil(12, RX_HEARTBEAT));
  AppGlobals.linkState.store(LINK_HANDSHAKE);
  SendPacket(kHandshakeRequestPacket);
  ASSERT_TRUE(ReceiveUntil(12, RX_IDENTITY));
  SendPacket(kRequestSystemDataPacket);
  ASSERT_TRUE(ReceiveUntil(12, RX_STATUS));
  SendPacket(kTypingModePacket);
  EXPECT_EQ(Keys(4).size(), 4u);
}

TEST_F(Emulator, SessionSilenceSendsNothingUntilThePortCloses) {
  Start({"--session", "type:3,silence", "--key-interval", "5", "--type-delay", "20",
         "--heartbeat", "100"});
  ConnectAndType();
  EXPECT_EQ(Keys(3).size(), 3u);
  ASSERT_TRUE(Logged("\"step\":\"silence\""));
  // Neither heartbeats nor an answer to a status request: four heartbeat
  // periods pass with nothing read (1-byte reads, each waits 210 ms).
  SendPacket(kRequestSystemDataPacket);
  auto start = std::chrono::steady_clock::now();
  int heard = 0;
  while (MsSince(start) < 400)
    heard += ReceiveBlock(1).marker != RX_NOTHING;
  EXPECT_EQ(heard, 0);
  // Once the program has closed the port, the next connection is served.
  ClosePort();
  ASSERT_TRUE(Logged("\"event\":\"close\""));
  OpenCom6();
  EXPECT_TRUE(ReceiveUntil(12, RX_HEARTBEAT, 3000));
}

TEST_F(Emulator, SessionStartsOverUntilItsTimeIsUpThenEnds) {
  pid_t pid = Start({"--session", "type:2", "--session-for", "1", "--exit-after-typing",
                     "--keys", "70", "--key-interval", "20", "--type-delay", "10",
                     "--heartbeat", "150"});
  ConnectAndType();
  // More keys than one round of the steps: it started over.
  EXPECT_GT(Keys(1000, 3000).size(), 2u);
  EXPECT_TRUE(Logged("\"event\":\"session_end\""));
  EXPECT_EQ(Wait(pid), 0);
}

TEST_F(Emulator, SessionStepsAreCheckedOnTheCommandLine) {
  for (const char *bad : {"type:0", "jump", "silence:2", "status:256", "wait:", "", "type:-1"}) {
    pid_t pid = Start({"--session", bad}, false);
    EXPECT_EQ(Wait(pid), 2) << bad;
  }
  pid_t pid = Start({"--session-for", "5"}, false);
  EXPECT_EQ(Wait(pid), 2);
}

TEST_F(Emulator, LinkIsOwnedRefusedWhileLiveReplacedWhenStaleAndRemovedOnExit) {
  // A stale link from a killed emulator is replaced.
  std::filesystem::create_directories(devices);
  ASSERT_EQ(symlink("/dev/pts/999999", (devices + "/COM6").c_str()), 0);
  pid_t first = Start({});
  ASSERT_TRUE(LinkLive());
  char target[256] = {};
  ASSERT_GT(readlink((devices + "/COM6").c_str(), target, sizeof target - 1), 0);
  EXPECT_STRNE(target, "/dev/pts/999999");
  // A second emulator on the same port refuses and leaves the link alone.
  pid_t second = Start({}, false);
  EXPECT_EQ(Wait(second), 1);
  EXPECT_TRUE(LinkExists());
  // SIGTERM ends the first cleanly and takes its link with it.
  kill(first, SIGTERM);
  EXPECT_EQ(Wait(first), 0);
  EXPECT_FALSE(LinkExists());
}

} // namespace
} // namespace linktest

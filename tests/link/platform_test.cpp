// The platform parts the link brings: the sounds, PlaySoundW without a sound
// server, and the self-restart that stands in for a device reboot.
#include "platform/sound.h"
#include "platform/sound/pulse_library.h"
#include "platform/sound/sound_server.h"
#include "platform/system.h"
#include "resources/resources.h"
#include "tests/link/link_harness.h"
#include "tests/support/trace_lines.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace linktest {
namespace {

std::string ReadFileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(Sounds, TheBuiltInSoundsAreTheShippedFiles) {
  RegisterSoundResources();
  const std::pair<WORD, const char *> sounds[] = {
      {kSoundKeyClick, "click.wav"}, {kSoundConnected, "connected.wav"}, {kSoundDisconnected, "disconnected.wav"}};
  for (auto [id, file] : sounds) {
    SCOPED_TRACE(file);
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(id), u"WAVE");
    ASSERT_NE(res, nullptr);
    std::string bytes(static_cast<const char *>(LockResource(LoadResource(nullptr, res))),
                      SizeofResource(nullptr, res));
    EXPECT_EQ(bytes, ReadFileBytes(std::string(VANTREL_SOURCE_DIR) + "/resources/sounds/" + file));
    // 16-bit mono PCM at 22050 Hz, and short.
    ASSERT_GT(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(bytes.substr(8, 4), "WAVE");
    EXPECT_EQ(bytes[22], 1);                                                  // channels
    EXPECT_EQ(static_cast<uint8_t>(bytes[24]) | static_cast<uint8_t>(bytes[25]) << 8, 22050);
    EXPECT_EQ(bytes[34], 16); // bits per sample
    EXPECT_LT(bytes.size(), id == kSoundKeyClick ? 2000u : 40000u);
  }
}

TEST(Sounds, PlayingWithoutAServerIsSilentQuickAndTraced) {
  TempRoot root;
  UseFreshRoot(root); // PULSE_SERVER points at nothing
  auto traces = std::make_unique<testtrace::TraceLines>();
  const DWORD flags = SND_RESOURCE | SND_ASYNC | SND_NOWAIT;
  EXPECT_EQ(PlaySoundW(MAKEINTRESOURCEW(999), nullptr, flags), FALSE);
  EXPECT_EQ(PlaySoundW(u"click", nullptr, flags), FALSE);
  EXPECT_EQ(PlaySoundW(MAKEINTRESOURCEW(kSoundKeyClick), nullptr, SND_ASYNC), FALSE);
  EXPECT_EQ(PlaySoundW(MAKEINTRESOURCEW(kSoundConnected), nullptr, flags), TRUE);
  // Key clicks in a burst: each call only hands the request over.
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 200; ++i)
    EXPECT_EQ(PlaySoundW(MAKEINTRESOURCEW(kSoundKeyClick), nullptr, flags), TRUE);
  auto took = std::chrono::steady_clock::now() - start;
  // A call that waited for the missing server (a connection attempt, a
  // time-out) would take milliseconds each; a loaded machine adds far less.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000);
  for (int i = 0; i < 200; ++i) {
    bool told = false;
    for (const std::string &t : traces->Lines())
      told |= t.rfind("sound: no audio output", 0) == 0;
    if (told)
      break;
    usleep(10000);
  }
  std::vector<std::string> lines = traces->Lines();
  traces.reset();
  int told = 0;
  for (const std::string &t : lines)
    told += t.rfind("sound: no audio output", 0) == 0;
  EXPECT_EQ(told, 1);
}

// The sound library is loaded only where a server may answer: a socket that
// listens, named as the library would look for it, or an address only the
// library can try. Nothing listening anywhere it would look: not loaded.
TEST(Sounds, TheLibraryIsLoadedOnlyWhereAServerMayAnswer) {
  if (access("/var/run/pulse/native", F_OK) == 0)
    GTEST_SKIP() << "a system-wide sound server answers here whatever the case";
  TempRoot root;
  const std::string listening = root.path() + "/native", absent = root.path() + "/absent";
  int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(server, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, listening.c_str(), listening.size() + 1);
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(server, 4), 0);
  ASSERT_EQ(mkdir((root.path() + "/pulse").c_str(), 0700), 0);
  ASSERT_EQ(symlink(listening.c_str(), (root.path() + "/pulse/native").c_str()), 0);

  const char *const saved[] = {"PULSE_SERVER", "PULSE_RUNTIME_PATH", "XDG_RUNTIME_DIR"};
  std::vector<std::pair<std::string, bool>> before;
  for (const char *name : saved)
    before.push_back({getenv(name) ? getenv(name) : "", getenv(name) != nullptr});
  struct Case {
    const char *server, *runtime, *xdg;
    bool mayAnswer;
  };
  const std::string unixListening = "unix:" + listening, unixAbsent = "unix:" + absent;
  const std::string machineListening = "{0123abcd}unix:" + listening;
  const std::string both = unixAbsent + " " + listening;
  const std::string paddedAbsent = "\t " + unixAbsent + " \n";
  const std::string spaced = " \t" + unixAbsent + "\n\t " + unixListening + " \r\n";
  const Case cases[] = {
      {unixListening.c_str(), nullptr, nullptr, true},
      {listening.c_str(), nullptr, nullptr, true},
      {machineListening.c_str(), nullptr, nullptr, true},
      {both.c_str(), nullptr, nullptr, true},
      {spaced.c_str(), nullptr, nullptr, true},
      {unixAbsent.c_str(), nullptr, nullptr, false},
      {paddedAbsent.c_str(), nullptr, nullptr, false},
      {"tcp:localhost:4713", nullptr, nullptr, true},
      {nullptr, nullptr, root.path().c_str(), true},   // XDG_RUNTIME_DIR/pulse/native
      {nullptr, root.path().c_str(), nullptr, true},   // PULSE_RUNTIME_PATH/native
      {nullptr, absent.c_str(), root.path().c_str(), false},
      {nullptr, nullptr, nullptr, true}, // below the home folder: the library looks
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.server ? c.server : "-") + " " + (c.runtime ? c.runtime : "-") +
                 " " + (c.xdg ? c.xdg : "-"));
    const char *values[] = {c.server, c.runtime, c.xdg};
    for (int i = 0; i < 3; ++i)
      values[i] ? setenv(saved[i], values[i], 1) : unsetenv(saved[i]);
    std::string tried;
    EXPECT_EQ(SoundServerMayAnswer(&tried), c.mayAnswer) << tried;
    if (!c.mayAnswer)
      EXPECT_NE(tried.find(absent), std::string::npos) << tried;
  }
  for (int i = 0; i < 3; ++i)
    before[i].second ? setenv(saved[i], before[i].first.c_str(), 1) : unsetenv(saved[i]);
  close(server);
}

// The sound library is found by name at the first sound: every function the
// output calls must be in it (a misspelt or missing one would leave every
// run silent), and a library that is not there is a reason, not a crash.
TEST(Sounds, TheSoundLibraryLoadsWholeOrNotAtAll) {
  std::string why;
  EXPECT_EQ(LoadPulseLibrary("libvantrel-no-such-sound.so.0", &why), nullptr);
  EXPECT_NE(why.find("libvantrel-no-such-sound.so.0"), std::string::npos) << why;
  // A library without the functions (the C library) is refused too.
  why.clear();
  EXPECT_EQ(LoadPulseLibrary("libc.so.6", &why), nullptr);
  EXPECT_EQ(why, "libc.so.6 lacks pa_mainloop_new");

  why.clear();
  // Kept for the process's life, as the program keeps it.
  static const PulseLibrary *pulse = LoadPulseLibrary(kPulseSoname, &why);
  ASSERT_NE(pulse, nullptr) << why;
  EXPECT_STREQ(pulse->pa_strerror(PA_ERR_CONNECTIONREFUSED), "Connection refused");
  pa_sample_spec spec{PA_SAMPLE_S16LE, 22050, 1};
  EXPECT_NE(pulse->pa_sample_spec_valid(&spec), 0);
}

TEST(Restart, RebootRestartsTheProgramWithItsArguments) {
  TempRoot root;
  std::string log = root.path() + "/starts.txt";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    unsetenv("PROBE_OPEN_FD");
    execl(RESTART_PROBE, RESTART_PROBE, log.c_str(), "two words", "--x", static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  std::string expected = "start " + log + " two words --x\n";
  EXPECT_EQ(ReadFileBytes(log), expected + "start " + log + " two words --x fd-closed\n");
}

TEST(Restart, OtherRequestsAreRefused) {
  DWORD returned = 7;
  EXPECT_EQ(KernelIoControl(0x01010000, nullptr, 0, nullptr, 0, &returned), FALSE);
  EXPECT_EQ(returned, 0u);
}

} // namespace
} // namespace linktest

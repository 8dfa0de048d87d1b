// The real program, started and idle with its window painted, maps no
// library that it does not use at that point: no network module (the
// single-instance socket is a plain one), no sound library before the first
// sound, no image format plugin for pictures the toolkit reads itself. Once
// connected, with no sound server to play the sounds, the sound library and
// its decoders are still not mapped.
#include "app_test_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>

using namespace std::chrono_literals;
using namespace testsupport;

namespace {

// Which of `names` the process maps, each once, in the order found.
std::string MappedOf(pid_t pid, std::initializer_list<const char *> names) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::string line, mapped;
  while (std::getline(maps, line))
    for (const char *name : names)
      if (line.find(name) != std::string::npos && mapped.find(name) == std::string::npos)
        mapped += std::string(name) + " ";
  return mapped;
}

TEST(MappedLibraries, AnIdleProgramMapsOnlyWhatItUses) {
  ProgramSandbox box;
  PresetProgramRun(box, u"COM3:");
  const std::string root = box.path();
  Child vantrel({VANTREL_EXE}, ProgramEnvironment(root), root + "/vantrel.out");
  ASSERT_TRUE(WaitFor(
      [&] {
        const std::string trace = ReadFile(root + "/trace.log");
        return trace.find("Connect button") != std::string::npos &&
               trace.find("yLine = ") != std::string::npos;
      },
      20s))
      << ReadFile(root + "/vantrel.out");
  EXPECT_EQ(MappedOf(vantrel.pid(), {"libQt6Network", "libpulse", "libsndfile", "/imageformats/"}),
            "");
  // It did paint its picture (read without the plugins).
  // (The line under the picture lies 25 pixels below its height.)
  const std::string trace = ReadFile(root + "/trace.log");
  const size_t at = trace.find("yLine = ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(std::atoi(trace.c_str() + at + 8), 25) << "the main window's picture was not loaded";
}

TEST(MappedLibraries, WithoutASoundServerTheConnectSoundLoadsNoSoundLibrary) {
  ProgramSandbox box;
  PresetProgramRun(box, u"COM3:");
  const std::string root = box.path();
  const std::vector<std::string> env = ProgramEnvironment(root); // no sound server
  auto kbd = StartKeyboardIn(VANTREL_KBD_EXE, root, env);
  Child vantrel({VANTREL_EXE, "--connect"}, env, root + "/vantrel.out");
  // The connected sound is asked for as the connection completes; the
  // audio thread then finds no server and says so.
  ASSERT_TRUE(WaitFor(
      [&] {
        const std::string trace = ReadFile(root + "/trace.log");
        return trace.find("Connect button: Disconnect") != std::string::npos &&
               trace.find("sound: no audio output") != std::string::npos;
      },
      30s))
      << ReadFile(root + "/trace.log");
  EXPECT_EQ(MappedOf(vantrel.pid(), {"libpulse", "libsndfile", "libFLAC", "libvorbis", "libopus"}),
            "");
}

} // namespace

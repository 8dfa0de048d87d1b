// The real program, started and idle with its window painted, maps no
// library that it does not use at that point: no network module (the
// single-instance socket is a plain one), no sound library before the first
// sound, no image format plugin for pictures the toolkit reads itself.
#include "app_test_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace std::chrono_literals;
using namespace testsupport;

namespace {

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
  std::ifstream maps("/proc/" + std::to_string(vantrel.pid()) + "/maps");
  std::string line, mapped;
  while (std::getline(maps, line))
    for (const char *unused : {"libQt6Network", "libpulse", "libsndfile", "/imageformats/"})
      if (line.find(unused) != std::string::npos && mapped.find(unused) == std::string::npos)
        mapped += std::string(unused) + " ";
  EXPECT_EQ(mapped, "");
  // It did paint its picture (read without the plugins).
  // (The line under the picture lies 25 pixels below its height.)
  const std::string trace = ReadFile(root + "/trace.log");
  const size_t at = trace.find("yLine = ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(std::atoi(trace.c_str() + at + 8), 25) << "the main window's picture was not loaded";
}

} // namespace

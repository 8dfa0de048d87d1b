// Runs every fuzz entry over its kept inputs: the inputs that once crashed a
// target (tests/fuzz/regressions/<target>/) and the files the program ships
// that the target's corpus starts from. Built without libFuzzer, in the
// normal and the sanitizer builds alike, so a fault that fuzzing found once
// stays found.
#include "tests/fuzz/fuzz_entries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Target {
  const char *name;
  int (*entry)(const uint8_t *, size_t);
  std::vector<const char *> shippedPatterns; // data/ files with these endings
};

const Target kTargets[] = {
    {"frame_decoder", &FuzzFrameDecoder, {}},
    {"layout", &FuzzLayoutFile, {".kcod"}},
    {"language", &FuzzLanguageFile, {".lang"}},
    {"key_test", &FuzzKeyTestList, {".txt"}},
    {"text_page", &FuzzTextPage, {".txt"}},
    {"bmp", &FuzzBmpPicture, {".bmp"}},
    {"settings", &FuzzSettingsValue, {}},
    {"sdp_answer", &FuzzSdpAnswer, {}},
};

std::vector<fs::path> KeptInputs(const Target &t) {
  std::vector<fs::path> files;
  const fs::path regressions = fs::path(VANTREL_SOURCE_DIR) / "tests/fuzz/regressions" / t.name;
  if (fs::is_directory(regressions))
    for (const auto &e : fs::directory_iterator(regressions))
      if (e.is_regular_file())
        files.push_back(e.path());
  for (const auto &e : fs::directory_iterator(fs::path(VANTREL_SOURCE_DIR) / "data"))
    for (const char *ending : t.shippedPatterns)
      if (e.path().extension() == ending)
        files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

class Replay : public ::testing::TestWithParam<Target> {};

TEST_P(Replay, KeptInputsRunClean) {
  const Target &t = GetParam();
  std::vector<fs::path> files = KeptInputs(t);
  for (const fs::path &file : files) {
    SCOPED_TRACE(file.string());
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    // An exact-size copy, so that a read past the end is caught.
    std::vector<uint8_t> exact(bytes);
    EXPECT_EQ(t.entry(exact.data(), exact.size()), 0);
  }
  // The empty input and a single byte are inputs too.
  const uint8_t one[1] = {0};
  EXPECT_EQ(t.entry(nullptr, 0), 0);
  EXPECT_EQ(t.entry(one, 1), 0);
}

INSTANTIATE_TEST_SUITE_P(Fuzz, Replay, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target> &info) {
                           return std::string(info.param.name);
                         });

} // namespace

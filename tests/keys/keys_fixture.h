// A test fixture for the key logic: a fresh AppGlobals, its own device root
// (VANTREL_ROOT) with InstallDir "\Vantrel\", its own settings database, the
// recording injector and the trace lines of the test.
#pragma once

#include "common/globals.h"
#include "keys/scancode.h"
#include "platform/win32.h"
#include "tests/keys/recording_injector.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace keytest {

class KeysTest : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/vantrel-keys-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    setenv("VANTREL_ROOT", root.c_str(), 1);
    setenv("VANTREL_REGISTRY", (root + "/registry.db").c_str(), 1);
    RegistryUseDatabase(root + "/registry.db");
    std::filesystem::create_directory(root + "/Vantrel");
    ResetAppGlobals();
    WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"\\Vantrel\\");
    SetTraceSink(&collectTrace, this);
  }

  void TearDown() override {
    SetTraceSink(nullptr, nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }

  // Writes a file into InstallDir.
  void writeInstallFile(const std::string &name, const std::string &bytes) {
    std::ofstream out(root + "/Vantrel/" + name, std::ios::binary);
    out << bytes;
  }

  void type(const std::vector<int> &scancodes) {
    for (int s : scancodes)
      processScancode(static_cast<uint8_t>(s));
  }

  int countTrace(const std::string &line) const {
    int n = 0;
    for (const std::string &t : traces)
      n += t == line;
    return n;
  }

  std::string root;
  std::vector<std::string> traces;
  RecordingInjector injector;

private:
  static void collectTrace(const char *line, void *context) {
    static_cast<KeysTest *>(context)->traces.push_back(line);
  }
};

} // namespace keytest

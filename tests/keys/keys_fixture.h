// A test fixture for the key logic: a fresh AppGlobals, its own device root
// (VANTREL_ROOT) with InstallDir "\Vantrel\", its own settings database, the
// recording injector and the trace lines of the test.
#pragma once

#include "common/globals.h"
#include "keys/scancode.h"
#include "platform/win32.h"
#include "tests/keys/recording_injector.h"
#include "tests/support/sandbox.h"
#include "tests/support/trace_lines.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace keytest {

class KeysTest : public ::testing::Test {
protected:
  void SetUp() override {
    root_ = std::make_unique<testsupport::ProgramSandbox>(
        "keys", testsupport::kDeviceRoot | testsupport::kSettings);
    root_->MakeFolder("Vantrel");
    root = root_->path();
    WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"\\Vantrel\\");
    trace_ = std::make_unique<testtrace::TraceLines>();
  }

  void TearDown() override {
    trace_.reset();
    root_.reset();
  }

  // Writes a file into InstallDir.
  void writeInstallFile(const std::string &name, const std::string &bytes) {
    root_->Put("Vantrel/" + name, bytes);
  }

  void type(const std::vector<int> &scancodes) {
    for (int s : scancodes)
      processScancode(static_cast<uint8_t>(s));
  }

  // The trace lines of the test so far, and how many equal `line`.
  std::vector<std::string> traces() const { return trace_->Lines(); }
  int countTrace(const std::string &line) const { return trace_->Count(line); }

  std::string root;
  RecordingInjector injector;

private:
  std::unique_ptr<testsupport::ProgramSandbox> root_;
  std::unique_ptr<testtrace::TraceLines> trace_;
};

} // namespace keytest

// Shared by the registry tests: a temporary folder per test with its own
// database, value reading without side effects, and running vantrel-reg.
#pragma once

#include "platform/registry.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using testsupport::ReadFile;
using testsupport::TempRoot;
using testsupport::WriteFile;

// Each test gets its own database in its own folder; the program's real
// settings are never opened.
class RegistryTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  std::string DbPath() const { return dir_.File("registry.db"); }
  TempRoot dir_{"reg"};
};

// A value as stored, read straight from the registry (no defaults written).
struct StoredValue {
  LONG rc = -1;
  DWORD type = 0;
  std::vector<BYTE> bytes;
};
StoredValue ReadStored(const char16_t *keyPath, const char16_t *name);
std::vector<BYTE> TextBytes(const std::u16string &text); // with its terminator

// Runs build/tools/vantrel-reg/vantrel-reg with args; returns its exit status
// (-1 when it did not exit normally) and what it printed.
struct ToolResult {
  int status = -1;
  std::string out, err;
};
ToolResult RunTool(const std::vector<std::string> &args, const std::string &db);

// Files in a folder whose names start with prefix.
std::vector<std::string> FilesStartingWith(const std::string &dir, const std::string &prefix);

// Runs fn with stderr going to a file; returns what it printed there.
std::string CaptureStderr(const std::function<void()> &fn);

// Another process holding the database's write lock (BEGIN EXCLUSIVE) until
// Release or destruction: this test program started again in a holder role.
class HeldDatabase {
public:
  explicit HeldDatabase(const std::string &db);
  ~HeldDatabase() { Release(); }
  bool holding() const { return holding_; }
  void Release();

private:
  int pid_ = -1;
  int toChild_ = -1;
  bool holding_ = false;
};

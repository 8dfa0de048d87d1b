// The log backend's JSON lines, and the choice of backend from
// VANTREL_INJECT with its fallbacks and trace lines.
#include "platform/inject.h"
#include "platform/log/log_backend.h"
#include "platform/trace.h"
#include "tests/support/temp_root.h"
#include "tests/support/trace_lines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const HWND kFocus = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

std::vector<std::string> Lines(const std::string &path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

class LogBackendTest : public ::testing::Test {
protected:
  void SetUp() override {
    ops_ = LogInjectOpen(path_.c_str());
    ASSERT_NE(ops_, nullptr);
    InjectSetBackend(ops_);
  }
  void TearDown() override {
    InjectSetBackend(nullptr);
    if (ops_)
      ops_->close(ops_->self);
  }
  testsupport::TempRoot dir_{"inject"};
  const std::string path_ = dir_.File("inject.log");
  const InjectOps *ops_ = nullptr;
};

TEST_F(LogBackendTest, EachCallFormIsOneJsonLineWrittenAtOnce) {
  keybd_event('A', 0, KEYEVENTF_SILENT, 1);
  // Readable before anything else happens: the line is flushed.
  EXPECT_EQ(Lines(path_), std::vector<std::string>{
                              R"({"call":"keybd_event","vk":65,"flags":4,"extra":1})"});
  keybd_event('A', 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0xC0000001u);
  keybd_event(VK_F1, 0x3B, 0, 0);

  UINT one = 1, e = 233;
  EXPECT_TRUE(PostKeybdMessage(kFocus, 233, 1, 1, &one, &e));
  UINT bsState = 0x20000080, bs = 8;
  EXPECT_TRUE(PostKeybdMessage(kFocus, VK_BACK, 0x20000080, 1, &bsState, &bs));
  UINT euroState = 0x80, euro = 8364;
  EXPECT_TRUE(PostKeybdMessage(kFocus, 8364, 0x80, 1, &euroState, &euro));
  UINT states[2] = {1, 3}, chars[2] = {'h', 'i'};
  EXPECT_TRUE(PostKeybdMessage(reinterpret_cast<HWND>(0x1234), 'h', 1, 2, states, chars));

  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = 'M';
  in.ki.dwFlags = 4;
  EXPECT_EQ(SendInput(1, &in, 28), 1u);

  std::vector<std::string> want = {
      R"({"call":"keybd_event","vk":65,"flags":4,"extra":1})",
      R"({"call":"keybd_event","vk":65,"flags":6,"extra":3221225473})",
      R"({"call":"keybd_event","vk":112,"scan":59,"flags":0,"extra":0})",
      R"({"call":"PostKeybdMessage","vk":233,"flags":1,"chars":[233]})",
      R"({"call":"PostKeybdMessage","vk":8,"flags":536871040,"chars":[8]})",
      R"({"call":"PostKeybdMessage","vk":8364,"flags":128,"chars":[8364]})",
      R"({"call":"PostKeybdMessage","vk":104,"flags":1,"chars":[104,105],"hwnd":4660,"shiftStates":[1,3]})",
      R"({"call":"SendInput","inputs":[{"type":1,"vk":77,"flags":4}],"cbSize":28})",
  };
  EXPECT_EQ(Lines(path_), want);
}

TEST_F(LogBackendTest, BadArgumentsAreRefusedWithoutReachingTheBackend) {
  EXPECT_FALSE(PostKeybdMessage(kFocus, 'a', 1, 3, nullptr, nullptr));
  EXPECT_EQ(SendInput(2, nullptr, 28), 0u);
  EXPECT_TRUE(Lines(path_).empty());
  // No backend at all: calls are dropped and say so in their results.
  InjectSetBackend(nullptr);
  UINT c = 'a';
  EXPECT_FALSE(PostKeybdMessage(kFocus, 'a', 1, 1, nullptr, &c));
  keybd_event('A', 0, 4, 1);
  EXPECT_TRUE(Lines(path_).empty());
}

TEST_F(LogBackendTest, ALogFileIsAppendedToNotReplaced) {
  keybd_event('A', 0, 4, 1);
  const InjectOps *second = LogInjectOpen(path_.c_str());
  ASSERT_NE(second, nullptr);
  second->keybdEvent(second->self, 'B', 0, 4, 1);
  second->close(second->self);
  // A closed backend writes nothing more, and closing it again is harmless.
  second->keybdEvent(second->self, 'C', 0, 4, 1);
  second->close(second->self);
  ASSERT_EQ(Lines(path_).size(), 2u);
  EXPECT_NE(Lines(path_)[1].find("\"vk\":66"), std::string::npos);
}

// The log records every key typed: it is the user's alone, and a symbolic
// link planted at its path is not followed.
TEST(LogBackendFile, IsCreatedForTheUserAloneAndNeverThroughALink) {
  testsupport::TempRoot dir("inject");
  const std::string path = dir.File("inject.log");
  const std::string link = path + ".link";
  const mode_t savedMask = umask(022);
  const InjectOps *ops = LogInjectOpen(path.c_str());
  umask(savedMask);
  ASSERT_NE(ops, nullptr);
  ops->keybdEvent(ops->self, 'A', 0, 4, 1);
  ops->close(ops->self);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  EXPECT_EQ(LogInjectOpen(link.c_str()), nullptr);
  EXPECT_EQ(Lines(path).size(), 1u);
}

class SelectBackendTest : public ::testing::Test {
protected:
  void SetUp() override {
    trace_ = std::make_unique<testtrace::TraceLines>();
    saved_display_ = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  }
  void TearDown() override {
    InjectShutdown();
    trace_.reset();
    unsetenv("VANTREL_INJECT");
    if (!saved_display_.empty())
      setenv("DISPLAY", saved_display_.c_str(), 1);
  }
  // Whether a line traced during backend selection contains `part`.
  bool Traced(const std::string &part) { return trace_->CountContaining(part) > 0; }
  std::unique_ptr<testtrace::TraceLines> trace_;
  std::string saved_display_;
};

TEST_F(SelectBackendTest, LogWithPathAppendsToTheFileAndKeepsTheFirstChoice) {
  testsupport::TempRoot dir("inject");
  const std::string path = dir.File("inject.log");
  setenv("VANTREL_INJECT", ("log:" + path).c_str(), 1);
  EXPECT_STREQ(InjectSelectBackend(), "log");
  setenv("VANTREL_INJECT", "xtest", 1);
  EXPECT_STREQ(InjectSelectBackend(), "log");
  keybd_event('Q', 0, 4, 1);
  EXPECT_EQ(Lines(path).size(), 1u);
  EXPECT_TRUE(Traced("using backend log"));
  const InjectOps *chosen = InjectGetBackend();
  ASSERT_NE(chosen, nullptr);
  InjectShutdown();
  keybd_event('Q', 0, 4, 1); // after shutdown: dropped
  // The backend itself was closed, through its own table.
  chosen->keybdEvent(chosen->self, 'Q', 0, 4, 1);
  EXPECT_EQ(Lines(path).size(), 1u);
}

TEST_F(SelectBackendTest, UnusableChoicesFallBackAlongTheChainWithATraceLineEach) {
  // No /dev/uinput here (or not writable), and no display: uinput and
  // xtest both fail and the log on stdout remains.
  if (access("/dev/uinput", W_OK) == 0)
    GTEST_SKIP() << "skipped: /dev/uinput is writable on this machine";
  unsetenv("DISPLAY");
  setenv("VANTREL_INJECT", "uinput", 1);
  EXPECT_STREQ(InjectSelectBackend(), "log");
  EXPECT_TRUE(Traced("uinput not usable"));
  EXPECT_TRUE(Traced("backend uinput declined"));
  EXPECT_TRUE(Traced("DISPLAY is not set"));
  EXPECT_TRUE(Traced("backend xtest declined"));
  EXPECT_TRUE(Traced("using backend log"));

  InjectShutdown();
  trace_->Clear();
  setenv("VANTREL_INJECT", "log:/nonexistent-dir/x.log", 1);
  EXPECT_STREQ(InjectSelectBackend(), "log");
  EXPECT_TRUE(Traced("cannot be opened"));

  InjectShutdown();
  trace_->Clear();
  setenv("VANTREL_INJECT", "bogus", 1);
  EXPECT_STREQ(InjectSelectBackend(), "log");
  EXPECT_TRUE(Traced("not known"));
}

} // namespace

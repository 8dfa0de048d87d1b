// The trace file under a flood of alike lines: a stray byte traced each time
// it comes must not grow the file without bound, and what was left out is
// counted. Warnings reach stderr without the trace; key lines never do.
#include "platform/core/trace_repeats.h"
#include "platform/trace.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kFloodMark[] = "VANTREL_TEST_TRACE_FLOOD";
constexpr int kFlood = 100000;

// This test binary started again with kFloodMark set: traces a flood into
// VANTREL_TRACE (read at the first trace, so it needs a fresh process),
// then one closing line, and ends.
const bool kIsFloodChild = [] {
  const char *kind = getenv(kFloodMark);
  if (!kind)
    return false;
  for (int i = 0; i < kFlood; ++i) {
    if (strcmp(kind, "same") == 0)
      NKDbgPrintfW(u"Calibration values marker outside calibration, ignored\r\n");
    else if (strcmp(kind, "numbers") == 0)
      PlatformTrace("serial: stray byte 0x%02X at offset %d", i & 0xFF, i);
    else if (i % 10000 == 0) // "interleaved": other lines amid the flood
      PlatformTrace("link: phase %s", i < 50000 ? "connecting" : "connected");
    else
      PlatformTrace("serial: stray byte");
  }
  PlatformTrace("closing line");
  _exit(0);
}();

constexpr char kWarningMark[] = "VANTREL_TEST_TRACE_WARNING";

// Started again with kWarningMark set: a warning, a key line as the link
// traces one, and an error, then the end.
const bool kIsWarningChild = [] {
  if (!getenv(kWarningMark))
    return false;
  PlatformWarning("bluetooth: ConnectProfile %s failed: %s", "dev_00", "refused");
  NKDbgPrintfW(u"Key 0x%02X typed\r\n", 0x41);
  PlatformError("inject: no way to type keys: they are dropped");
  _exit(0);
}();

struct Counted {
  int written = 0;         // lines of the flood written as they were
  long long summed = 0;    // lines left out, as the summaries count them
  std::vector<std::string> lines;
};

Counted ReadTrace(const std::string &path, const std::string &floodPart) {
  Counted c;
  std::istringstream in(testsupport::ReadFile(path));
  const std::regex summary(R"(^\(repeated (\d+) more times, not written\) )");
  for (std::string line; std::getline(in, line);) {
    c.lines.push_back(line);
    std::smatch m;
    if (std::regex_search(line, m, summary))
      c.summed += std::stoll(m[1]);
    else if (line.find(floodPart) != std::string::npos)
      ++c.written;
  }
  return c;
}

TEST(TraceFlood, AlikeLinesAreCutToABoundedFileWithTheirCount) {
  struct Case {
    const char *kind;
    const char *floodPart;
    int floodLines; // how many of the kFlood calls traced the flood's line
  };
  const Case cases[] = {
      {"same", "Calibration values marker outside calibration", kFlood},
      {"numbers", "serial: stray byte 0x", kFlood},
      {"interleaved", "serial: stray byte", kFlood - 10},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.kind);
    testsupport::TempRoot root("trace");
    const std::string path = root.File("trace.log");
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("VANTREL_TRACE", path.c_str(), 1);
      setenv(kFloodMark, c.kind, 1);
      execl("/proc/self/exe", "test_platform_core", static_cast<char *>(nullptr));
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const Counted got = ReadTrace(path, c.floodPart);
    // 20 a second and a summary or two: however slow a loaded machine is,
    // far below one line per call.
    EXPECT_LT(got.lines.size(), 2000u);
    EXPECT_GE(got.written, 1);
    EXPECT_EQ(got.written + got.summed, c.floodLines) << "every line written or counted";
    ASSERT_FALSE(got.lines.empty());
    EXPECT_EQ(got.lines.back(), "closing line") << "the count comes before the next other line";
    if (std::string(c.kind) == "interleaved")
      for (const char *other : {"link: phase connecting", "link: phase connected"})
        EXPECT_EQ(std::count(got.lines.begin(), got.lines.end(), other), 5) << other;
  }
}

// Warnings and errors reach stderr, with their severity, whether the trace
// is on or not; the per-key lines only ever go to the trace.
TEST(TraceWarnings, FailuresReachStderrAndKeyLinesOnlyTheTrace) {
  const std::string warning = "bluetooth: ConnectProfile dev_00 failed: refused";
  const std::string error = "inject: no way to type keys: they are dropped";
  const std::string key = "Key 0x41 typed";
  const std::string onStderr = "vantrel: warning: " + warning + "\nvantrel: error: " + error + "\n";
  struct Case {
    const char *trace; // VANTREL_TRACE: nullptr unset, "file" a trace file
    std::string stderrText, traceText;
  };
  const Case cases[] = {
      {nullptr, onStderr, ""},
      {"file", onStderr, warning + "\n" + key + "\n" + error + "\n"},
      {"stderr", "vantrel: warning: " + warning + "\n" + key + "\nvantrel: error: " + error + "\n",
       ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.trace ? c.trace : "unset");
    testsupport::TempRoot root("warn");
    const std::string err = root.File("stderr.txt");
    const std::string trace = root.File("trace.log");
    const pid_t pid = fork();
    if (pid == 0) {
      unsetenv("VANTREL_TRACE");
      if (c.trace)
        setenv("VANTREL_TRACE", strcmp(c.trace, "file") == 0 ? trace.c_str() : c.trace, 1);
      setenv(kWarningMark, "1", 1);
      if (!freopen(err.c_str(), "w", stderr))
        _exit(126);
      execl("/proc/self/exe", "test_platform_core", static_cast<char *>(nullptr));
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(testsupport::ReadFile(err), c.stderrText);
    EXPECT_EQ(testsupport::ReadFile(trace), c.traceText);
  }
}

// Over time, on a clock of the test's own: a flood that goes on is written
// at the same low rate every second, and a kind that comes now and then is
// written whole.
TEST(TraceFlood, AContinuingFloodStaysAtItsRateAndCalmLinesAreWrittenWhole) {
  constexpr int64_t kSecond = 1000000;
  TraceRepeats repeats;
  int written = 0;
  long long summed = 0;
  auto take = [&](const std::vector<std::string> &out) {
    for (const std::string &line : out)
      if (line.rfind("(repeated ", 0) == 0)
        summed += std::stoll(line.substr(10));
      else if (line.find("0xFC") != std::string::npos)
        ++written;
  };
  for (int64_t t = 0; t < 10 * kSecond; t += 100) // 10 s at 10000 lines a second
    take(repeats.Admit("stray byte 0xFC", t));
  EXPECT_GE(written, 10 * kTraceRepeatsPerSecond);
  EXPECT_LE(written, 10 * (kTraceRepeatsPerSecond + 1));
  take(repeats.Admit("quiet again", 10 * kSecond));
  EXPECT_EQ(written + summed, 100000);

  TraceRepeats calm;
  for (int i = 0; i < 100; ++i) // ten a second, for ten seconds
    EXPECT_EQ(calm.Admit("Connect button: Connect", i * kSecond / 10).size(), 1u) << i;
}

} // namespace

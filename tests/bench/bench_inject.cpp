// Typing rate of the xtest backend: 2,000 characters of mixed text (ASCII,
// accented Latin, the euro sign, Cyrillic) under a German keymap, five runs,
// each checked to arrive exactly at a real X client. Beside it, in the same
// run and on the same server, the baseline: raw XTEST key presses of plain
// letters, the fastest any injection on that server can go; and the same
// mixed text typed by `xdotool type --delay 0` (goal: the backend at least
// four times its rate, every run exact). Prints the rates and their ratios;
// prints "skipped" when Xvfb is missing; never fails.
#include "platform/inject.h"
#include "platform/text.h"
#include "platform/xtest/xtest_backend.h"
#include "tests/inject/x_session.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr size_t kChars = 2000;
constexpr int kRuns = 5;

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Raw XTEST: kChars taps of the letters a..z, timed until all arrived.
double BaselineRate(const std::string &display, Recorder &recorder) {
  Display *dpy = XOpenDisplay(display.c_str());
  if (!dpy)
    return 0;
  KeyCode letters[26];
  for (int i = 0; i < 26; ++i)
    letters[i] = XKeysymToKeycode(dpy, XK_a + i);
  auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < kChars; ++i) {
    XTestFakeKeyEvent(dpy, letters[i % 26], True, CurrentTime);
    XTestFakeKeyEvent(dpy, letters[i % 26], False, CurrentTime);
  }
  XFlush(dpy);
  std::u32string got = recorder.Read(kChars);
  double seconds = Seconds(start);
  XCloseDisplay(dpy);
  return got.size() == kChars ? kChars / seconds : 0;
}

std::string EncodeUtf8(const std::u32string &text) {
  std::string out;
  for (char32_t c : text)
    AppendUtf8(out, c);
  return out;
}

// One run of `xdotool type --delay 0 TEXT` on display: its rate in chars/s
// (0 when xdotool cannot run) and whether the text arrived exactly.
double XdotoolRate(const std::string &display, Recorder &recorder, const std::u32string &text,
                   bool *exact) {
  *exact = false;
  const std::string utf8 = EncodeUtf8(text);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    execlp("xdotool", "xdotool", "type", "--delay", "0", "--", utf8.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  if (pid < 0)
    return 0;
  // Timed to xdotool's end (it has sent and flushed every key by then; the
  // client's reading of the last ones is not counted against it). What the
  // client got is read afterwards: the keys fit in its pipe meanwhile.
  int status = 0;
  waitpid(pid, &status, 0);
  double seconds = Seconds(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 127)
    return 0;
  std::u32string got = recorder.Read(text.size(), 1000);
  *exact = got == text;
  if (!*exact)
    recorder.Read(SIZE_MAX, 500); // drain what is left before the next run
  return text.size() / seconds;
}

} // namespace

int main() {
  XvfbServer server;
  if (!server.Start()) {
    printf("bench_inject: skipped (%s)\n", server.why().c_str());
    return 0;
  }
  Recorder recorder;
  if (!recorder.Start(server.display()) || !server.SetLayout("de")) {
    printf("bench_inject: skipped (German keymap or recording client not available)\n");
    return 0;
  }
  const InjectOps *ops = XTestInjectOpen(server.display().c_str());
  if (!ops) {
    printf("bench_inject: skipped (xtest backend did not open)\n");
    return 0;
  }
  InjectSetBackend(ops);

  std::u32string text = MixedStressText(kChars);
  std::vector<double> rates;
  int exactRuns = 0;
  for (int run = 0; run < kRuns; ++run) {
    auto start = std::chrono::steady_clock::now();
    for (char32_t c : text) {
      UINT ch = static_cast<UINT>(c), state = 1;
      PostKeybdMessage(reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), ch, 1, 1, &state, &ch);
    }
    std::u32string got = recorder.Read(text.size());
    double seconds = Seconds(start);
    bool exact = got == text;
    exactRuns += exact;
    rates.push_back(text.size() / seconds);
    printf("run %2d: %6.0f chars/s %s\n", run + 1, rates.back(), exact ? "exact" : "NOT EXACT");
    if (!exact)
      recorder.Read(SIZE_MAX, 500); // drain what is left before the next run
  }
  double baseline = BaselineRate(server.display(), recorder);
  InjectSetBackend(nullptr);
  ops->close(ops->self);

  // xdotool changes the keymap for characters it has no key for; a few runs
  // are enough for its rate.
  constexpr int kXdotoolRuns = 3;
  std::vector<double> xdotoolRates;
  int xdotoolExact = 0;
  for (int run = 0; run < kXdotoolRuns; ++run) {
    bool exact = false;
    double rate = XdotoolRate(server.display(), recorder, text, &exact);
    if (rate <= 0)
      break;
    xdotoolRates.push_back(rate);
    xdotoolExact += exact;
  }

  std::sort(rates.begin(), rates.end());
  double median = rates[rates.size() / 2];
  printf("xtest backend, mixed text, German keymap: median %.0f chars/s (min %.0f, max %.0f), "
         "%d of %d runs exact\n",
         median, rates.front(), rates.back(), exactRuns, kRuns);
  printf("baseline, raw XTEST plain letters:        %.0f chars/s\n", baseline);
  if (baseline > 0)
    printf("ratio backend / baseline: %.3f\n", median / baseline);
  printf("goal 2000 chars/s: %s\n", median >= 2000 ? "met" : "not met");
  if (xdotoolRates.empty()) {
    printf("xdotool type --delay 0: not run (xdotool missing)\n");
  } else {
    std::sort(xdotoolRates.begin(), xdotoolRates.end());
    double xdotool = xdotoolRates[xdotoolRates.size() / 2];
    printf("baseline, xdotool type --delay 0, same text: median %.0f chars/s, %d of %zu runs exact\n",
           xdotool, xdotoolExact, xdotoolRates.size());
    printf("ratio backend / xdotool: %.2f (goal at least 4, every run of ours exact): %s\n",
           median / xdotool, median >= 4 * xdotool && exactRuns == kRuns ? "met" : "not met");
  }
  return 0;
}

// Typing rate of the xtest backend: 2,000 characters of mixed text (ASCII,
// accented Latin, the euro sign, Cyrillic) under a German keymap, ten runs,
// each checked to arrive exactly at a real X client. Beside it, in the same
// run and on the same server, the baseline: raw XTEST key presses of plain
// letters, the fastest any injection on that server can go. Prints both rates
// and their ratio; prints "skipped" when Xvfb is missing; never fails.
#include "platform/inject.h"
#include "platform/xtest/xtest_backend.h"
#include "tests/inject/x_session.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr size_t kChars = 2000;
constexpr int kRuns = 10;

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

  std::sort(rates.begin(), rates.end());
  double median = rates[rates.size() / 2];
  printf("xtest backend, mixed text, German keymap: median %.0f chars/s (min %.0f, max %.0f), "
         "%d of %d runs exact\n",
         median, rates.front(), rates.back(), exactRuns, kRuns);
  printf("baseline, raw XTEST plain letters:        %.0f chars/s\n", baseline);
  if (baseline > 0)
    printf("ratio backend / baseline: %.3f\n", median / baseline);
  printf("goal 2000 chars/s: %s\n", median >= 2000 ? "met" : "not met");
  return 0;
}

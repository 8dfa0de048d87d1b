// What the two compositor typing benchmarks (bench_inject_wayland,
// bench_inject_portal) share: characters sent paced by what wev has shown,
// timed runs of the installed backend and of a baseline tapping letters,
// and the median of their rates. Header only: every bench_*.cpp is a
// program of its own.
#pragma once

#include "platform/inject.h"
#include "tests/inject/wayland_harness.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace wev_typing {

// How far a sender may run ahead of wev: at most `window` characters not yet
// shown, sent `chunk` at a time. The compositor disconnects a client that
// falls so far behind that its connection's buffer fills, and wev, writing
// several lines a key, falls behind an unbounded burst on a busy machine.
struct Pace {
  size_t window;
  size_t chunk;
};

// Sends `total` characters through send(from, count), pace.chunk at a time,
// waiting while more than pace.window of them have not arrived at wev.
// False when wev stops receiving (nothing for 3 s) or send fails.
template <typename Send> bool Paced(WevLog &wev, Pace pace, size_t total, Send send) {
  for (size_t sent = 0; sent < total;) {
    if (sent >= pace.window && wev.Read(sent - pace.window, 3000).size() < sent - pace.window)
      return false;
    const size_t n = std::min(pace.chunk, total - sent);
    if (!send(sent, n))
      return false;
    sent += n;
  }
  return true;
}

inline double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// n letters, a to z over and over: the baseline's text.
inline std::u32string Letters(size_t n) {
  std::u32string s;
  for (size_t i = 0; i < n; ++i)
    s.push_back(U'a' + i % 26);
  return s;
}

// Types text through the installed backend `runs` times, paced, printing a
// line a run; the rate of each run is appended to rates. Returns how many
// runs arrived whole and in order.
inline int TypeRuns(WevLog &wev, Pace pace, const std::u32string &text, int runs,
                    std::vector<double> &rates) {
  int exactRuns = 0;
  for (int run = 0; run < runs; ++run) {
    wev.Clear();
    auto start = std::chrono::steady_clock::now();
    Paced(wev, pace, text.size(), [&](size_t from, size_t n) {
      for (size_t i = from; i < from + n; ++i) {
        UINT ch = static_cast<UINT>(text[i]), state = 1;
        PostKeybdMessage(reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), ch, 1, 1, &state,
                         &ch);
      }
      return true;
    });
    const std::u32string got = wev.Read(text.size(), 3000);
    const bool exact = got == text;
    exactRuns += exact;
    rates.push_back(text.size() / Seconds(start));
    printf("run %2d: %6.0f chars/s %s\n", run + 1, rates.back(),
           exact ? "exact" : "LOST OR OUT OF ORDER");
    if (!exact)
      wev.Read(SIZE_MAX, 500); // what is left, before the next run
  }
  return exactRuns;
}

// The baseline: tap(from, count) taps letters from..from+count (mod 26) on a
// plain keyboard of the benchmark's own, opened when `ready`. A new virtual
// device's first keys go nowhere until the client has bound the keyboard
// the seat gained with it, so a key is tapped until one arrives; then `runs`
// runs of `chars` letters, paced. Each whole run's rate (0 for one that was
// not whole) is appended to rates; returns how many runs were exact.
template <typename Tap>
int BaselineRuns(WevLog &wev, Pace pace, size_t chars, int runs, bool ready, Tap tap,
                 std::vector<double> &rates) {
  const std::u32string letters = Letters(chars);
  wev.Read(SIZE_MAX, 300); // what the backend's last run left
  wev.Clear();
  for (int i = 0; ready && i < 300 && wev.Typed().empty(); ++i) {
    ready = tap(0, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ready = ready && wev.Read(SIZE_MAX, 300).size() > 0;
  int exactRuns = 0;
  for (int run = 0; ready && run < runs; ++run) {
    wev.Clear();
    auto start = std::chrono::steady_clock::now();
    if (!Paced(wev, pace, chars, tap))
      break;
    const std::u32string got = wev.Read(chars, 3000);
    exactRuns += got == letters;
    rates.push_back(got.size() == chars ? chars / Seconds(start) : 0);
    if (got != letters)
      wev.Read(SIZE_MAX, 500);
  }
  return exactRuns;
}

} // namespace wev_typing

// Time per key of processScancode with the recording injector (goal: at most
// 10 microseconds a key), beside a baseline measured in the same run: one
// empty call through the same injection table. Prints figures and the
// ratio; never fails.
#include "common/globals.h"
#include "keys/scancode.h"
#include "platform/win32.h"
#include "tests/keys/recording_injector.h"

#include <chrono>
#include <cstdio>

namespace {

// A small layout: letters, a shifted character, an AltGr cycle, an accent.
void fillTable() {
  for (int letter = 'A'; letter <= 'Z'; ++letter) {
    AppGlobals.KeycodeTable[letter][0] = letter;
    AppGlobals.KeycodeTable[letter][1] = 1000 + letter;
    AppGlobals.KeycodeTable[letter][2] = letter;
  }
  AppGlobals.KeycodeTable['E'][4] = 2233;
  AppGlobals.KeycodeTable['E'][5] = 2232;
  AppGlobals.KeycodeTable['E'][21] = 2233;
  AppGlobals.KeycodeTable['1'][0] = '1';
  AppGlobals.KeycodeTable['1'][1] = 2033;
  AppGlobals.KeycodeTable['\''][0] = 4004;
}

// One stroke mix per round: plain letters, Shift, caps lock, AltGr, accent.
const uint8_t kRound[] = {'H', 'E', 'L', 'L', 'O', 2, 'W', 2, '1', 3, 'A', 3,
                          114, 'E', 'E', 114, '\'', 'E', ' '};

double nanosecondsPer(long count, std::chrono::steady_clock::duration elapsed) {
  return std::chrono::duration<double, std::nano>(elapsed).count() / static_cast<double>(count);
}

} // namespace

int main() {
  keytest::RecordingInjector injector;
  fillTable();
  const InjectOps *ops = InjectGetBackend();
  constexpr int kRounds = 20000;
  constexpr long kKeys = kRounds * static_cast<long>(sizeof kRound);

  // Baseline: one empty injection call a key, through the same table.
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < kKeys; ++i) {
    ops->keybdEvent(ops->self, static_cast<BYTE>(i), 0, 4, 1);
    if (injector.calls.size() > 4096)
      injector.clear();
  }
  const double baseline = nanosecondsPer(kKeys, std::chrono::steady_clock::now() - start);
  injector.clear();

  start = std::chrono::steady_clock::now();
  for (int round = 0; round < kRounds; ++round) {
    for (uint8_t scancode : kRound)
      processScancode(scancode);
    if (injector.calls.size() > 4096)
      injector.clear();
  }
  const double perKey = nanosecondsPer(kKeys, std::chrono::steady_clock::now() - start);

  std::printf("processScancode: %.0f ns a key (goal at most 10000 ns)\n", perKey);
  std::printf("baseline, one empty injection call: %.0f ns\n", baseline);
  std::printf("ratio: %.1f\n", baseline > 0 ? perKey / baseline : 0.0);
  return 0;
}

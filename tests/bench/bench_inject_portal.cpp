// Typing rate of the portal backend: characters into wev under a headless
// mutter with a US keymap, through the RemoteDesktop portal (the stand-in,
// which passes each key on to mutter's own RemoteDesktop, as the desktop's
// portal does), each run checked to arrive whole and in order. Two texts:
// mixed text (the xtest benchmark's: accented Latin, the euro sign and
// Cyrillic, which a US keymap types through Ctrl+Shift+U) and plain letters.
// Beside them, in the same run and on the same compositor, the baseline: a
// plain client of this program's own that opens a session of mutter's
// RemoteDesktop directly and sends the letters' key codes, the fastest a
// remote-desktop keyboard goes into that client. Prints the rates and their
// ratios; prints "skipped" when mutter or wev is missing, and fails only
// when text was lost or reordered, never on a figure.
//
// Both sides keep at most kPace.window characters ahead of what wev has
// shown, so that neither the compositor's queue nor wev's log falls far
// behind.
#include "platform/inject.h"
#include "platform/portal/portal_backend.h"
#include "tests/bench/wev_typing.h"
#include "tests/inject/mutter_session.h"
#include "tests/inject/x_session.h"

#include <cstdio>
#include <cstdlib>
#include <linux/input-event-codes.h>
#include <string>
#include <systemd/sd-bus.h>
#include <vector>

namespace {

constexpr size_t kChars = 1000;
constexpr int kRuns = 5;
constexpr wev_typing::Pace kPace = {128, 16};

constexpr uint32_t kLetters[26] = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
                                   KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
                                   KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};

// The plain client: one session of mutter's RemoteDesktop, key codes sent
// without waiting for answers.
class PlainRemoteDesktop {
public:
  ~PlainRemoteDesktop() {
    if (bus_) {
      if (!session_.empty())
        sd_bus_call_method(bus_, kService, session_.c_str(), kSession, "Stop", nullptr, nullptr,
                           "");
      sd_bus_flush_close_unref(bus_);
    }
  }

  bool Open(const std::string &address) {
    if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address.c_str()) < 0 ||
        sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0)
      return false;
    sd_bus_message *reply = nullptr;
    const char *path = nullptr;
    if (sd_bus_call_method(bus_, kService, "/org/gnome/Mutter/RemoteDesktop", kService,
                           "CreateSession", nullptr, &reply, "") < 0 ||
        sd_bus_message_read(reply, "o", &path) < 0) {
      sd_bus_message_unref(reply);
      return false;
    }
    session_ = path;
    sd_bus_message_unref(reply);
    return sd_bus_call_method(bus_, kService, session_.c_str(), kSession, "Start", nullptr,
                              nullptr, "") >= 0;
  }

  bool TapLetters(size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i)
      for (int down = 1; down >= 0; --down) {
        sd_bus_message *m = nullptr;
        int r = sd_bus_message_new_method_call(bus_, &m, kService, session_.c_str(), kSession,
                                               "NotifyKeyboardKeycode");
        if (r >= 0)
          r = sd_bus_message_append(m, "ub", kLetters[i % 26], down);
        if (r >= 0)
          r = sd_bus_message_set_expect_reply(m, 0);
        if (r >= 0)
          r = sd_bus_send(bus_, m, nullptr);
        sd_bus_message_unref(m);
        if (r < 0)
          return false;
      }
    while (sd_bus_process(bus_, nullptr) > 0) {
    }
    return sd_bus_flush(bus_) >= 0;
  }

private:
  static constexpr const char *kService = "org.gnome.Mutter.RemoteDesktop";
  static constexpr const char *kSession = "org.gnome.Mutter.RemoteDesktop.Session";
  sd_bus *bus_ = nullptr;
  std::string session_;
};

} // namespace

int main() {
  if (!MutterSession::Available()) {
    printf("bench_inject_portal: skipped (mutter, wev, stdbuf, dbus-daemon or python3-dbus is "
           "missing)\n");
    return 0;
  }
  MutterSession mutter;
  if (!mutter.Start("us")) {
    printf("bench_inject_portal: skipped (%s)\n", mutter.why().c_str());
    return 0;
  }
  // The backend plans by the keymap mutter took from the same locale1.
  unsetenv("XKB_DEFAULT_LAYOUT");
  unsetenv("XDG_CURRENT_DESKTOP");
  setenv("DBUS_SESSION_BUS_ADDRESS", mutter.bus().c_str(), 1);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", mutter.bus().c_str(), 1);
  std::string why;
  const InjectOps *ops = PortalInjectOpen(&why);
  if (!ops) {
    printf("bench_inject_portal: skipped (portal backend: %s)\n", why.c_str());
    return 0;
  }
  InjectSetBackend(ops);
  ops->linkChanged(ops->self, true);
  // Until mutter has set up the new virtual keyboard (the seat has no
  // other), keys go nowhere: an x is typed until one arrives.
  WevLog &wev = mutter.wev();
  UINT x = 'x', state = 1;
  for (int i = 0; i < 100 && wev.Typed().empty(); ++i) {
    PostKeybdMessage(reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), x, 1, 1, &state, &x);
    wev.Read(1, 300);
  }
  wev.Read(SIZE_MAX, 300);
  if (wev.Typed().empty()) {
    printf("bench_inject_portal: skipped (nothing arrived through the portal)\n");
    ops->close(ops->self);
    return 0;
  }
  wev.Clear();

  std::vector<double> mixedRates, letterRates;
  const int mixedExact =
      wev_typing::TypeRuns(wev, kPace, MixedStressText(kChars), kRuns, mixedRates);
  const int lettersExact =
      wev_typing::TypeRuns(wev, kPace, wev_typing::Letters(kChars), kRuns, letterRates);
  InjectSetBackend(nullptr);
  ops->close(ops->self);

  PlainRemoteDesktop plain;
  const bool ready = plain.Open(mutter.bus());
  std::vector<double> baseline;
  const int baselineExact = wev_typing::BaselineRuns(
      wev, kPace, kChars, kRuns, ready,
      [&](size_t from, size_t n) { return plain.TapLetters(from, n); }, baseline);

  const double mixedMedian = wev_typing::Median(mixedRates),
               letterMedian = wev_typing::Median(letterRates),
               base = wev_typing::Median(baseline);
  printf("portal backend, mixed text, US keymap: median %.0f chars/s, %d of %d runs exact\n",
         mixedMedian, mixedExact, kRuns);
  printf("portal backend, letters:               median %.0f chars/s, %d of %d runs exact\n",
         letterMedian, lettersExact, kRuns);
  printf("baseline, mutter's RemoteDesktop directly, letters: %.0f chars/s (%d of %d runs "
         "exact)\n",
         base, baselineExact, static_cast<int>(baseline.size()));
  if (base > 0)
    printf("ratio backend / baseline: letters %.3f, mixed text %.3f (no goal set for this "
           "path)\n",
           letterMedian / base, mixedMedian / base);
  return mixedExact == kRuns && lettersExact == kRuns ? 0 : 1;
}

// Typing rate of the wayland backend: 2,000 characters of mixed text (ASCII,
// accented Latin, the euro sign, Cyrillic; the xtest benchmark's text) into
// wev under a headless sway with a German keymap, ten runs as fast as wev
// takes them, each checked to arrive whole and in order. Beside it, in the
// same run and on the same compositor, the baseline: a plain virtual
// keyboard of this program's own that uploads a US keymap once and taps
// letters, the fastest any virtual keyboard on that compositor goes into
// that client. Prints both rates and their ratio; prints "skipped" when sway
// or wev is missing, and fails only when text was lost or reordered, never
// on a figure.
//
// Both sides keep at most kPace.window characters ahead of what wev has
// shown (see wev_typing.h). (The keyboard itself types at a person's pace,
// far below either rate.)
#include "platform/inject.h"
#include "tests/bench/wev_typing.h"
#include "tests/inject/sway_session.h"
#include "tests/inject/x_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#ifdef VANTREL_WAYLAND
#include "platform/wayland/wayland_backend.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <cerrno>
#include <cstring>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

namespace {

constexpr size_t kChars = 2000;
constexpr int kRuns = 10;
constexpr int kBaselineRuns = 3;
constexpr wev_typing::Pace kPace = {256, 32};

// The plain virtual keyboard: one connection, one keymap (us), key events
// of the letters' evdev codes and nothing else.
class PlainKeyboard {
public:
  ~PlainKeyboard() {
    if (kbd_)
      zwp_virtual_keyboard_v1_destroy(kbd_);
    if (dpy_) {
      wl_display_flush(dpy_);
      wl_display_disconnect(dpy_);
    }
  }

  bool Open(const std::string &socket) {
    dpy_ = wl_display_connect(socket.c_str());
    if (!dpy_)
      return false;
    wl_registry *registry = wl_display_get_registry(dpy_);
    static const wl_registry_listener listener = {OnGlobal, [](void *, wl_registry *, uint32_t) {}};
    wl_registry_add_listener(registry, &listener, this);
    wl_display_roundtrip(dpy_);
    if (!manager_ || !seat_)
      return false;
    kbd_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_, seat_);
    xkb_context *ctx = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    xkb_keymap *keymap = ctx ? xkb_keymap_new_from_names(ctx, &names, XKB_KEYMAP_COMPILE_NO_FLAGS)
                             : nullptr;
    char *text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
    bool ok = false;
    if (text) {
      const size_t size = strlen(text) + 1;
      int fd = memfd_create("bench-keymap", MFD_CLOEXEC);
      if (fd >= 0 && write(fd, text, size) == static_cast<ssize_t>(size)) {
        zwp_virtual_keyboard_v1_keymap(kbd_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<uint32_t>(size));
        ok = wl_display_roundtrip(dpy_) >= 0 && !wl_display_get_error(dpy_);
      }
      if (fd >= 0)
        close(fd);
      free(text);
    }
    if (keymap)
      xkb_keymap_unref(keymap);
    if (ctx)
      xkb_context_unref(ctx);
    return ok;
  }

  // Taps the letters a..z in turn (starting at letter `from` mod 26), count
  // times, flushing after each tap as the backend does; false when the
  // connection failed.
  bool TapLetters(size_t from, size_t count) {
    static const uint32_t letters[26] = {
        KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M,
        KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
    for (size_t i = from; i < from + count; ++i) {
      const uint32_t ms = static_cast<uint32_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(
              std::chrono::steady_clock::now().time_since_epoch())
              .count());
      zwp_virtual_keyboard_v1_key(kbd_, ms, letters[i % 26], WL_KEYBOARD_KEY_STATE_PRESSED);
      zwp_virtual_keyboard_v1_key(kbd_, ms, letters[i % 26], WL_KEYBOARD_KEY_STATE_RELEASED);
      while (wl_display_flush(dpy_) < 0) {
        if (errno != EAGAIN)
          return false;
        pollfd p{wl_display_get_fd(dpy_), POLLOUT, 0};
        poll(&p, 1, 1000);
      }
    }
    return wl_display_get_error(dpy_) == 0;
  }

private:
  static void OnGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface,
                       uint32_t) {
    auto *self = static_cast<PlainKeyboard *>(data);
    if (strcmp(interface, wl_seat_interface.name) == 0 && !self->seat_)
      self->seat_ = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
      self->manager_ = static_cast<zwp_virtual_keyboard_manager_v1 *>(
          wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
  }

  wl_display *dpy_ = nullptr;
  wl_seat *seat_ = nullptr;
  zwp_virtual_keyboard_manager_v1 *manager_ = nullptr;
  zwp_virtual_keyboard_v1 *kbd_ = nullptr;
};

} // namespace

int main() {
  if (!SwaySession::Available()) {
    printf("bench_inject_wayland: skipped (sway, wev or stdbuf is not installed)\n");
    return 0;
  }
  SwaySession sway;
  if (!sway.Start("de")) {
    printf("bench_inject_wayland: skipped (%s)\n", sway.why().c_str());
    return 0;
  }
  setenv("WAYLAND_DISPLAY", sway.socket().c_str(), 1);
  std::string why;
  const InjectOps *ops = WaylandInjectOpen(&why);
  if (!ops || !sway.WaitForKeyboard()) {
    printf("bench_inject_wayland: skipped (wayland backend: %s)\n",
           ops ? "wev never got the focus" : why.c_str());
    return 0;
  }
  InjectSetBackend(ops);

  WevLog &wev = sway.wev();
  std::vector<double> rates;
  const int exactRuns = wev_typing::TypeRuns(wev, kPace, MixedStressText(kChars), kRuns, rates);
  InjectSetBackend(nullptr);
  ops->close(ops->self);

  // One plain keyboard for all baseline runs.
  PlainKeyboard plain;
  const bool ready = plain.Open(sway.socket());
  std::vector<double> baseline;
  const int baselineExact = wev_typing::BaselineRuns(
      wev, kPace, kChars, kBaselineRuns, ready,
      [&](size_t from, size_t n) { return plain.TapLetters(from, n); }, baseline);

  const double median = wev_typing::Median(rates), base = wev_typing::Median(baseline);
  std::sort(rates.begin(), rates.end());
  printf("wayland backend, mixed text, German compositor keymap: median %.0f chars/s "
         "(min %.0f, max %.0f), %d of %d runs exact\n",
         median, rates.front(), rates.back(), exactRuns, kRuns);
  printf("baseline, plain virtual keyboard tapping letters:     %.0f chars/s "
         "(%d of %d runs exact)\n",
         base, baselineExact, static_cast<int>(baseline.size()));
  if (base > 0)
    printf("ratio backend / baseline: %.3f (no goal set for this "
           "path)\n",
           median / base);
  // Lost or reordered text is a fault, not a figure.
  return exactRuns == kRuns ? 0 : 1;
}

#else

int main() {
  printf("bench_inject_wayland: skipped (built without the Wayland client)\n");
  return 0;
}

#endif

// Test harness for typing into a real X server: an Xvfb started on a free
// display for the test, and the recording client (recorder.cpp) whose
// received text the tests read back. Both are killed when their object goes.
#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

class XvfbServer {
public:
  ~XvfbServer();
  // Starts Xvfb with one screen of the given size ("WxHxDEPTH"); false
  // (with why() set) when Xvfb is missing or fails.
  bool Start(const char *screen = "1024x768x24");
  const std::string &display() const { return display_; }
  const std::string &why() const { return why_; }
  // Runs `setxkbmap -display D layout [-option option]`; true when the
  // server then has the layout.
  bool SetLayout(const char *layout, const char *option = nullptr) const;
  // The layout the server names as its own ("" when it cannot be read).
  std::string ServerLayout() const;
  // Starts a window manager (openbox) on the server, as a desktop has one:
  // windows get frames, are placed and activated by it. Returns once it
  // manages the screen; false (with why() set) when openbox is missing or
  // does not take the screen. It ends before the server.
  bool StartWindowManager();

private:
  pid_t pid_ = -1;
  pid_t wm_ = -1;
  std::string display_, why_;
};

class Recorder {
public:
  ~Recorder();
  // Starts the recording client on display and waits until it has the focus.
  bool Start(const std::string &display);
  // Reads until `count` code points have arrived or timeoutMs passes without
  // any; returns what arrived.
  std::u32string Read(size_t count, int timeoutMs = 5000);

private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string pending_; // UTF-8 bytes of a character not yet complete
};

// Mixed text of n characters: ASCII, accented Latin, the euro sign and
// Cyrillic, in a fixed pseudo-random order (the same on every run).
std::u32string MixedStressText(size_t n);
// The code points of UTF-8 text (test data is valid UTF-8).
std::u32string DecodeUtf8(const std::string &s);
// How many times keysym appears in the keymap of display (-1: no display).
int CountKeysymInKeymap(const std::string &display, unsigned long keysym);
// The keymap of display as a client reads it, for comparing two points in
// time: the XKB keymap as text (types, keysyms, actions, explicit parts,
// modifier map), the core keymap with its width, and the core modifier map.
// "" when the display cannot be read.
std::string KeymapFingerprint(const std::string &display);
// The keysyms on the levels of each keycode's first group (indexed by
// keycode; empty for a keycode without one). Empty when there is no display.
std::vector<std::vector<unsigned long>> GroupOneLevels(const std::string &display);
// Kills and reaps a child process.
void KillChild(pid_t pid);

// A headless stand-in for the whole program around the link: a temporary
// device root with the real language and layout files, its own settings
// database and devices folder, a thread that plays the user-interface thread
// (a main window that records the link's notifications, TypingWnd made by
// CreateLinkController, a message loop), scripted message boxes, the
// recording injector, and vantrel-kbd on a pseudo-terminal with its JSON log.
//
// The reader thread runs until its process ends, so every scenario runs in a
// process of its own: RunIsolated forks, runs the scenario in the child and
// reports the child's failures as the test's.
//
// Time: a scenario runs on a virtual clock (platform/clock.h), so the link's
// pauses and timers take no real time. Advance(ms) lets ms of it pass; the
// times in notes and boxes are virtual milliseconds since the harness
// started. The keyboard emulator and the port's read time-outs keep real
// time, and the WaitFor calls bound their real waits.
#pragma once

#include "common/globals.h"
#include "link/link_controller.h"
#include "platform/clock.h"
#include "platform/win32.h"
#include "tests/keys/recording_injector.h"
#include "tests/support/temp_root.h"
#include "tests/support/trace_lines.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace linktest {

// Runs fn in a child process on the given clock; fails the test when the
// child fails or outlives timeoutSec (real seconds).
void RunIsolated(const std::function<void()> &fn, VirtualClock clock = VirtualClock::Auto,
                 int timeoutSec = 120);

// The shared temporary folder of the tests (tests/support/temp_root.h).
using testsupport::TempRoot;

// Points the registry, the device root and the devices folder at a fresh
// temporary root, with InstallDir "\Vantrel\" holding English.lang and
// "Intl English.kcod", the layout already chosen, and the UI strings loaded.
// The buses and the sound server are pointed at nothing, so a run never
// touches the user's desktop.
void UseFreshRoot(const TempRoot &root);

struct Note {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  std::string text; // statusText at WM_STATUS_TEXT_CHANGED
  double ms;        // when it was posted, since the harness started
};

struct Box {
  HWND owner;
  std::string text, caption;
  UINT flags;
  double ms;
  std::string yesVerb, noVerb; // a question's answers (empty for Yes and No)
};

struct Packet {
  std::string name;
  int id = 0, value = 0;
  double ms = 0; // the emulator's clock
};

class LinkHarness {
public:
  explicit LinkHarness(const TempRoot &root);
  ~LinkHarness();

  // Starts vantrel-kbd on port ("COM3") with extra arguments; waits until
  // its link exists. Returns false when it did not start.
  bool StartKeyboard(const std::string &port, const std::vector<std::string> &args);
  // Starts vantrel-kbd serving radio links on the Unix socket `path`
  // (--listen), for the BlueZ stand-in to connect to; waits until it listens.
  bool StartKeyboardListening(const std::string &path, const std::vector<std::string> &args);
  void StopKeyboard(int signal = 15);
  void PauseKeyboard(bool pause);

  // Starts the user-interface stand-in: main window, TypingWnd (and so the
  // reader thread), and the stored connection time-out handed to the link as
  // the shell does. Returns when the reader thread has enabled the connect
  // button (WM_LINK_PHASE 1, 0).
  void StartLink();

  // Answers for the next message boxes, in order; once used up, boxes get
  // IDOK (IDNO for a question).
  void AnswerBoxes(std::initializer_list<int> answers);
  // From now on every box stays up, holding the thread that shows it as a
  // person reading it does, until AnswerHeldBox answers it (boxes in order).
  void HoldBoxes();
  void AnswerHeldBox(int answer);
  // How many boxes are up and waiting for an answer.
  int BoxesHeld();

  void Post(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
  LRESULT Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
  void Toggle() { Post(0x8000 + 101); }

  // Lets ms of virtual time pass. First the user-interface thread handles
  // what was posted to it; then its timers fire at their own times, in
  // order, and have run when it returns (what the reader thread does about
  // them follows on its own). On a Manual
  // clock, threads sleeping until a time within the span wake as it passes.
  void Advance(int ms);
  // Advances stepMs at a time (giving the threads a moment of real time
  // after each step) until pred holds; false when it still does not after
  // maxMs of virtual time.
  bool AdvanceUntil(const std::function<bool()> &pred, int stepMs, int maxMs);

  // Waits up to timeoutMs of real time for pred (called without the
  // harness's lock).
  bool WaitFor(const std::function<bool()> &pred, int timeoutMs);
  // Waits for the n-th WM_LINK_PHASE (wParam, lParam) notice (n from 1).
  bool WaitForPhase(WPARAM wParam, LPARAM lParam, int timeoutMs, int nth = 1);
  bool WaitForLinkState(int32_t state, int timeoutMs);

  std::vector<Note> Notes();
  std::vector<Note> Phases(); // WM_LINK_PHASE notes only
  std::vector<Box> Boxes();
  std::vector<std::string> Traces();
  // The packets the current emulator run received, from its log, in order.
  std::vector<Packet> Packets();
  // Log lines of one event ("sent", "open", "close").
  std::vector<std::string> KeyboardEvents(const std::string &event);
  // Trace lines that start with prefix.
  int CountTraces(const std::string &prefix);
  // Scancodes the link has processed so far (one trace line each).
  int KeysRead() { return CountTraces("Processing scancode"); }
  // Virtual milliseconds since the harness started.
  double Now() const;

  // Windows standing in for the calibration dialog: its notices are noted.
  HWND calibrationDialog = nullptr;
  keytest::RecordingInjector injector;

private:
  static LRESULT MainProc(HWND, UINT, WPARAM, LPARAM);
  static int Present(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type, void *self);
  static void Trace(const char *line, void *self);
  void UiThread();

  std::string root_, devices_, kbdLog_;
  int kbdPid_ = -1;
  std::string kbdPort_;
  int kbdRuns_ = 0;
  std::thread ui_;
  LinkController link_;
  DWORD startTick_;
  DWORD postedAt_ = 0; // the time of the message being dispatched (UI thread)
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool uiReady_ = false;
  std::vector<Note> notes_;
  std::vector<Box> boxes_;
  std::deque<int> answers_;
  bool holdBoxes_ = false;
  int boxesHeld_ = 0;
  std::deque<int> heldAnswers_;
  std::vector<std::string> traces_;
};

std::string Narrow(const WCHAR *text);
// The COMPORT setting as UTF-8 ("None" when no port was remembered).
std::string StoredComport();
// Names of packets in order, with the parameter id for SET_PARAMETER
// ("SET_PARAMETER 14=23").
std::vector<std::string> Describe(const std::vector<Packet> &packets);
// Index of the first packet described as `what` at or after `from`; -1 if none.
int Find(const std::vector<std::string> &described, const std::string &what, size_t from = 0);

} // namespace linktest

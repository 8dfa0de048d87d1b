// The private window messages of the link, WM_APP+100 to WM_APP+124. They
// carry the user interface's requests to the link controller window
// (TypingWnd) and the link's notifications to the main window and dialogs.
// wParam and lParam are 0 unless a message says otherwise.
#pragma once

#include "platform/window.h"

enum : UINT {
  // wParam: 1 enable the connect button, 0 disable it; lParam: 0 not
  // connected, 1 connecting, 2 connected. Reader thread → main window.
  WM_LINK_PHASE = WM_APP + 100,
  // Connect when idle, otherwise close the link. Main window → TypingWnd.
  WM_TOGGLE_CONNECTION = WM_APP + 101,
  // lParam: 0 or 1, stored as Keyclicks. Main window → TypingWnd.
  WM_SET_KEYCLICKS = WM_APP + 102,
  WM_START_HEARTBEAT = WM_APP + 103,
  // Reader thread → TypingWnd at the end of the handshake.
  WM_START_STATUS_POLL = WM_APP + 104,
  // Calibration dialog → TypingWnd (sent); reader thread → main (posted).
  WM_CALIBRATE = WM_APP + 105,
  WM_RESUME_WITH_SETTINGS = WM_APP + 106,
  WM_END_CALIBRATION = WM_APP + 107,
  // Frame decoder → calibration dialog.
  WM_CALIBRATION_STEP = WM_APP + 108,
  WM_BEGIN_CALIBRATION = WM_APP + 109,
  WM_CALIBRATION_RESULT = WM_APP + 110,
  WM_CALIBRATION_FAILED = WM_APP + 111,
  WM_PUSH_SETTINGS = WM_APP + 112,
  // lParam: time-out in ms, 0 = none. Shell and menu → TypingWnd.
  WM_SET_CONNECTION_TIMEOUT = WM_APP + 113,
  WM_SET_SENSITIVITY = WM_APP + 114,
  WM_SET_KEY_REPEAT_RATE = WM_APP + 115,
  WM_SET_KEY_REPEAT_DELAY = WM_APP + 116,
  // Sent by the main window when the user quits.
  WM_LINK_QUIT = WM_APP + 117,
  // wParam: 0 disable the connect button, 1 enable it. Link → main window.
  WM_STATUS_TEXT_CHANGED = WM_APP + 118,
  // lParam: the character. → key test dialog.
  WM_KEY_TEST_CHAR = WM_APP + 119,
  // wParam: the InjectNotice. The desktop refused or ended the leave to
  // type. Injection backend's thread → main window.
  WM_KEYS_NOT_ALLOWED = WM_APP + 120,
  // wParam: 1 the machine is about to sleep, 0 it has resumed. The
  // platform's sleep watch → TypingWnd.
  WM_MACHINE_SLEEP = WM_APP + 124,
  // The way to type keys has been chosen (after the window was made).
  // Injection's chooser thread → main window.
  WM_KEYS_BACKEND_CHOSEN = WM_APP + 121,
  // wParam: 1 a key press was dropped because one of the program's own
  // windows is active, 0 keys go out again. Reader thread → main window.
  WM_KEYS_KEPT_FROM_OWN_WINDOWS = WM_APP + 122,
  // A status frame changed what the battery's charge is read from
  // (batteryLevel, or the thresholds rescaled by the first frame). Reader
  // thread → main window.
  WM_BATTERY_REPORTED = WM_APP + 123,
};

// Posts a notice to a window the link knows of. A window that does not
// exist (0: no dialog open) gets nothing; posting to 0 would queue a thread
// message on the posting thread, which nothing reads.
inline void PostToWindow(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
  if (hwnd)
    PostMessageW(hwnd, msg, wParam, lParam);
}

// The link states (AppGlobals.linkState; 0 until the reader thread's
// start-up is done).
enum : int32_t {
  LINK_IDLE = 1,
  LINK_SYNCING = 3,
  LINK_HANDSHAKE = 4,
  LINK_DISCONNECTING = 5,
  LINK_TYPING = 6,
  LINK_CALIBRATING = 7,
  LINK_ERROR = 8,
};

// The timers of TypingWnd.
enum : UINT_PTR {
  kHeartbeatTimer = 1,
  kStatusPollTimer = 2,
  kConnectionTimeoutTimer = 3,
  kResumeReconnectTimer = 4,
  // A typing-setting request waits for the pause after the one before.
  kSettingSpacingTimer = 5,
};
// Typing-setting packets (sensitivity, repeat rate, repeat delay) reach the
// keyboard at least this far apart.
constexpr UINT kSettingSpacingMs = 200;
constexpr UINT kHeartbeatPeriodMs = 10000;
constexpr UINT kStatusPollPeriodMs = 10000;
// After a resume, how long a link that still looks connected may take to be
// found dead and still be connected again: the heartbeat timer notices a
// dead link within one period, and the disconnection's pause follows.
constexpr UINT kResumeReconnectWindowMs = 2 * kHeartbeatPeriodMs;

// TypingWnd: the link's window on the user interface thread. Its procedure
// turns the private messages into command packets, link-state changes and
// the link timers; its creation starts the reader thread.
#include "link/link_controller.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "link/link_state.h"
#include "link/packets.h"
#include "link/reader_thread.h"
#include "link/resume_reconnect.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/trace.h"
#include "platform/window.h"

namespace {

// Typing or calibrating: the states a calibration can end into typing from.
bool LinkIsLive() {
  int32_t state = AppGlobals.linkState.load();
  return state == LINK_TYPING || state == LINK_CALIBRATING;
}

// Ends a calibration into typing. Returns true when the link is typing now;
// false when it was closed or is closing (that state is kept).
bool ResumeTyping() {
  return AdvanceLinkState(LINK_CALIBRATING, LINK_TYPING) ||
         AppGlobals.linkState.load() == LINK_TYPING;
}

constexpr WCHAR kClassName[] = u"TypingWnd";

// Typing-setting requests (WM_SET_SENSITIVITY, WM_SET_KEY_REPEAT_RATE,
// WM_SET_KEY_REPEAT_DELAY) are sent kSettingSpacingMs apart: one that comes
// sooner after the last waits, in order, on kSettingSpacingTimer. A request
// already waiting is not queued twice; its value is read when it is sent.
// User interface thread only.
struct SettingSpacing {
  UINT waiting[3] = {};
  int count = 0;
  bool sentOnce = false;
  DWORD lastSentAt = 0;
};
SettingSpacing gSpacing;

void SendSetting(UINT msg) {
  switch (msg) {
  case WM_SET_SENSITIVITY:
    SendSensitivitySequence();
    break;
  case WM_SET_KEY_REPEAT_RATE:
    SendRepeatRate();
    break;
  case WM_SET_KEY_REPEAT_DELAY:
    SendRepeatDelay();
    break;
  default:
    return;
  }
  // From the end of the send: the sensitivity is three packets with pauses.
  gSpacing.sentOnce = true;
  gSpacing.lastSentAt = GetTickCount();
}

// Milliseconds until the next setting may be sent (0: now).
UINT SpacingLeft() {
  if (!gSpacing.sentOnce)
    return 0;
  const DWORD since = GetTickCount() - gSpacing.lastSentAt;
  return since >= kSettingSpacingMs ? 0 : static_cast<UINT>(kSettingSpacingMs - since);
}

void OnSettingRequest(HWND hwnd, UINT msg) {
  if (gSpacing.count == 0 && SpacingLeft() == 0) {
    SendSetting(msg);
    return;
  }
  for (int i = 0; i < gSpacing.count; ++i)
    if (gSpacing.waiting[i] == msg)
      return;
  if (gSpacing.count == 3)
    return; // cannot happen: each of the three waits at most once
  gSpacing.waiting[gSpacing.count++] = msg;
  if (gSpacing.count == 1) {
    const UINT left = SpacingLeft();
    SetTimer(hwnd, kSettingSpacingTimer, left > 0 ? left : 1, nullptr);
  }
}

void OnSettingSpacingTimer(HWND hwnd) {
  KillTimer(hwnd, kSettingSpacingTimer);
  if (gSpacing.count == 0)
    return;
  const UINT msg = gSpacing.waiting[0];
  for (int i = 1; i < gSpacing.count; ++i)
    gSpacing.waiting[i - 1] = gSpacing.waiting[i];
  --gSpacing.count;
  SendSetting(msg);
  if (gSpacing.count > 0)
    SetTimer(hwnd, kSettingSpacingTimer, kSettingSpacingMs, nullptr);
}

void OnCreate(HWND hwnd, const CREATESTRUCTW *cs) {
  // Publish the handle before the reader thread exists, so that it never
  // sees the link without its window.
  if (auto *link = static_cast<LinkController *>(cs->lpCreateParams))
    link->typingWnd = hwnd;
  AppGlobals.typingWnd.store(hwnd);

  HANDLE thread = CreateThread(nullptr, 0, ReaderThread, cs->hInstance, 0, nullptr);
  if (!thread) {
    NKDbgPrintfW(u"Could not start the reader thread\r\n");
    DestroyWindow(AppGlobals.mainWindow);
    return;
  }
  // Kept: the end of the program waits for the thread (StopLink).
  if (auto *link = static_cast<LinkController *>(cs->lpCreateParams))
    link->readerThread = thread;
  else
    CloseHandle(thread);
}

void OnTimer(HWND hwnd, UINT_PTR id) {
  int32_t state = AppGlobals.linkState.load();
  switch (id) {
  case kHeartbeatTimer:
    KillTimer(hwnd, kHeartbeatTimer);
    // Calibration keeps the keyboard busy without heartbeats; an idle link
    // (a late expiry racing the disconnection) has nothing to close.
    if (state == LINK_CALIBRATING || state == LINK_IDLE || state == 0)
      break;
    // A disconnection the reader thread started meanwhile is not undone.
    if (AdvanceLinkState(state, LINK_DISCONNECTING))
      NKDbgPrintfW(u"Heartbeat timer expired\r\n");
    break;
  case kStatusPollTimer:
    if (state == LINK_CALIBRATING) {
      KillTimer(hwnd, kStatusPollTimer); // restarted when the calibration ends
      break;
    }
    SendPacket(kRequestSystemDataPacket);
    break;
  case kConnectionTimeoutTimer:
    KillTimer(hwnd, kConnectionTimeoutTimer);
    if (AdvanceLinkState(LINK_TYPING, LINK_DISCONNECTING))
      ForgetResumeReconnect(); // closed as the person chose, not lost
    break;
  case kResumeReconnectTimer:
    OnResumeReconnectWindowEnd(hwnd);
    break;
  case kSettingSpacingTimer:
    OnSettingSpacingTimer(hwnd);
    break;
  default:
    break;
  }
}

void OnToggleConnection() {
  // The person decides from now on; a link closed here stays closed.
  ForgetResumeReconnect();
  int32_t state = AppGlobals.linkState.load();
  if (state == LINK_IDLE && AppGlobals.connectRequested.load() == 0) {
    RequestConnection();
  } else if (state == LINK_IDLE) {
    // An attempt is under way between two ports of a search (or the port
    // is being opened): cancel it. The disconnection ends the attempt and
    // tells the main window; the reader thread is woken for it.
    if (AdvanceLinkState(LINK_IDLE, LINK_DISCONNECTING))
      SetEvent(AppGlobals.connectionEvent.load());
  } else if (state != 0) {
    // The reader thread is polling the port in every other state and sees
    // the new state when its current read returns (while typing, it is
    // woken from its wait for the next byte).
    AdvanceLinkState(state, LINK_DISCONNECTING);
  }
}

void OnSetConnectionTimeout(HWND hwnd, LPARAM lParam) {
  int32_t timeout = static_cast<int32_t>(lParam);
  AppGlobals.connectionTimeout.store(timeout);
  SettingsStore::WriteDword(u"Connection Timeout", timeout);
  if (timeout != 0)
    SetTimer(hwnd, kConnectionTimeoutTimer, static_cast<UINT>(timeout), nullptr);
  else
    KillTimer(hwnd, kConnectionTimeoutTimer); // "Never" must not let an older timer close the link
}

void OnLinkQuit() {
  ForgetResumeReconnect();
  WriteStatusText(UiString(kUiDisconnecting));
  PostToWindow(AppGlobals.mainWindow, WM_STATUS_TEXT_CHANGED);
  AppGlobals.linkState.store(LINK_DISCONNECTING);
  WakeLinkReader();
  SendPacket(kDisconnectPacket);
}

} // namespace

LRESULT TypingWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_CREATE:
    OnCreate(hwnd, reinterpret_cast<const CREATESTRUCTW *>(lParam));
    return 0;
  case WM_TIMER:
    OnTimer(hwnd, static_cast<UINT_PTR>(wParam));
    return 0;
  case WM_PAINT:
  case WM_COMMAND:
    return 0;
  case WM_TOGGLE_CONNECTION:
    OnToggleConnection();
    return 0;
  case WM_SET_KEYCLICKS:
    SettingsStore::WriteDword(u"Keyclicks", static_cast<int32_t>(lParam));
    return 0;
  case WM_START_HEARTBEAT:
    SetTimer(hwnd, kHeartbeatTimer, kHeartbeatPeriodMs, nullptr);
    return 0;
  case WM_START_STATUS_POLL:
    SetTimer(hwnd, kStatusPollTimer, kStatusPollPeriodMs, nullptr);
    return 0;
  case WM_CALIBRATE:
    // Only a typing link starts calibrating: a link closed or closing
    // meanwhile stays so.
    AdvanceLinkState(LINK_TYPING, LINK_CALIBRATING);
    return 0;
  case WM_RESUME_WITH_SETTINGS:
    // Only a live link goes back to typing: a link that was closed (or is
    // closing) meanwhile must stay closed, or it could never be connected
    // again. The push takes seconds; the state is checked again after it.
    if (!LinkIsLive())
      return 0;
    PushSettings();
    if (ResumeTyping())
      SendPacket(kTypingModePacket);
    return 0;
  case WM_END_CALIBRATION:
    if (!ResumeTyping())
      return 0;
    SendEndCalibration();
    return 0;
  case WM_BEGIN_CALIBRATION:
    SendBeginCalibration();
    return 0;
  case WM_PUSH_SETTINGS:
    PushSettings();
    return 0;
  case WM_SET_CONNECTION_TIMEOUT:
    OnSetConnectionTimeout(hwnd, lParam);
    return 0;
  case WM_SET_SENSITIVITY:
  case WM_SET_KEY_REPEAT_RATE:
  case WM_SET_KEY_REPEAT_DELAY:
    OnSettingRequest(hwnd, msg);
    return 0;
  case WM_LINK_QUIT:
    OnLinkQuit();
    return 0;
  case WM_MACHINE_SLEEP:
    OnMachineSleep(hwnd, wParam != 0);
    return 0;
  default:
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

void RequestConnection() {
  AppGlobals.connectRequested.store(1);
  SetEvent(AppGlobals.connectionEvent.load());
}

HANDLE StopLink(LinkController *link) {
  AppGlobals.linkStopping.store(1);
  int32_t state = AppGlobals.linkState.load();
  // A connection or an attempt at one (states 3 to 8) is to be closed; one
  // already closing (Quit) has told the keyboard.
  bool closing = false;
  while (state >= LINK_SYNCING && state != LINK_DISCONNECTING &&
         !(closing = AppGlobals.linkState.compare_exchange_weak(state, LINK_DISCONNECTING))) {
  }
  if (closing)
    WakeLinkReader();
  if (closing && AppGlobals.portHandle.load() != INVALID_HANDLE_VALUE)
    SendPacket(kDisconnectPacket);
  HANDLE event = AppGlobals.connectionEvent.load();
  if (event && event != INVALID_HANDLE_VALUE)
    SetEvent(event);
  return link ? link->readerThread : nullptr;
}

int CreateLinkController(LinkController *link, HINSTANCE instance, HWND parent) {
  WNDCLASSW cls{};
  cls.style = 0;
  cls.lpfnWndProc = TypingWndProc;
  cls.hInstance = instance;
  cls.hbrBackground = nullptr; // stock white brush; the window is never painted
  cls.lpszClassName = kClassName;
  RegisterClassW(&cls); // a second registration (tests) keeps the first

  // The window is never shown, so its rectangle only mirrors the parent's
  // client area; the platform offers no client rectangle query headless.
  RECT rect{0, 0, 0, 0};
  // Not a child: for an owned window the menu argument is a menu handle,
  // which must be null (Win32 refuses the window for any other value).
  HWND hwnd = CreateWindowExW(0, kClassName, nullptr, WS_DISABLED, rect.left, rect.top, rect.right,
                              rect.bottom, parent, nullptr, instance, link);
  if (!hwnd)
    return -1;
  if (link)
    link->typingWnd = hwnd;
  AppGlobals.typingWnd.store(hwnd);
  return 0;
}

// The reader thread and its connection state machine.
//
// The thread blocks on "ConnectionEvent" only in LinkState 1; in every other
// state it polls the port, and the read time-outs bound how long it takes to
// notice a state written by the user interface thread. While typing it
// sleeps between keys until a byte comes or the state changes. State changes that
// race with such a write use compare-and-swap, so that a disconnect request
// made while a step runs is never overwritten by the step's own result.
#include "link/reader_thread.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "keys/keycode_table.h"
#include "link/frame_actions.h"
#include "link/link_controller.h"
#include "link/link_state.h"
#include "link/packets.h"
#include "link/port_discovery.h"
#include "link/resume_reconnect.h"
#include "link/suspend_killer.h"
#include "platform/files.h"
#include "platform/inject.h"
#include "platform/power.h"
#include "platform/serial.h"
#include "platform/sound.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/trace.h"
#include "platform/window.h"

namespace {

constexpr DWORD kAfterOpenPauseMs = 2000;
constexpr DWORD kHandshakeReadPauseMs = 200;
constexpr DWORD kAfterDisconnectPauseMs = 2000;
constexpr int kSyncReadLimit = 10;
constexpr int kBlock = 12;
constexpr DWORD kSoundFlags = SND_RESOURCE | SND_ASYNC | SND_NOWAIT; // 0x42005
constexpr UINT kErrorBoxSmartphone = MB_ICONEXCLAMATION | MB_SETFOREGROUND; // 0x10030
constexpr UINT kErrorBoxPocketPc = MB_ICONEXCLAMATION | MB_TOPMOST;        // 0x40030

// The pauses of the state machine, cut short when the program ends: a pause
// only spaces out the steps of a link that is going on.
void Pause(DWORD milliseconds) {
  constexpr DWORD kSliceMs = 50;
  for (DWORD waited = 0; waited < milliseconds && !AppGlobals.linkStopping.load();
       waited += kSliceMs)
    Sleep(milliseconds - waited < kSliceMs ? milliseconds - waited : kSliceMs);
}

void ClosePort() {
  HANDLE port = AppGlobals.portHandle.exchange(INVALID_HANDLE_VALUE);
  if (port == INVALID_HANDLE_VALUE)
    return;
  // What this connection did not read stays on a tty after the close; the
  // next connection, maybe of the next run, must not find it.
  PurgeComm(port, PURGE_RXCLEAR);
  CloseHandle(port);
}

void ReleaseSuspendKiller() {
  SuspendKiller *killer = AppGlobals.suspendKiller;
  if (!killer)
    return;
  killer->Engage(false);
  delete killer;
  AppGlobals.suspendKiller = nullptr;
  // The injector's leave to type ends with the connection.
  InjectLinkChanged(false);
}

// The keyboard answered: from now on the machine stays awake.
void EngageSuspendKiller() {
  ReleaseSuspendKiller(); // at most one exists at a time
  AppGlobals.suspendKiller = new SuspendKiller();
  AppGlobals.suspendKiller->Engage(true);
  // An injector that needs the desktop's leave asks for it now.
  InjectLinkChanged(true);
}

// After the status frame: settings, idle time-out, connected notice.
// Returns false when a disconnect request arrived meanwhile.
bool CompleteHandshake() {
  SendSettingsAndTypingMode();
  int32_t timeout = SettingsStore::ReadNumber(Settings::kConnectionTimeout);
  AppGlobals.connectionTimeout.store(timeout);
  HWND wnd = AppGlobals.typingWnd.load();
  if (timeout != 0)
    SetTimer(wnd, kConnectionTimeoutTimer, static_cast<UINT>(timeout), nullptr);
  PostToWindow(AppGlobals.mainWindow, WM_LINK_PHASE, 1, 2);
  PlaySoundW(MAKEINTRESOURCEW(kSoundConnected), AppGlobals.hInstance, kSoundFlags);
  PostToWindow(wnd, WM_START_STATUS_POLL);
  // The start-up and the connection are done: what they freed goes back to
  // the system instead of staying with the program while it waits for keys.
  ReleaseFreedMemory();
  return AdvanceLinkState(LINK_HANDSHAKE, LINK_TYPING);
}

// A keyboard not seen before has connected: offer calibration.
//
// The box holds this thread, so no heartbeat is read while it is up: the
// heartbeat timer (and the idle time-out) would close a link that is alive
// while the person reads the question. Both stop for the question and start
// afresh with the answer. A disconnect meanwhile still wins over the answer;
// a Yes that finds the link closed keeps the offer (serialChanged stays 1)
// for the next connection, since the new serial number is stored already.
void AskForCalibration() {
  HWND wnd = AppGlobals.typingWnd.load();
  KillTimer(wnd, kHeartbeatTimer);
  KillTimer(wnd, kConnectionTimeoutTimer);
  int answer = AskWithVerbsW(AppGlobals.mainWindow, UiString(kUiAskCalibrateNewKeyboard),
                             UiString(kUiConnectionTitle), MB_ICONQUESTION, UiString(kUiVerbCalibrate),
                             UiString(kUiVerbNotNow));
  if (AppGlobals.linkState.load() == LINK_TYPING) {
    SetTimer(wnd, kHeartbeatTimer, kHeartbeatPeriodMs, nullptr);
    const int32_t timeout = AppGlobals.connectionTimeout.load();
    if (timeout != 0)
      SetTimer(wnd, kConnectionTimeoutTimer, static_cast<UINT>(timeout), nullptr);
  }
  if (answer != IDYES) {
    AppGlobals.serialChanged.store(0);
    return;
  }
  if (AdvanceLinkState(LINK_TYPING, LINK_CALIBRATING)) {
    AppGlobals.serialChanged.store(0);
    PostToWindow(AppGlobals.mainWindow, WM_CALIBRATE);
    return;
  }
  NKDbgPrintfW(u"Calibration offer kept for the next connection\r\n");
}

// Once the port's far side hangs up every read fails at once: the polling
// loops would spin until a timer noticed (the heartbeat timer never does
// while calibrating), so a lost port closes the link at once.
void OnPortLost(int32_t state) {
  if (AdvanceLinkState(state, LINK_DISCONNECTING))
    NKDbgPrintfW(u"Port lost\r\n");
}

} // namespace

void SyncStep() {
  int n = AppGlobals.syncAttempts++;
  if (n >= kSyncReadLimit) {
    AppGlobals.syncAttempts = 0;
    ClosePort();
    if (!AppGlobals.portAutoDetect.load()) {
      AdvanceLinkState(LINK_SYNCING, LINK_ERROR);
    } else if (AdvanceLinkState(LINK_SYNCING, LINK_IDLE)) {
      // The connect request is still pending: try the next port.
      SetEvent(AppGlobals.connectionEvent.load());
    }
    return;
  }
  switch (ReceiveBlock(kBlock).marker) {
  case RX_SYNC:
    ShowAttemptStatus(UiString(kUiKeyboardFound));
    SendPacket(kCalibrationOffPacket);
    break;
  case RX_HEARTBEAT:
  case RX_MARKER_FF:
    if (!AdvanceLinkState(LINK_SYNCING, LINK_HANDSHAKE))
      break;
    AppGlobals.syncAttempts = 0;
    if (AppGlobals.portAutoDetect.load()) {
      AppGlobals.portAutoDetect.store(0);
      SettingsStore::WriteString(u"COMPORT", AppGlobals.portName);
    }
    EngageSuspendKiller();
    break;
  default:
    break;
  }
}

void RunHandshake() {
  SendPacket(kHandshakeRequestPacket);
  for (int reads = 0;; ++reads) {
    if (AppGlobals.linkState.load() != LINK_HANDSHAKE)
      return; // a disconnect request: the disconnection runs next
    if (reads == kHandshakeReadLimit) {
      NKDbgPrintfW(u"Handshake: no status frame after %d reads\r\n", reads);
      AdvanceLinkState(LINK_HANDSHAKE, LINK_ERROR);
      return;
    }
    Sleep(kHandshakeReadPauseMs);
    int r = ReceiveBlock(kBlock).marker;
    if (r == RX_IDENTITY) {
      SendPacket(kRequestSystemDataPacket);
    } else if (r == RX_STATUS) {
      // Status codes 1, 2 and 8 end the connection before it starts.
      if (AppGlobals.linkState.load() != LINK_HANDSHAKE)
        return;
      if (!CompleteHandshake())
        return;
      break;
    }
  }
  // The question waits for a connection that completed; otherwise it is
  // kept for the next one.
  if (AppGlobals.serialChanged.load() == 1)
    AskForCalibration();
}

void RunDisconnection() {
  // Every attempt and every connection ends here: the request that started
  // it is done, so that the next request starts a new attempt (and a later
  // launch's connect request is not taken for one under way).
  AppGlobals.connectRequested.store(0);
  AppGlobals.linkState.store(LINK_IDLE);
  LeaveCalibrationBeforeDisconnect();
  SendPacket(kDisconnectPacket);
  HWND main = AppGlobals.mainWindow;
  SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(main) | 1));
  ShowWindow(GetFocus(), SW_SHOW);
  ReleaseSuspendKiller();
  if (AppGlobals.portHandle.load() != INVALID_HANDLE_VALUE) {
    ClosePort();
    PlaySoundW(MAKEINTRESOURCEW(kSoundDisconnected), AppGlobals.hInstance, kSoundFlags);
  }
  PostToWindow(main, WM_LINK_PHASE, 1, 0);
  PostToWindow(AppGlobals.openDialog.load(), WM_COMMAND, IDOK, 0);
  HWND wnd = AppGlobals.typingWnd.load();
  KillTimer(wnd, kHeartbeatTimer);
  KillTimer(wnd, kStatusPollTimer);
  KillTimer(wnd, kConnectionTimeoutTimer);
  Pause(kAfterDisconnectPauseMs);
  // Nobody is left to read a notice when the program is ending.
  if (AppGlobals.disconnectNoticePending.exchange(0) == 1 && !AppGlobals.linkStopping.load())
    MessageBoxW(main, UiString(kUiKeyboardDisconnected), UiString(kUiConnectionTitle), MB_OK);
  // A link lost to a sleep is connected again once the machine has resumed.
  ReconnectAfterResume();
}

void RunTyping() {
  AppGlobals.connectRequested.store(0);
  NKDbgPrintfW(u"TYPING\r\n");
  // Between keys the thread sleeps until a byte comes or linkState is
  // changed (WakeLinkReader), not a read time-out at a time: nothing can be
  // due for it meanwhile. The reads keep their time-outs. A port that
  // cannot wait so is read as before, one time-out after the other.
  bool waits = SetCommMask(AppGlobals.portHandle.load(), EV_RXCHAR) != FALSE;
  while (AppGlobals.linkState.load() == LINK_TYPING) {
    if (waits) {
      DWORD events = 0;
      if (!WaitCommEvent(AppGlobals.portHandle.load(), &events, nullptr))
        waits = false;
      else if (events == 0)
        continue; // woken: look at the state again
    }
    if (ReceiveBlock(1).portLost)
      OnPortLost(LINK_TYPING);
  }
}

void RunCalibration() {
  while (AppGlobals.linkState.load() == LINK_CALIBRATING) {
    BlockResult r = ReceiveBlock(kBlock);
    if (r.portLost)
      OnPortLost(LINK_CALIBRATING);
    if (r.marker == RX_CALIBRATION_FAILED && AdvanceLinkState(LINK_CALIBRATING, LINK_TYPING)) {
      PostToWindow(AppGlobals.calibrationDialog.load(), WM_CALIBRATION_FAILED);
      SendCalibrationFailed();
    }
  }
  // Whatever ended the loop, the keyboard leaves calibration mode. The loop
  // ends only once the state has left calibration: back to typing (the
  // dialog ended it, or the failure marker) or a disconnect request, which
  // is honoured after this instead of going back to typing. The state is
  // left as it is, so a disconnect request made meanwhile is never lost.
  SendLeaveCalibration();
}

void ShowConnectError() {
  AppGlobals.connectRequested.store(0);
  if (AppGlobals.isSmartphone == 1)
    MessageBoxW(AppGlobals.calibrationDialog.load(), UiString(kUiConnectFailedPhone),
                UiString(kUiConnectionTitle), kErrorBoxSmartphone);
  else
    MessageBoxW(AppGlobals.mainWindow, UiString(kUiConnectFailed), UiString(kUiConnectionTitle),
                kErrorBoxPocketPc);
  AppGlobals.linkState.store(LINK_DISCONNECTING);
}

DWORD ReaderThread(LPVOID) {
  AppGlobals.connectionEvent.store(INVALID_HANDLE_VALUE);
  PostToWindow(AppGlobals.mainWindow, WM_LINK_PHASE, 0, 0);
  // The power manager owns the time-out key that SuspendKiller opens; it must
  // be running before a keyboard can connect.
  StartPowerManager();
  // A run that ended while connected left the machine kept awake.
  RestoreAbandonedTimeouts();
  if (!loadKeycodeFile(AppGlobals.link ? AppGlobals.link->askForLayout : nullptr))
    return 0; // the message has been shown; the connect button stays disabled
  AppGlobals.linkState.store(LINK_IDLE);
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, u"ConnectionEvent");
  if (!event) {
    NKDbgPrintfW(u"ConnectionEvent could not be created; the link stays off\r\n");
    return 0;
  }
  AppGlobals.connectionEvent.store(event);
  if (AppGlobals.link)
    AppGlobals.link->connectionEvent = event;
  PostToWindow(AppGlobals.mainWindow, WM_LINK_PHASE, 1, 0);

  // StopLink sets linkStopping and then the event (once it exists): the
  // flag is looked at before every wait and after it.
  while (!AppGlobals.linkStopping.load()) {
    WaitForSingleObject(event, INFINITE);
    if (AppGlobals.linkStopping.load())
      break;
    switch (AppGlobals.linkState.load()) {
    case LINK_IDLE:
      if (AppGlobals.connectRequested.load() == 1) {
        OpenPort();
        Pause(kAfterOpenPauseMs);
      }
      break;
    case LINK_SYNCING:
      SyncStep();
      break;
    case LINK_HANDSHAKE:
      RunHandshake();
      break;
    case LINK_DISCONNECTING:
      RunDisconnection();
      break;
    case LINK_TYPING:
      RunTyping();
      break;
    case LINK_CALIBRATING:
      RunCalibration();
      break;
    case LINK_ERROR:
      ShowConnectError();
      break;
    default:
      break;
    }
    if (AppGlobals.linkState.load() != LINK_IDLE)
      SetEvent(event);
  }
  // The program is ending: a connection (or an attempt with its port open)
  // is closed as a disconnection closes it, so the keyboard hears DISCONNECT
  // and the machine may sleep again.
  if (AppGlobals.linkState.load() != LINK_IDLE ||
      AppGlobals.portHandle.load() != INVALID_HANDLE_VALUE || AppGlobals.suspendKiller)
    RunDisconnection();
  NKDbgPrintfW(u"Reader thread ended\r\n");
  return 0;
}

// The reader thread: owns the connection to the keyboard. It loads the
// layout, then runs the connection state machine for the rest of the
// process: waits for a connect request, opens the port, waits for the
// keyboard's sync and heartbeat, handshakes, reads key bytes while the user
// types, runs calibration and closes the link again. The state lives in
// AppGlobals.linkState; TypingWnd changes it too and the thread acts on it.
#pragma once

#include "platform/wintypes.h"

// Reads a 12-byte block this many times at most while waiting for the
// keyboard's status frame in the handshake (about 39 s when the keyboard
// sends nothing at all, 200 ms pause plus a 2410 ms read each); then the
// attempt ends in LinkState 8, the "could not connect" message.
constexpr int kHandshakeReadLimit = 15;

// Thread entry, started by TypingWnd's WM_CREATE; the argument is not used.
// At its start it puts back power time-outs that an earlier run left at 0
// (RestoreAbandonedTimeouts). Returns 0 early when the layout could not be
// loaded (or the connection event could not be made): the link then never
// starts in this run. Otherwise it returns once StopLink has asked, after
// closing a connection as a disconnection does.
DWORD ReaderThread(LPVOID instance);

// The steps of the state machine, one pass each; reader thread only.
void SyncStep();       // LinkState 3
void RunHandshake();   // LinkState 4, including the calibration question
void RunDisconnection(); // LinkState 5
void RunTyping();      // LinkState 6
void RunCalibration(); // LinkState 7
void ShowConnectError(); // LinkState 8

// Connecting the keyboard again after the machine resumes from sleep. A
// suspend ends the radio link; a link that was connected when the machine
// went to sleep is connected again once it has resumed, as if the person had
// pressed Connect. A link the person closed (or never opened) stays closed.
//
// The machine's sleep reaches TypingWnd as WM_MACHINE_SLEEP (the platform's
// sleep watch). At the resume the link is often not yet known to be dead: it
// still looks connected until its port reports the hang-up or the heartbeat
// timer expires. So the wish to connect again is kept from the resume until
// the link next closes by itself (then the reader thread connects), for at
// most kResumeReconnectWindowMs (the kResumeReconnectTimer of TypingWnd):
// a link still alive after that outlived the sleep and is left as it is.
// State: AppGlobals.connectedAtSleep and reconnectAfterResume.
#pragma once

#include "platform/wintypes.h"

// TypingWnd's WM_MACHINE_SLEEP. sleeping: notes whether the link is
// connected (typing or calibrating; a wish to connect again that is still
// pending counts as connected). Resumed: when it was, connects at once if the
// link is idle with no attempt under way, else keeps the wish and starts the
// window's timer on typingWnd; an attempt already under way is left alone.
void OnMachineSleep(HWND typingWnd, bool sleeping);

// The person opened or closed the link (Connect, Disconnect, Quit, the
// connection time-out, the keyboard's own off switch): no connecting again.
void ForgetResumeReconnect();

// TypingWnd's kResumeReconnectTimer: the window has passed.
void OnResumeReconnectWindowEnd(HWND typingWnd);

// The reader thread, at the end of every disconnection: when a wish to
// connect again is pending (and the program is not ending), takes it and
// starts a connection as the Connect button does. Returns true when it did.
bool ReconnectAfterResume();

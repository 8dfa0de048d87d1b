// One running instance per user and settings database, across processes,
// and the requests a later launch hands to the running one.
#pragma once

// Claims the instance for this process. Returns true when this process is
// the first; false when another runs: it has been asked to come forward (or
// to connect, after RequestConnectAtStart) and this launch should end with
// exit code 0. Without the desktop toolkit there is nothing to claim (true).
bool ClaimInstance();
// --quit: asks the running instance to quit as its Quit soft key does
// (disconnecting the keyboard first). Returns true when one was running and
// has been asked; false when none runs (nothing is started).
bool AskRunningInstanceToQuit();
// Lets go of the claim, so that a restart of the program can take it.
void ReleaseInstance();

// --connect: ask the link to connect as soon as it is ready, if it is not
// connected. Handed to the running instance when there is one.
void RequestConnectAtStart();
// A connect request (this launch's or a later one's): posts
// WM_TOGGLE_CONNECTION now when the link is ready and idle, else once the
// link next reports itself ready. Dropped when the keyboard is connected or
// connecting.
void RequestConnect();
// The main window's view of the link (each WM_LINK_PHASE), for pending
// connect requests.
void ConnectRequestOnLinkPhase(unsigned buttonState, long phase);

// Windows build: a named mutex per user session claims the instance; a
// later launch hands its request to the first through a message-only
// window of the same name (WM_COPYDATA).
//
// One running instance per user, across processes: the first instance
// listens on a per-user local socket; a later launch hands its request to it
// and ends. Needs VantrelQtInit first (the socket is served by the toolkit's
// event loop on the user-interface thread).
#pragma once

// Windows has no user numbers; instance names carry 0 (the session's own
// namespace keeps users apart).
inline unsigned getuid() { return 0; }

// Requests a second launch can hand over.
#define SINGLE_INSTANCE_SHOW "show"
#define SINGLE_INSTANCE_CONNECT "connect"

// True when this process is the first instance: it now owns the socket (a
// socket left behind by a crashed instance is taken over). False when
// another instance of this user runs: the request ("show" or "connect") has
// been handed to it, and the caller should exit with code 0. This instance
// runs on alone (true, without the check) when the socket can be neither
// claimed nor reached, when its folder is not the user's private folder, or
// when another user's listener answers on it; stderr and the trace say why.
// The socket lives in $XDG_RUNTIME_DIR, else in /tmp/vantrel-<uid> (created
// with mode 0700; when that folder is not the user's private one, in
// ~/.cache/vantrel/run instead, see UserRuntimeFolder), beside the file
// <socket>.lock that the first instance holds locked while it runs: a socket file whose lock is free is a crashed
// instance's and is replaced; while the lock is held and nobody answers yet
// (that instance is starting), the launch asks again for up to 2 s. Requests
// from other users are refused, with a trace; a request line is at most 255
// bytes.
bool SingleInstanceClaim(const char *request = SINGLE_INSTANCE_SHOW);
// The same on a socket of the given name: a name without a slash lives in
// the folder above, a path is used as it stands (its folder must be the
// user's and private too).
bool SingleInstanceClaimNamed(const char *name, const char *request);
// Stops listening (the next launch becomes the first instance).
void SingleInstanceRelease();

// Called on the user-interface thread with each request a later launch hands
// over. Without a handler, "show" brings forward the oldest top-level window
// (with its owned windows) and shows it; other requests are ignored.
typedef void (*SingleInstanceHandler)(const char *request, void *context);
void SetSingleInstanceHandler(SingleInstanceHandler handler, void *context);

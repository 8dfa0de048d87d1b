// One running instance per user, across processes: the first instance
// listens on a per-user local socket; a later launch hands its request to it
// and ends. Needs VantrelQtInit first (the socket is served by the toolkit's
// event loop on the user-interface thread).
#pragma once

// Requests a second launch can hand over.
#define SINGLE_INSTANCE_SHOW "show"
#define SINGLE_INSTANCE_CONNECT "connect"

// True when this process is the first instance: it now owns the socket (a
// socket left behind by a crashed instance is taken over). False when
// another instance runs: the request ("show" or "connect") has been handed to
// it, and the caller should exit with code 0. When the socket can be neither
// claimed nor reached, this instance runs on alone (true).
bool SingleInstanceClaim(const char *request = SINGLE_INSTANCE_SHOW);
// The same on a socket of the given name (for tests and tools).
bool SingleInstanceClaimNamed(const char *name, const char *request);
// Stops listening (the next launch becomes the first instance).
void SingleInstanceRelease();

// Called on the user-interface thread with each request a later launch hands
// over. Without a handler, "show" brings forward the oldest top-level window
// (with its owned windows) and shows it; other requests are ignored.
typedef void (*SingleInstanceHandler)(const char *request, void *context);
void SetSingleInstanceHandler(SingleInstanceHandler handler, void *context);

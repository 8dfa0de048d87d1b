// The calling thread's message queue, for tests that play the program's
// user-interface thread without running its loop. Nothing here needs the
// desktop toolkit.
#pragma once

namespace testsupport {

// Dispatches every queued message and due timer of the calling thread;
// false when the quit message was among them.
bool PumpMessages();
// Takes every queued message off the calling thread's queue without
// dispatching it (what an earlier test left behind, or a long run's pile).
void DiscardMessages();

} // namespace testsupport

// Injection backends are never freed: a call already on its way from the
// injecting thread may still reach a backend after it was closed. Each open
// backend is recorded here, in a list that lives as long as the process, so
// it stays reachable (and out of leak reports) for the whole run.
#pragma once

// Records backend (not owned: it is simply never freed).
void KeepBackend(const void *backend);

// System libraries a backend loads with dlopen when it is first chosen, so
// that a run using another backend never maps them: the one place that
// opens them, looks up their calls and says why one is missing.
#pragma once

#include <mutex>
#include <string>

// Opens soname for the rest of the process (never closed): the handle, or
// nullptr with *why set to "<soname> cannot be loaded: <reason>".
void *OpenSharedLibrary(const char *soname, std::string *why);

// Looks name up in handle (opened as soname): the address, or nullptr with
// *why set to "<soname> has no <name>".
void *FindSharedSymbol(void *handle, const char *soname, const char *name, std::string *why);

// The same, into a pointer of the call's type: false when it is missing.
template <typename F>
bool FindSharedCall(void *handle, const char *soname, const char *name, F *out, std::string *why) {
  *out = reinterpret_cast<F>(FindSharedSymbol(handle, soname, name, why));
  return *out != nullptr;
}

// A library's calls, loaded once for the process by LoadSharedOnce.
struct SharedLibraryLoad {
  std::once_flag once;
  bool loaded = false;
  std::string why; // why it could not be loaded
};

// Closes a library whose calls were not all there.
void CloseSharedLibrary(void *handle);
// Traces why a library could not be loaded: "<tracePrefix>: <why>".
void TraceSharedLibraryFailure(const char *tracePrefix, const std::string &why);

// The first time: opens soname and runs find(handle, table, why), which
// fills *table with FindSharedCall and says whether every call was there;
// a failure is traced (prefixed with tracePrefix) and the library closed.
// Every time: table when that succeeded, else nullptr with *why (when not
// null) set. Any thread.
template <typename Table>
const Table *LoadSharedOnce(SharedLibraryLoad &state, const char *soname, const char *tracePrefix,
                            Table *table, bool (*find)(void *, Table *, std::string *),
                            std::string *why) {
  std::call_once(state.once, [&] {
    void *handle = OpenSharedLibrary(soname, &state.why);
    state.loaded = handle && find(handle, table, &state.why);
    if (!state.loaded) {
      TraceSharedLibraryFailure(tracePrefix, state.why);
      if (handle)
        CloseSharedLibrary(handle);
    }
  });
  if (!state.loaded && why)
    *why = state.why;
  return state.loaded ? table : nullptr;
}

// Loading system libraries on demand (see shared_library.h).
#include "platform/core/shared_library.h"

#include "platform/trace.h"

#include <dlfcn.h>

void *OpenSharedLibrary(const char *soname, std::string *why) {
  void *handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char *error = dlerror();
    *why = std::string(soname) + " cannot be loaded: " + (error ? error : "not found");
  }
  return handle;
}

void *FindSharedSymbol(void *handle, const char *soname, const char *name, std::string *why) {
  void *found = dlsym(handle, name);
  if (!found)
    *why = std::string(soname) + " has no " + name;
  return found;
}

void CloseSharedLibrary(void *handle) { dlclose(handle); }

void TraceSharedLibraryFailure(const char *tracePrefix, const std::string &why) {
  PlatformTrace("%s: %s", tracePrefix, why.c_str());
}

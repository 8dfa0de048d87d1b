// Loading libXtst on demand (see xtest_library.h).
#include "platform/xtest/xtest_library.h"

#include "platform/trace.h"

#include <dlfcn.h>
#include <mutex>

namespace {

std::once_flag gOnce;
XTestLibrary gLibrary{};
const XTestLibrary *gLoaded = nullptr;
std::string gWhy;

template <typename F> bool Find(void *handle, const char *name, F *out) {
  *out = reinterpret_cast<F>(dlsym(handle, name));
  if (!*out)
    gWhy = std::string("libXtst has no ") + name;
  return *out != nullptr;
}

void Load() {
  void *handle = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char *error = dlerror();
    gWhy = std::string("libXtst cannot be loaded: ") + (error ? error : "not found");
    PlatformTrace("inject: %s", gWhy.c_str());
    return;
  }
  XTestLibrary &l = gLibrary;
  bool all = Find(handle, "XTestQueryExtension", &l.queryExtension) &&
             Find(handle, "XTestFakeKeyEvent", &l.fakeKeyEvent) &&
             Find(handle, "XTestGrabControl", &l.grabControl);
  if (!all) {
    PlatformTrace("inject: %s", gWhy.c_str());
    dlclose(handle);
    return;
  }
  gLoaded = &gLibrary; // the handle stays open for the process
}

} // namespace

const XTestLibrary *LoadXTestLibrary(std::string *why) {
  std::call_once(gOnce, Load);
  if (!gLoaded && why)
    *why = gWhy;
  return gLoaded;
}

// Loading libevdev on demand (see evdev_library.h).
#include "platform/uinput/evdev_library.h"

#include "platform/trace.h"

#include <dlfcn.h>
#include <mutex>

namespace {

std::once_flag gOnce;
EvdevLibrary gLibrary{};
const EvdevLibrary *gLoaded = nullptr;
std::string gWhy;

template <typename F> bool Find(void *handle, const char *name, F *out) {
  *out = reinterpret_cast<F>(dlsym(handle, name));
  if (!*out)
    gWhy = std::string("libevdev has no ") + name;
  return *out != nullptr;
}

void Load() {
  void *handle = dlopen("libevdev.so.2", RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char *error = dlerror();
    gWhy = std::string("libevdev cannot be loaded: ") + (error ? error : "not found");
    PlatformTrace("inject: %s", gWhy.c_str());
    return;
  }
  EvdevLibrary &l = gLibrary;
  bool all = Find(handle, "libevdev_new", &l.newDevice) &&
             Find(handle, "libevdev_set_name", &l.setName) &&
             Find(handle, "libevdev_set_id_bustype", &l.setIdBustype) &&
             Find(handle, "libevdev_enable_event_type", &l.enableEventType) &&
             Find(handle, "libevdev_enable_event_code", &l.enableEventCode) &&
             Find(handle, "libevdev_uinput_create_from_device", &l.uinputCreateFromDevice) &&
             Find(handle, "libevdev_free", &l.freeDevice) &&
             Find(handle, "libevdev_uinput_get_devnode", &l.uinputGetDevnode) &&
             Find(handle, "libevdev_uinput_destroy", &l.uinputDestroy);
  if (!all) {
    PlatformTrace("inject: %s", gWhy.c_str());
    dlclose(handle);
    return;
  }
  gLoaded = &gLibrary; // the handle stays open for the process
}

} // namespace

const EvdevLibrary *LoadEvdevLibrary(std::string *why) {
  std::call_once(gOnce, Load);
  if (!gLoaded && why)
    *why = gWhy;
  return gLoaded;
}

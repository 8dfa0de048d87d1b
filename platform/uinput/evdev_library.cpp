// Loading libevdev on demand (see evdev_library.h).
#include "platform/uinput/evdev_library.h"

#include "platform/core/shared_library.h"

namespace {

constexpr const char *kEvdevSoname = "libevdev.so.2";

bool FindEvdevCalls(void *handle, EvdevLibrary *l, std::string *why) {
  auto find = [&](const char *name, auto *out) {
    return FindSharedCall(handle, kEvdevSoname, name, out, why);
  };
  return find("libevdev_new", &l->newDevice) && find("libevdev_set_name", &l->setName) &&
         find("libevdev_set_id_bustype", &l->setIdBustype) &&
         find("libevdev_enable_event_type", &l->enableEventType) &&
         find("libevdev_enable_event_code", &l->enableEventCode) &&
         find("libevdev_uinput_create_from_device", &l->uinputCreateFromDevice) &&
         find("libevdev_free", &l->freeDevice) &&
         find("libevdev_uinput_get_devnode", &l->uinputGetDevnode) &&
         find("libevdev_uinput_destroy", &l->uinputDestroy);
}

SharedLibraryLoad gEvdevLoad;
EvdevLibrary gEvdevLibrary{};

} // namespace

const EvdevLibrary *LoadEvdevLibrary(std::string *why) {
  return LoadSharedOnce(gEvdevLoad, kEvdevSoname, "inject", &gEvdevLibrary, FindEvdevCalls, why);
}

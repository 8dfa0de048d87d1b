// libevdev, opened with dlopen when the uinput backend is chosen, so that a
// run typing through another backend never loads it. Only the calls the
// backend makes are looked up.
#pragma once

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <string>

struct EvdevLibrary {
  libevdev *(*newDevice)();
  void (*setName)(libevdev *dev, const char *name);
  void (*setIdBustype)(libevdev *dev, int bustype);
  int (*enableEventType)(libevdev *dev, unsigned int type);
  int (*enableEventCode)(libevdev *dev, unsigned int type, unsigned int code, const void *data);
  int (*uinputCreateFromDevice)(const libevdev *dev, int uinputFd, libevdev_uinput **out);
  void (*freeDevice)(libevdev *dev);
  const char *(*uinputGetDevnode)(libevdev_uinput *uinputDev);
  void (*uinputDestroy)(libevdev_uinput *uinputDev);
};

// The library's calls, loaded at the first call and kept for the process
// (never unloaded); nullptr, with why set and a trace line, when the library
// or one of its calls is missing. Any thread.
const EvdevLibrary *LoadEvdevLibrary(std::string *why);

// Loads the PulseAudio client library with dlopen and looks up the
// functions the audio output calls.
#include "platform/sound/pulse_library.h"

#include <dlfcn.h>

const PulseLibrary *LoadPulseLibrary(const char *soname, std::string *why) {
  void *handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char *error = dlerror();
    *why = error ? error : soname;
    return nullptr;
  }
  auto *library = new PulseLibrary; // kept for the process's life, as the library
#define VANTREL_PULSE_LOOKUP(name)                                                                \
  library->name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                      \
  if (!library->name) {                                                                            \
    *why = std::string(soname) + " lacks " #name;                                                  \
    delete library;                                                                                \
    dlclose(handle);                                                                               \
    return nullptr;                                                                                \
  }
  VANTREL_PULSE_FUNCTIONS(VANTREL_PULSE_LOOKUP)
#undef VANTREL_PULSE_LOOKUP
  return library;
}

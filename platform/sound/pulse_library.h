// The PulseAudio client library, loaded when the first sound is played
// rather than linked: a run that plays no sound (key clicks off, never
// connected) maps none of it nor the codec libraries it pulls in.
#pragma once

#include <pulse/pulseaudio.h>

#include <string>

// Every function of the library the audio output calls, under its own name.
#define VANTREL_PULSE_FUNCTIONS(X)                                                                \
  X(pa_mainloop_new)                                                                               \
  X(pa_mainloop_get_api)                                                                           \
  X(pa_mainloop_iterate)                                                                           \
  X(pa_mainloop_wakeup)                                                                            \
  X(pa_mainloop_free)                                                                              \
  X(pa_context_new)                                                                                \
  X(pa_context_connect)                                                                            \
  X(pa_context_get_state)                                                                          \
  X(pa_context_errno)                                                                              \
  X(pa_context_play_sample)                                                                        \
  X(pa_context_disconnect)                                                                         \
  X(pa_context_unref)                                                                              \
  X(pa_stream_new)                                                                                 \
  X(pa_stream_connect_upload)                                                                      \
  X(pa_stream_get_state)                                                                           \
  X(pa_stream_writable_size)                                                                       \
  X(pa_stream_write)                                                                               \
  X(pa_stream_finish_upload)                                                                       \
  X(pa_stream_unref)                                                                               \
  X(pa_operation_unref)                                                                            \
  X(pa_sample_spec_valid)                                                                          \
  X(pa_strerror)

struct PulseLibrary {
#define VANTREL_PULSE_POINTER(name) decltype(&::name) name = nullptr;
  VANTREL_PULSE_FUNCTIONS(VANTREL_PULSE_POINTER)
#undef VANTREL_PULSE_POINTER
};

// The library loaded from `soname` with every function above found.
// Returns a table that stays valid for the process's life (the library is
// never unloaded), or nullptr with the reason in *why (library missing, or
// a function missing from it: then it is unloaded again).
const PulseLibrary *LoadPulseLibrary(const char *soname, std::string *why);

// The library's usual name on the system.
constexpr char kPulseSoname[] = "libpulse.so.0";

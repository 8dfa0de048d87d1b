// The audio output on PulseAudio (or a server that speaks its protocol). A
// thread started at first use connects, uploads the three sounds into the
// server's sample cache once, and then plays a cached sample for each
// request: playing is one small message to the server, started the moment a
// request arrives, and overlapping sounds are mixed by the server. Requests
// are bits in one atomic word, set by PlaySoundW and taken by the thread,
// which pa_mainloop_wakeup interrupts. The client library is loaded by that
// thread (pulse_library.h), so nothing of it is mapped before the first
// sound, and only once a server's socket answers (sound_server.h): the
// library and its decoders cannot be unloaded again, so a run without a
// sound server never maps them. Without the library or a server the thread
// says so in one trace line and ends; requests are dropped from then on.
#include "platform/sound/sound_output.h"

#include "platform/core/counted_thread.h"
#include "platform/sound/pulse_library.h"
#include "platform/sound/sound_server.h"

#include "platform/sound.h"
#include "platform/trace.h"
#include "platform/window.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr int kSoundCount = 3;
constexpr uint16_t kIds[kSoundCount] = {kSoundKeyClick, kSoundConnected, kSoundDisconnected};
const char *const kSampleNames[kSoundCount] = {"vantrel-139", "vantrel-140", "vantrel-141"};

std::once_flag gStartOnce;
// The sound library, loaded by the audio thread before it publishes gLoop.
const PulseLibrary *gPulse = nullptr;
std::atomic<uint32_t> gPending{0};         // one bit per sound index
std::atomic<pa_mainloop *> gLoop{nullptr}; // set while the thread serves requests
std::atomic<bool> gSilent{false};
std::atomic<bool> gStopping{false};
std::thread *gThread = nullptr; // never deleted: joined by StopSoundOutput
// Never destroyed: the audio thread may still be leaving Run when the
// process's static objects are destroyed at exit.
std::mutex &gEndMutex = *new std::mutex;
std::condition_variable &gEndCv = *new std::condition_variable;
bool gEnded = false; // under gEndMutex: Run has returned

struct Upload {
  pa_stream *stream = nullptr;
  const uint8_t *data = nullptr;
  size_t size = 0;
  size_t written = 0;
  bool done = false;
};

// The PCM samples and format of a WAVE file held in memory. Returns false
// for anything but 16-bit PCM.
bool ParseWave(const uint8_t *p, size_t n, pa_sample_spec &spec, const uint8_t *&data, size_t &size) {
  if (n < 12 || memcmp(p, "RIFF", 4) != 0 || memcmp(p + 8, "WAVE", 4) != 0)
    return false;
  bool haveFormat = false;
  for (size_t at = 12; at + 8 <= n;) {
    uint32_t len = p[at + 4] | p[at + 5] << 8 | p[at + 6] << 16 | uint32_t(p[at + 7]) << 24;
    const uint8_t *body = p + at + 8;
    if (len > n - at - 8)
      return false;
    if (memcmp(p + at, "fmt ", 4) == 0 && len >= 16) {
      uint16_t format = body[0] | body[1] << 8;
      uint16_t channels = body[2] | body[3] << 8;
      uint32_t rate = body[4] | body[5] << 8 | body[6] << 16 | uint32_t(body[7]) << 24;
      uint16_t bits = body[14] | body[15] << 8;
      if (format != 1 || bits != 16 || channels == 0)
        return false;
      spec = pa_sample_spec{PA_SAMPLE_S16LE, rate, static_cast<uint8_t>(channels)};
      haveFormat = gPulse->pa_sample_spec_valid(&spec);
    } else if (memcmp(p + at, "data", 4) == 0 && haveFormat) {
      data = body;
      size = len;
      return true;
    }
    at += 8 + len + (len & 1);
  }
  return false;
}

void BeginUploads(pa_context *ctx, Upload (&uploads)[kSoundCount]) {
  for (int i = 0; i < kSoundCount; ++i) {
    Upload &u = uploads[i];
    u.done = true; // unless it starts below
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(kIds[i]), u"WAVE");
    const auto *bytes = static_cast<const uint8_t *>(LockResource(LoadResource(nullptr, res)));
    pa_sample_spec spec{};
    if (!bytes || !ParseWave(bytes, SizeofResource(nullptr, res), spec, u.data, u.size) || u.size == 0) {
      PlatformTrace("sound: WAVE resource %u is not 16-bit PCM; it stays silent", kIds[i]);
      continue;
    }
    u.stream = gPulse->pa_stream_new(ctx, kSampleNames[i], &spec, nullptr);
    if (u.stream && gPulse->pa_stream_connect_upload(u.stream, u.size) == 0)
      u.done = false;
  }
}

// Writes what the server will take of each upload and finishes it. Returns
// true when every upload has ended.
bool ContinueUploads(Upload (&uploads)[kSoundCount]) {
  bool all = true;
  for (Upload &u : uploads) {
    if (u.done)
      continue;
    pa_stream_state_t state = gPulse->pa_stream_get_state(u.stream);
    if (state == PA_STREAM_READY && u.written < u.size) {
      size_t room = gPulse->pa_stream_writable_size(u.stream);
      size_t n = std::min(room == static_cast<size_t>(-1) ? 0 : room, u.size - u.written);
      if (n > 0 && gPulse->pa_stream_write(u.stream, u.data + u.written, n, nullptr, 0, PA_SEEK_RELATIVE) == 0)
        u.written += n;
      if (u.written == u.size)
        gPulse->pa_stream_finish_upload(u.stream);
    } else if (state == PA_STREAM_TERMINATED || state == PA_STREAM_FAILED) {
      u.done = true;
      gPulse->pa_stream_unref(u.stream);
      u.stream = nullptr;
    }
    all = all && u.done;
  }
  return all;
}

void GoSilent(const char *why) {
  gSilent.store(true);
  gPending.store(0);
  PlatformTrace("sound: no audio output (%s); sounds are silent", why);
}

void RunOutput();

void Run() {
  RunOutput();
  std::lock_guard<std::mutex> lock(gEndMutex);
  gEnded = true;
  gEndCv.notify_all();
}

void RunOutput() {
  std::string why;
  if (!SoundServerMayAnswer(&why)) {
    why = "no sound server answers at " + why;
    GoSilent(why.c_str());
    return;
  }
  gPulse = LoadPulseLibrary(kPulseSoname, &why);
  if (!gPulse) {
    GoSilent(why.c_str());
    return;
  }
  PlatformTrace("sound: loaded %s", kPulseSoname);
  pa_mainloop *loop = gPulse->pa_mainloop_new();
  pa_context *ctx = loop ? gPulse->pa_context_new(gPulse->pa_mainloop_get_api(loop), "Vantrel") : nullptr;
  if (!ctx || gPulse->pa_context_connect(ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    GoSilent(ctx ? gPulse->pa_strerror(gPulse->pa_context_errno(ctx)) : "no sound library");
    if (ctx)
      gPulse->pa_context_unref(ctx);
    if (loop)
      gPulse->pa_mainloop_free(loop);
    return;
  }
  // The loop stays allocated for the whole process once published, so a
  // PlaySoundW racing the end of the thread still wakes a valid loop.
  gLoop.store(loop);
  Upload uploads[kSoundCount];
  bool uploading = false, ready = false;
  while (!gStopping.load()) {
    if (gPulse->pa_mainloop_iterate(loop, 1, nullptr) < 0)
      break;
    pa_context_state_t state = gPulse->pa_context_get_state(ctx);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
      GoSilent(gPulse->pa_strerror(gPulse->pa_context_errno(ctx)));
      break;
    }
    if (state != PA_CONTEXT_READY)
      continue;
    if (!uploading) {
      BeginUploads(ctx, uploads);
      uploading = true;
    }
    if (!ready && (ready = ContinueUploads(uploads)))
      PlatformTrace("sound: output ready");
    if (!ready)
      continue; // requests wait until the samples are in the server
    uint32_t pending = gPending.exchange(0);
    for (int i = 0; i < kSoundCount; ++i)
      if (pending & (1u << i))
        if (pa_operation *op =
                gPulse->pa_context_play_sample(ctx, kSampleNames[i], nullptr, PA_VOLUME_NORM, nullptr, nullptr))
          gPulse->pa_operation_unref(op);
  }
  gLoop.store(nullptr);
  gPulse->pa_context_disconnect(ctx);
  gPulse->pa_context_unref(ctx);
}

} // namespace

int SoundIndex(uint16_t resourceId) {
  for (int i = 0; i < kSoundCount; ++i)
    if (kIds[i] == resourceId)
      return i;
  return -1;
}

void StartSoundOutput() {
  std::call_once(gStartOnce, [] {
    std::lock_guard<std::mutex> lock(gEndMutex);
    if (!gStopping.load()) // the program is ending: no thread to stop again
      gThread = new std::thread(StartCountedThread(Run));
  });
}

bool StopSoundOutput(unsigned timeoutMs) {
  std::unique_lock<std::mutex> lock(gEndMutex);
  gStopping.store(true);
  if (!gThread)
    return true;
  if (pa_mainloop *loop = gLoop.load())
    gPulse->pa_mainloop_wakeup(loop);
  if (!gEndCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return gEnded; })) {
    PlatformTrace("sound: the audio thread did not end in %u ms", timeoutMs);
    return false;
  }
  lock.unlock();
  if (gThread->joinable())
    gThread->join();
  return true;
}

void SoundOutputPlay(int index) {
  StartSoundOutput();
  if (gSilent.load(std::memory_order_relaxed) || index < 0 || index >= kSoundCount)
    return;
  gPending.fetch_or(1u << index);
  if (pa_mainloop *loop = gLoop.load())
    gPulse->pa_mainloop_wakeup(loop);
}

// The `log` injection backend (see log_backend.h).
#include "platform/log/log_backend.h"

#include "platform/core/private_paths.h"
#include "platform/inject/kept_backends.h"
#include "platform/trace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

struct LogBackend {
  InjectOps ops;
  FILE *out;
  bool ownsFile;
  bool closed = false;
  std::mutex mutex;
};

void AppendNumber(std::string &line, const char *name, long long value) {
  line += ",\"";
  line += name;
  line += "\":";
  line += std::to_string(value);
}

void AppendList(std::string &line, const char *name, const UINT *values, UINT count) {
  line += ",\"";
  line += name;
  line += "\":[";
  for (UINT i = 0; i < count; ++i) {
    if (i)
      line += ',';
    line += std::to_string(values[i]);
  }
  line += ']';
}

void WriteLine(LogBackend *log, std::string &line) {
  line += "}\n";
  std::lock_guard<std::mutex> lock(log->mutex);
  if (log->closed)
    return;
  fwrite(line.data(), 1, line.size(), log->out);
  fflush(log->out);
}

void LogKeybdEvent(void *self, BYTE vk, BYTE scan, DWORD flags, DWORD extraInfo) {
  std::string line = "{\"call\":\"keybd_event\"";
  AppendNumber(line, "vk", vk);
  if (scan)
    AppendNumber(line, "scan", scan);
  AppendNumber(line, "flags", flags);
  AppendNumber(line, "extra", extraInfo);
  WriteLine(static_cast<LogBackend *>(self), line);
}

BOOL LogPostKeybdMessage(void *self, HWND hwnd, UINT vk, UINT keyStateFlags, UINT count,
                         const UINT *shiftStates, const UINT *chars) {
  std::string line = "{\"call\":\"PostKeybdMessage\"";
  AppendNumber(line, "vk", vk);
  AppendNumber(line, "flags", keyStateFlags);
  AppendList(line, "chars", chars, count);
  if (hwnd != reinterpret_cast<HWND>(static_cast<intptr_t>(-1)))
    AppendNumber(line, "hwnd", static_cast<long long>(reinterpret_cast<intptr_t>(hwnd)));
  bool statesDiffer = false;
  for (UINT i = 0; shiftStates && i < count; ++i)
    statesDiffer |= shiftStates[i] != keyStateFlags;
  if (statesDiffer)
    AppendList(line, "shiftStates", shiftStates, count);
  WriteLine(static_cast<LogBackend *>(self), line);
  return TRUE;
}

UINT LogSendInput(void *self, UINT count, const INPUT *inputs, int cbSize) {
  std::string line = "{\"call\":\"SendInput\",\"inputs\":[";
  for (UINT i = 0; i < count; ++i) {
    const INPUT &in = inputs[i];
    line += i ? ",{" : "{";
    line += "\"type\":" + std::to_string(in.type);
    AppendNumber(line, "vk", in.ki.wVk);
    if (in.ki.wScan)
      AppendNumber(line, "scan", in.ki.wScan);
    AppendNumber(line, "flags", in.ki.dwFlags);
    if (in.ki.time)
      AppendNumber(line, "time", in.ki.time);
    if (in.ki.dwExtraInfo)
      AppendNumber(line, "extra", static_cast<long long>(in.ki.dwExtraInfo));
    line += '}';
  }
  line += ']';
  AppendNumber(line, "cbSize", cbSize);
  WriteLine(static_cast<LogBackend *>(self), line);
  return count;
}

void LogClose(void *self) {
  auto *log = static_cast<LogBackend *>(self);
  std::lock_guard<std::mutex> lock(log->mutex);
  if (log->closed)
    return;
  if (log->ownsFile)
    fclose(log->out);
  else
    fflush(log->out);
  log->closed = true;
  // The backend itself stays: a call already on its way may still arrive.
}

} // namespace

const InjectOps *LogInjectOpen(const char *path) {
  FILE *out = stdout;
  bool owns = false;
  if (path && *path) {
    // The log holds every key typed: a file of the user's alone.
    std::string why;
    int fd = OpenPrivateAppend(path, &why);
    out = fd >= 0 ? fdopen(fd, "a") : nullptr;
    if (!out) {
      if (fd >= 0) {
        why = strerror(errno);
        close(fd);
      }
      ReportRefusal("inject: log file " + std::string(path) + " cannot be opened: " + why);
      return nullptr;
    }
    owns = true;
  }
  auto *log = new LogBackend;
  log->out = out;
  log->ownsFile = owns;
  log->ops = InjectOps{"log", LogKeybdEvent, LogPostKeybdMessage, LogSendInput, log, LogClose,
                       nullptr, nullptr};
  KeepBackend(log);
  return &log->ops;
}

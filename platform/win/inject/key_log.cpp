// The log backend (see key_log.h).
#include "platform/win/inject/key_log.h"

#include "platform/text.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace {

// The log's file, guarded by gLogMutex: the close may come from another
// thread than the calls.
std::mutex gLogMutex;
FILE *gLog = nullptr;

void LogLine(const std::string &line) {
  std::lock_guard<std::mutex> lock(gLogMutex);
  if (gLog) {
    fprintf(gLog, "%s\n", line.c_str());
    fflush(gLog);
  }
}

void LogKeybd(void *, BYTE vk, BYTE, DWORD flags, DWORD) {
  char line[64];
  snprintf(line, sizeof line, "key 0x%02x %s", vk, (flags & KEYEVENTF_KEYUP) ? "up" : "down");
  LogLine(line);
}

BOOL LogPost(void *, HWND, UINT, UINT, UINT count, const UINT *, const UINT *chars) {
  std::string text;
  for (UINT i = 0; chars && i < count; ++i)
    AppendUtf8(text, chars[i]);
  LogLine("text " + text);
  return TRUE;
}

UINT LogSendInput(void *, UINT count, const INPUT *inputs, int) {
  UINT taken = 0;
  for (UINT i = 0; i < count; ++i) {
    if (inputs[i].type != INPUT_KEYBOARD)
      continue;
    ++taken;
    char line[64];
    snprintf(line, sizeof line, "press 0x%02x", inputs[i].ki.wVk);
    if (!(inputs[i].ki.dwFlags & KEYEVENTF_KEYUP))
      LogLine(line);
  }
  return taken;
}

void LogClose(void *) {
  std::lock_guard<std::mutex> lock(gLogMutex);
  if (gLog && gLog != stdout)
    fclose(gLog);
  gLog = nullptr;
}

const InjectOps kLogOps = {"log", LogKeybd, LogPost, LogSendInput, nullptr, LogClose, nullptr,
                           nullptr};

} // namespace

const InjectOps *KeyLogOpen(const char *path) {
  FILE *file = path && *path ? fopen(path, "a") : stdout;
  if (!file)
    return nullptr;
  std::lock_guard<std::mutex> lock(gLogMutex);
  if (gLog && gLog != stdout)
    fclose(gLog);
  gLog = file;
  return &kLogOps;
}

// Typing on Windows: the calls the key logic makes, turned into Win32
// SendInput records for the foreground window. The installed table of
// operations (InjectOps) is the SendInput backend unless a test or
// VANTREL_INJECT put another in its place.
#include "platform/inject.h"

#include "platform/text.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "platform/win/inject/key_records.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win/core/real_calls.h"

namespace {

std::atomic<const InjectOps *> gBackend{nullptr};
const InjectOps *gSelected = nullptr; // the backend InjectSelectBackend chose
bool gNamed = false;
std::atomic<bool> gGuard{false};
std::mutex gHostMutex;
InjectHost gHost = {};

UINT Send(const std::vector<INPUT> &records) {
  if (records.empty())
    return 0;
  UINT sent = ::SendInput(static_cast<UINT>(records.size()), const_cast<INPUT *>(records.data()),
                          sizeof(INPUT));
  if (sent != records.size())
    PlatformTrace("inject: SendInput took %u of %u records (error %lu)", sent,
                  static_cast<unsigned>(records.size()), GetLastError());
  return sent;
}

KeyboardLayoutQuery ForegroundLayout() {
  HWND foreground = GetForegroundWindow();
  DWORD thread = foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0;
  HKL layout = GetKeyboardLayout(thread);
  KeyboardLayoutQuery query;
  query.vkFor = [layout](WCHAR c) -> SHORT { return VkKeyScanExW(c, layout); };
  query.capsLockOn = (GetKeyState(VK_CAPITAL) & 1) != 0;
  return query;
}

// Only KEYEVENTF_KEYUP is read: the logic's KEYEVENTF_SILENT (the
// handheld's "no click") has the bit of Win32's KEYEVENTF_UNICODE, and the
// key goes as its virtual key whatever that bit says.
void SiKeybd(void *, BYTE vk, BYTE, DWORD flags, DWORD) {
  std::vector<INPUT> records;
  AppendKey(records, vk, (flags & KEYEVENTF_KEYUP) == 0);
  Send(records);
}

BOOL SiPost(void *, HWND, UINT, UINT, UINT count, const UINT *, const UINT *chars) {
  std::vector<INPUT> records;
  AppendText(records, chars, count, ForegroundLayout());
  return Send(records) == records.size();
}

UINT SiSendInput(void *, UINT count, const INPUT *inputs, int) {
  std::vector<INPUT> records;
  UINT taken = 0;
  for (UINT i = 0; i < count; ++i) {
    if (inputs[i].type != INPUT_KEYBOARD)
      continue;
    ++taken;
    if (inputs[i].ki.dwFlags & KEYEVENTF_KEYUP)
      continue;
    AppendKey(records, static_cast<BYTE>(inputs[i].ki.wVk), true);
    AppendKey(records, static_cast<BYTE>(inputs[i].ki.wVk), false);
  }
  Send(records);
  return taken;
}

const InjectOps kSendInputOps = {"sendinput", SiKeybd, SiPost, SiSendInput, nullptr,
                                 nullptr,     nullptr, nullptr};

// The log: one line per call, to a file or stdout; reaches no window.
FILE *gLog = nullptr;
void LogLine(const std::string &line) {
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
  if (gLog && gLog != stdout)
    fclose(gLog);
  gLog = nullptr;
}
const InjectOps kLogOps = {"log", LogKeybd, LogPost, LogSendInput, nullptr, LogClose, nullptr,
                           nullptr};

// Keys meant for other programs are not typed into the program's own
// windows (releases still go, so nothing stays down).
std::atomic<bool> gKeeping{false}; // a stretch of dropped presses is under way

bool Dropped(bool press) {
  if (!press)
    return false;
  const bool drop = gGuard.load() && OwnWindowActive();
  const bool wasKeeping = gKeeping.exchange(drop);
  if (drop && !wasKeeping)
    PlatformTrace("inject: a key press dropped: the program's own window is active");
  if (drop || wasKeeping) {
    InjectHost host = InjectGetHost();
    if (host.keysKept)
      host.keysKept(drop);
  }
  return drop;
}

} // namespace

void VantrelKeybdEvent(BYTE vk, BYTE scan, DWORD flags, DWORD extraInfo) {
  const InjectOps *ops = gBackend.load();
  if (!ops || Dropped((flags & KEYEVENTF_KEYUP) == 0))
    return;
  ops->keybdEvent(ops->self, vk, scan, flags, extraInfo);
}

BOOL PostKeybdMessage(HWND hwnd, UINT vk, UINT keyStateFlags, UINT count, const UINT *shiftStates,
                      const UINT *chars) {
  const InjectOps *ops = gBackend.load();
  if ((!chars && count > 0) || !ops || Dropped(true))
    return FALSE;
  return ops->postKeybdMessage(ops->self, hwnd, vk, keyStateFlags, count, shiftStates, chars);
}

UINT VantrelSendInput(UINT count, const INPUT *inputs, int cbSize) {
  const InjectOps *ops = gBackend.load();
  if (!inputs || !ops || Dropped(true))
    return 0;
  return ops->sendInput(ops->self, count, inputs, cbSize);
}

void InjectFlush() {
  const InjectOps *ops = gBackend.load();
  if (ops && ops->flush)
    ops->flush(ops->self);
}

void InjectSetHost(const InjectHost &host) {
  std::lock_guard<std::mutex> lock(gHostMutex);
  gHost = host;
}

InjectHost InjectGetHost() {
  std::lock_guard<std::mutex> lock(gHostMutex);
  return gHost;
}

void InjectTell(InjectNotice notice) {
  InjectHost host = InjectGetHost();
  if (host.tell)
    host.tell(notice);
  else
    fprintf(stderr, "vantrel: typing: notice %d\n", static_cast<int>(notice));
}

void InjectLinkChanged(bool up) {
  const InjectOps *ops = gBackend.load();
  if (ops && ops->linkChanged)
    ops->linkChanged(ops->self, up);
}

const char *InjectSelectBackend() {
  if (gSelected)
    return gSelected->name;
  const char *asked = getenv("VANTREL_INJECT");
  std::string choice = asked ? asked : "";
  gNamed = !choice.empty();
  if (choice.rfind("log", 0) == 0) {
    gLog = choice.size() > 4 && choice[3] == ':' ? fopen(choice.c_str() + 4, "a") : stdout;
    if (!gLog) {
      PlatformWarning("typing: the key log %s cannot be opened", choice.c_str() + 4);
      PlatformTrace("inject: no backend");
      return "none";
    }
    gSelected = &kLogOps;
  } else {
    if (gNamed && choice != "sendinput")
      PlatformWarning("typing: VANTREL_INJECT=%s is not known here; using sendinput",
                      choice.c_str());
    gNamed = gNamed && choice == "sendinput";
    gSelected = &kSendInputOps;
  }
  PlatformTrace("inject: backend %s", gSelected->name);
  gBackend.store(gSelected);
  return gSelected->name;
}

void InjectSelectBackendInBackground(void (*chosen)(const char *name)) {
  const char *name = InjectSelectBackend();
  if (chosen)
    chosen(name);
}

void InjectWaitForBackend() {}

InjectReach InjectBackendReach() {
  if (!gSelected)
    return InjectReach::kWindows;
  return gSelected == &kLogOps ? InjectReach::kNowhere : InjectReach::kWindows;
}

bool InjectBackendNamed() { return gSelected && gNamed; }

void InjectGuardOwnWindows(bool on) { gGuard.store(on); }

void InjectSetBackend(const InjectOps *ops) { gBackend.store(ops); }

const InjectOps *InjectGetBackend() { return gBackend.load(); }

void InjectShutdown() {
  if (!gSelected)
    return;
  if (gBackend.load() == gSelected)
    gBackend.store(nullptr);
  if (gSelected->close)
    gSelected->close(gSelected->self);
  gSelected = nullptr;
}

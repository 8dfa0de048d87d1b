// The headless stand-in for the program around the link (see link_harness.h).
#include "tests/link/link_harness.h"

#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace linktest {
namespace fs = std::filesystem;

namespace {

LinkHarness *gHarness = nullptr; // the one harness of this process

// Sent to the main window by Advance: runs the timers due now on the
// user-interface thread and returns NextTimerDueMs.
constexpr UINT kRunDueTimers = WM_APP + 500;

std::string Field(const std::string &line, const std::string &name) {
  std::string key = "\"" + name + "\":";
  size_t at = line.find(key);
  if (at == std::string::npos)
    return "";
  at += key.size();
  if (line[at] == '"') {
    size_t end = line.find('"', at + 1);
    return line.substr(at + 1, end - at - 1);
  }
  size_t end = line.find_first_of(",}", at);
  return line.substr(at, end - at);
}

} // namespace

void RunIsolated(const std::function<void()> &fn, VirtualClock clock, int timeoutSec) {
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    alarm(static_cast<unsigned>(timeoutSec));
    UseVirtualClock(clock);
    fn();
    fflush(stdout);
    fflush(stderr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  if (WIFSIGNALED(status))
    ADD_FAILURE() << "the scenario was ended by signal " << WTERMSIG(status)
                  << (WTERMSIG(status) == SIGALRM ? " (it took too long)" : "");
  else
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the scenario failed (see above)";
}

void UseFreshRoot(const TempRoot &root) {
  const std::string &r = root.path();
  setenv("VANTREL_ROOT", r.c_str(), 1);
  setenv("VANTREL_REGISTRY", (r + "/registry.db").c_str(), 1);
  setenv("VANTREL_DEVICES", (r + "/devices").c_str(), 1);
  // Nothing of the user's desktop: no buses, no sound server.
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + r + "/no-system-bus").c_str(), 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + r + "/no-session-bus").c_str(), 1);
  setenv("PULSE_SERVER", ("unix:" + r + "/no-sound-server").c_str(), 1);
  fs::create_directories(r + "/devices");
  fs::create_directories(r + "/Vantrel");
  const std::string data = std::string(VANTREL_SOURCE_DIR) + "/data/";
  fs::copy_file(data + "English.lang", r + "/Vantrel/English.lang");
  fs::copy_file(data + "Intl English.kcod", r + "/Vantrel/Intl English.kcod");
  RegistryUseDatabase(r + "/registry.db");
  ResetAppGlobals();
  ResetUiStrings();
  WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"\\Vantrel\\");
  SettingsStore::WriteString(u"language", u"English.lang");
  SettingsStore::WriteString(u"keycode", u"Intl English.kcod");
  SettingsStore::WriteDword(u"Initialised", 1);
  LoadUiStrings();
}

std::string Narrow(const WCHAR *text) { return text ? Utf16ToUtf8(text) : ""; }

std::string StoredComport() {
  WCHAR text[kSettingTextUnits];
  SettingsStore::ReadString(u"COMPORT", text);
  return Narrow(text);
}

LinkHarness::LinkHarness(const TempRoot &root)
    : root_(root.path()), devices_(root.path() + "/devices"), kbdLog_(root.path() + "/kbd.log"),
      startTick_(GetTickCount()) {
  gHarness = this;
  SetMessageBoxPresenter(&Present, this);
  SetTraceSink(&Trace, this);
}

LinkHarness::~LinkHarness() {
  {
    // A box still held is let go, answered as without a script.
    std::lock_guard<std::mutex> lock(mutex_);
    holdBoxes_ = false;
    changed_.notify_all();
  }
  StopKeyboard();
  // The message loop ends before the harness it reports to goes away; the
  // reader thread lives on until the process ends, without a sink or a
  // presenter that points here.
  if (ui_.joinable()) {
    PostMessageW(AppGlobals.mainWindow, WM_CLOSE, 0, 0);
    ui_.join();
  }
  SetMessageBoxPresenter(nullptr, nullptr);
  SetTraceSink(nullptr, nullptr);
}

double LinkHarness::Now() const { return static_cast<DWORD>(GetTickCount() - startTick_); }

void LinkHarness::Advance(int ms) {
  const DWORD target = GetTickCount() + static_cast<DWORD>(ms);
  for (;;) {
    int next = static_cast<int>(SendMessageW(AppGlobals.mainWindow, kRunDueTimers, 0, 0));
    int left = static_cast<int32_t>(target - GetTickCount());
    if (left <= 0)
      return;
    // Up to the next timer, so that each fires at its own time.
    int step = left;
    if (next >= 0 && next < step)
      step = next > 0 ? next : 1;
    DWORD wake = 0;
    bool wakesSleeper = false;
    if (VirtualClockMode() == VirtualClock::Manual && NextSleeperWake(&wake)) {
      int until = static_cast<int32_t>(wake - GetTickCount());
      if (until < step) {
        step = until > 0 ? until : 0;
        wakesSleeper = true;
      }
    }
    AdvanceVirtualClock(static_cast<DWORD>(step));
    // A woken thread usually sleeps again at once (a pause in slices, the
    // next port's pause): give it a moment, so the rest of the span is its.
    for (int i = 0; wakesSleeper && i < 100; ++i) {
      DWORD next = 0;
      if (NextSleeperWake(&next) && static_cast<int32_t>(next - wake) > 0)
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

bool LinkHarness::AdvanceUntil(const std::function<bool()> &pred, int stepMs, int maxMs) {
  for (int passed = 0;; passed += stepMs) {
    if (WaitFor(pred, 20))
      return true;
    if (passed >= maxMs)
      return false;
    Advance(stepMs);
  }
}

bool LinkHarness::StartKeyboardListening(const std::string &path,
                                         const std::vector<std::string> &args) {
  std::vector<std::string> all = {"--listen", path};
  all.insert(all.end(), args.begin(), args.end());
  if (!StartKeyboard("", all))
    return false;
  for (int i = 0; i < 500; ++i) {
    std::error_code ec;
    if (fs::is_socket(path, ec))
      return true;
    usleep(10000);
  }
  return false;
}

bool LinkHarness::StartKeyboard(const std::string &port, const std::vector<std::string> &args) {
  std::string exe = std::string(VANTREL_BINARY_DIR) + "/tools/vantrel-kbd/vantrel-kbd";
  // Each emulator run has a log of its own.
  kbdLog_ = root_ + "/kbd-" + std::to_string(++kbdRuns_) + ".log";
  std::vector<std::string> all = {exe, "--log", kbdLog_};
  if (!port.empty())
    all.insert(all.end(), {"--port", port, "--devices", devices_});
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : all)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
    return false;
  kbdPid_ = pid;
  kbdPort_ = port;
  if (port.empty())
    return true; // listening: the caller waits for its socket
  std::string linkPath = devices_ + "/" + port;
  for (int i = 0; i < 500; ++i) {
    std::error_code ec;
    if (fs::is_symlink(linkPath, ec))
      return true;
    usleep(10000);
  }
  return false;
}

void LinkHarness::StopKeyboard(int signal) {
  if (kbdPid_ <= 0)
    return;
  kill(kbdPid_, SIGCONT);
  kill(kbdPid_, signal);
  waitpid(kbdPid_, nullptr, 0);
  kbdPid_ = -1;
  // An emulator that was killed leaves its link behind; the next one would
  // replace it, but StartKeyboard must not take it for the new one's.
  if (!kbdPort_.empty())
    unlink((devices_ + "/" + kbdPort_).c_str());
}

void LinkHarness::PauseKeyboard(bool pause) {
  if (kbdPid_ > 0)
    kill(kbdPid_, pause ? SIGSTOP : SIGCONT);
}

LRESULT LinkHarness::MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LinkHarness *h = gHarness;
  if (msg == kRunDueTimers) {
    // What was posted before time moves on, then the timers due now.
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) { // the harness is ending: leave it for the loop
        PostQuitMessage(static_cast<int>(m.wParam));
        break;
      }
      h->postedAt_ = m.time;
      DispatchMessageW(&m);
    }
    return NextTimerDueMs();
  }
  switch (msg) {
  case WM_LINK_PHASE:
  case WM_STATUS_TEXT_CHANGED:
  case WM_CALIBRATE:
  case WM_CALIBRATION_STEP:
  case WM_CALIBRATION_RESULT:
  case WM_CALIBRATION_FAILED:
  case WM_BATTERY_REPORTED:
  case WM_COMMAND: {
    Note n{msg, wParam, lParam, "", static_cast<double>(static_cast<DWORD>(h->postedAt_ - h->startTick_))};
    if (msg == WM_STATUS_TEXT_CHANGED) {
      WCHAR text[256];
      ReadStatusText(text, 256);
      n.text = Narrow(text);
    }
    std::lock_guard<std::mutex> lock(h->mutex_);
    n.msg = msg;
    if (hwnd == h->calibrationDialog && msg == WM_COMMAND)
      break; // the link closes the last dialog at every disconnection
    h->notes_.push_back(n);
    h->changed_.notify_all();
    return 0;
  }
  case WM_CLOSE: // the harness is going away
  case WM_DESTROY:
    if (hwnd == AppGlobals.mainWindow)
      PostQuitMessage(0);
    return 0;
  default:
    break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void LinkHarness::UiThread() {
  WNDCLASSW cls{};
  cls.lpfnWndProc = &MainProc;
  cls.lpszClassName = u"VantrelTestMain";
  RegisterClassW(&cls);
  HWND main = CreateWindowExW(0, u"VantrelTestMain", u"Vantrel", 0, 0, 0, 240, 320, nullptr,
                              nullptr, nullptr, nullptr);
  calibrationDialog = CreateWindowExW(0, u"VantrelTestMain", u"Calibration", 0, 0, 0, 240, 320,
                                      main, nullptr, nullptr, nullptr);
  AppGlobals.mainWindow = main;
  AppGlobals.link = &link_;
  CreateLinkController(&link_, nullptr, main);
  // As the shell does after creating the link.
  PostMessageW(link_.typingWnd, WM_SET_CONNECTION_TIMEOUT, 0,
               SettingsStore::ReadNumber(Settings::kConnectionTimeout));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    uiReady_ = true;
    changed_.notify_all();
  }
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0)) {
    postedAt_ = m.time;
    DispatchMessageW(&m);
  }
}

void LinkHarness::StartLink() {
  ui_ = std::thread(&LinkHarness::UiThread, this);
  ASSERT_TRUE(WaitFor(
      [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        return uiReady_;
      },
      5000));
  ASSERT_TRUE(WaitForPhase(1, 0, 10000)) << "the reader thread did not finish its start-up";
}

void LinkHarness::AnswerBoxes(std::initializer_list<int> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.insert(answers_.end(), answers.begin(), answers.end());
}

void LinkHarness::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
  PostMessageW(AppGlobals.typingWnd.load(), msg, wParam, lParam);
}

LRESULT LinkHarness::Send(UINT msg, WPARAM wParam, LPARAM lParam) {
  return SendMessageW(AppGlobals.typingWnd.load(), msg, wParam, lParam);
}

bool LinkHarness::WaitFor(const std::function<bool()> &pred, int timeoutMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // Some conditions (the emulator's log, linkState) change without a notice:
  // look again at least every 50 ms. pred takes the lock itself when needed.
  while (!pred()) {
    auto now = std::chrono::steady_clock::now();
    if (now >= until)
      return false;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_until(lock, std::min(until, now + std::chrono::milliseconds(50)));
  }
  return true;
}

bool LinkHarness::WaitForPhase(WPARAM wParam, LPARAM lParam, int timeoutMs, int nth) {
  return WaitFor(
      [&] {
        int seen = 0;
        for (const Note &n : Notes())
          seen += n.msg == WM_LINK_PHASE && n.wParam == wParam && n.lParam == lParam;
        return seen >= nth;
      },
      timeoutMs);
}

bool LinkHarness::WaitForLinkState(int32_t state, int timeoutMs) {
  return WaitFor([&] { return AppGlobals.linkState.load() == state; }, timeoutMs);
}

std::vector<Note> LinkHarness::Notes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return notes_;
}

std::vector<Note> LinkHarness::Phases() {
  std::vector<Note> out;
  for (const Note &n : Notes())
    if (n.msg == WM_LINK_PHASE)
      out.push_back(n);
  return out;
}

std::vector<Box> LinkHarness::Boxes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

std::vector<std::string> LinkHarness::Traces() {
  std::lock_guard<std::mutex> lock(mutex_);
  return traces_;
}

void LinkHarness::HoldBoxes() {
  std::lock_guard<std::mutex> lock(mutex_);
  holdBoxes_ = true;
}

void LinkHarness::AnswerHeldBox(int answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  heldAnswers_.push_back(answer);
  changed_.notify_all();
}

int LinkHarness::BoxesHeld() {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxesHeld_;
}

int LinkHarness::Present(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type, void *self) {
  auto *h = static_cast<LinkHarness *>(self);
  std::unique_lock<std::mutex> lock(h->mutex_);
  WCHAR yesVerb[64] = {}, noVerb[64] = {};
  MessageBoxVerbs(text, yesVerb, noVerb, 64);
  h->boxes_.push_back(Box{owner, Narrow(text), Narrow(caption), type, h->Now(), Narrow(yesVerb), Narrow(noVerb)});
  h->changed_.notify_all();
  int answer = (type & 0x0F) == MB_YESNO ? IDNO : IDOK;
  if (h->holdBoxes_) {
    ++h->boxesHeld_;
    h->changed_.notify_all();
    h->changed_.wait(lock, [h] { return !h->heldAnswers_.empty() || !h->holdBoxes_; });
    --h->boxesHeld_;
    if (!h->heldAnswers_.empty()) {
      answer = h->heldAnswers_.front();
      h->heldAnswers_.pop_front();
    }
    return answer;
  }
  if (!h->answers_.empty()) {
    answer = h->answers_.front();
    h->answers_.pop_front();
  }
  return answer;
}

void LinkHarness::Trace(const char *line, void *self) {
  auto *h = static_cast<LinkHarness *>(self);
  std::lock_guard<std::mutex> lock(h->mutex_);
  h->traces_.push_back(line);
}

int LinkHarness::CountTraces(const std::string &prefix) {
  int n = 0;
  for (const std::string &line : Traces())
    n += line.rfind(prefix, 0) == 0;
  return n;
}

std::vector<std::string> LinkHarness::KeyboardEvents(const std::string &event) {
  std::vector<std::string> out;
  std::ifstream in(kbdLog_);
  std::string line;
  while (std::getline(in, line))
    if (Field(line, "event") == event)
      out.push_back(line);
  return out;
}

std::vector<Packet> LinkHarness::Packets() {
  std::vector<Packet> out;
  for (const std::string &line : KeyboardEvents("packet")) {
    Packet p;
    p.name = Field(line, "name");
    p.id = atoi(Field(line, "id").c_str());
    p.value = atoi(Field(line, "value").c_str());
    p.ms = atof(Field(line, "t_ms").c_str());
    out.push_back(p);
  }
  return out;
}

std::vector<std::string> Describe(const std::vector<Packet> &packets) {
  std::vector<std::string> out;
  for (const Packet &p : packets)
    out.push_back(p.name == "SET_PARAMETER"
                      ? p.name + " " + std::to_string(p.id) + "=" + std::to_string(p.value)
                      : p.name);
  return out;
}

int Find(const std::vector<std::string> &described, const std::string &what, size_t from) {
  for (size_t i = from; i < described.size(); ++i)
    if (described[i] == what)
      return static_cast<int>(i);
  return -1;
}

} // namespace linktest

#include "app_test_env.h"

#include "common/globals.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "platform/text.h"
#include "platform/registry.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

HINSTANCE TestInstance() {
  static char token;
  return reinterpret_cast<HINSTANCE>(&token);
}

bool ReadyInProcessWindow(const testsupport::ProgramSandbox &box) {
  box.MakeFolder("opt/Vantrel");
  box.CopyData("English.lang", "opt/Vantrel/English.lang");
  box.CopyData("vtr.bmp", "opt/Vantrel/vtr.bmp");
  box.CopyData("vtr_wide.bmp", "opt/Vantrel/vtr_wide.bmp");
  WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"opt\\Vantrel\\");
  SettingsStore::WriteString(u"language", u"English.lang");
  return LoadUiStrings();
}

void PresetProgramRun(const testsupport::ProgramSandbox &box, LPCWSTR comPort) {
  for (const char *name : {"English.lang", "Intl English.kcod", "vtr.bmp", "vtr_wide.bmp"})
    box.CopyData(name, std::string("opt/Vantrel/") + name);
  box.MakeFolder("dev");
  SettingsStore::WriteString(u"COMPORT", comPort);
  SettingsStore::WriteDword(u"Initialised", 1);
  SettingsStore::WriteString(u"keycode", u"Intl English.kcod");
  SettingsStore::WriteString(u"language", u"English.lang");
  SettingsStore::WriteDword(u"Serial No", 0x00A5F301);
}

void ExecWithEnvironment(const std::vector<std::string> &args,
                         const std::vector<std::string> &env) {
  for (const std::string &e : env)
    putenv(const_cast<char *>(e.c_str()));
  std::vector<char *> argv;
  for (const std::string &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

Child::Child(const std::vector<std::string> &args, const std::vector<std::string> &env,
             const std::string &output) {
  pid_ = fork();
  if (pid_ == 0) {
    FILE *out = fopen(output.c_str(), "w");
    if (out) {
      dup2(fileno(out), 1);
      dup2(fileno(out), 2);
    }
    ExecWithEnvironment(args, env);
  }
}

Child::~Child() {
  if (pid_ > 0 && !exited_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

int Child::Wait(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exited_ = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

void Child::Signal(int signal) { kill(pid_, signal); }

void Child::Kill() {
  kill(pid_, SIGTERM);
  Wait(std::chrono::seconds(5));
}

namespace {

constexpr WCHAR kTimeoutsKey[] = u"System\\CurrentControlSet\\Control\\Power\\Timeouts";
constexpr WCHAR kRememberedKeyPath[] = u"Software\\Vantrel\\SuspendKiller";
const WCHAR *const kTimeoutNames[4] = {u"BattUserIdle", u"BattSystemIdle", u"BattSuspend",
                                       u"Engaged"};

// Reads without writing anything: SettingsStore's readers store the default
// of a missing value, which would race with the program writing it.
std::vector<int> ReadNumbers(const WCHAR *path, const WCHAR *const *names, int count) {
  std::vector<int> out;
  HKEY key = nullptr;
  const bool open = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) == ERROR_SUCCESS;
  for (int i = 0; i < count; ++i) {
    DWORD v = 0, size = 4, type = 0;
    out.push_back(open && RegQueryValueExW(key, names[i], nullptr, &type,
                                           reinterpret_cast<BYTE *>(&v), &size) == ERROR_SUCCESS
                      ? static_cast<int>(v)
                      : -1);
  }
  if (open)
    RegCloseKey(key);
  return out;
}

void WriteNumbers(const WCHAR *path, const std::vector<int> &values) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  for (size_t i = 0; i < values.size() && i < 4; ++i) {
    const DWORD v = static_cast<DWORD>(values[i]);
    RegSetValueExW(key, kTimeoutNames[i], 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v), 4);
  }
  RegCloseKey(key);
}

} // namespace

std::vector<int> PowerTimeouts() { return ReadNumbers(kTimeoutsKey, kTimeoutNames, 3); }
std::vector<int> RememberedTimeouts() { return ReadNumbers(kRememberedKeyPath, kTimeoutNames, 4); }
int StoredSetting(const WCHAR *name) { return ReadNumbers(u"Software\\Vantrel", &name, 1)[0]; }
void SetPowerTimeouts(const std::vector<int> &values) { WriteNumbers(kTimeoutsKey, values); }
void SetRememberedTimeouts(const std::vector<int> &values) {
  WriteNumbers(kRememberedKeyPath, values);
}

std::vector<std::string> ProgramEnvironment(const std::string &root) {
  return {"VANTREL_ROOT=" + root,
          "VANTREL_REGISTRY=" + root + "/registry.db",
          "VANTREL_DEVICES=" + root + "/dev",
          "VANTREL_INJECT=log:" + root + "/inject.log",
          "VANTREL_TRACE=" + root + "/trace.log",
          "XDG_RUNTIME_DIR=" + root,
          "QT_QPA_PLATFORM=offscreen",
          "VANTREL_PLATFORM=PocketPC",
          "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + root + "/no-system-bus",
          "DBUS_SESSION_BUS_ADDRESS=unix:path=" + root + "/no-session-bus",
          "PULSE_SERVER=unix:" + root + "/no-sound-server"};
}

std::unique_ptr<Child> StartKeyboardIn(const std::string &kbdExe, const std::string &root,
                                       const std::vector<std::string> &env) {
  std::error_code ignored;
  fs::remove(root + "/dev/COM3", ignored);
  auto kbd = std::make_unique<Child>(
      std::vector<std::string>{kbdExe, "--port", "COM3", "--devices", root + "/dev", "--log",
                               root + "/kbd.log", "--heartbeat", "200"},
      env, root + "/kbd.out");
  WaitFor([&] { return fs::exists(root + "/dev/COM3"); }, std::chrono::seconds(10));
  return kbd;
}

bool DisconnectAfterLastOpen(const std::string &kbdLog) {
  const std::string log = testsupport::ReadFile(kbdLog);
  const size_t open = log.rfind("\"event\":\"open\"");
  return open != std::string::npos &&
         log.find("\"name\":\"DISCONNECT\"", open) != std::string::npos;
}

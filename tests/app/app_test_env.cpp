#include "app_test_env.h"

#include "app/globals.h"
#include "app/settings_store.h"
#include "app/ui_strings.h"
#include "link/link_controller.h"
#include "platform/qt_app.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "resources/resources.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<RecordedMessage> gMessages;
LinkController gLink;
HWND gRecorder = nullptr;

LRESULT RecorderProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= WM_APP) {
    MSG pending;
    bool closeQueued = PeekMessageW(&pending, nullptr, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) != 0;
    gMessages.push_back({msg, wParam, lParam, closeQueued});
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace

AppSandbox::AppSandbox() {
  char pattern[] = "/tmp/vantrel-app-XXXXXX";
  root_ = mkdtemp(pattern);
  setenv("VANTREL_ROOT", root_.c_str(), 1);
  setenv("VANTREL_REGISTRY", (root_ + "/registry.db").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
  RegistryUseDatabase(root_ + "/registry.db");
  ResetAppGlobals();
  ResetUiStrings();
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

AppSandbox::~AppSandbox() {
  ResetUiStrings();
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void AppSandbox::MakeFolder(const std::string &relative) const {
  fs::create_directories(root_ + "/" + relative);
}

void AppSandbox::Put(const std::string &relative, const std::string &content) const {
  fs::create_directories(fs::path(root_ + "/" + relative).parent_path());
  std::ofstream(root_ + "/" + relative, std::ios::binary) << content;
}

void AppSandbox::CopyData(const std::string &name, const std::string &dest) const {
  fs::create_directories(fs::path(root_ + "/" + dest).parent_path());
  fs::copy_file(std::string(VANTREL_SOURCE_DIR) + "/data/" + name, root_ + "/" + dest,
                fs::copy_options::overwrite_existing);
}

void PresetProgramRun(const AppSandbox &box, LPCWSTR comPort) {
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

void StartToolkitOnce() {
  static bool started = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_app";
    static char *argv[] = {name, nullptr};
    VantrelQtInit(argc, argv);
    RegisterVantrelResources();
    return true;
  }();
  (void)started;
}

HWND CreateLinkRecorder() {
  static bool registered = [] {
    WNDCLASSW cls = {};
    cls.lpfnWndProc = RecorderProc;
    cls.lpszClassName = u"LinkRecorder";
    return RegisterClassW(&cls) != 0;
  }();
  (void)registered;
  gMessages.clear();
  gRecorder = CreateWindowExW(0, u"LinkRecorder", u"", 0, 0, 0, 10, 10, nullptr, nullptr,
                              nullptr, nullptr);
  gLink.typingWnd = gRecorder;
  AppGlobals.link = &gLink;
  AppGlobals.typingWnd = gRecorder;
  return gRecorder;
}

void DestroyLinkRecorder() {
  DestroyWindow(gRecorder);
  gRecorder = nullptr;
  gLink.typingWnd = nullptr;
}

std::vector<RecordedMessage> &LinkMessages() { return gMessages; }

bool PumpMessages() {
  int exitCode = 0;
  return PumpThreadMessages(&exitCode);
}

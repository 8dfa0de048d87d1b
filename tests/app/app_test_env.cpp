#include "app_test_env.h"

#include "app/globals.h"
#include "app/ui_strings.h"
#include "link/link_controller.h"
#include "platform/qt_app.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "resources/resources.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

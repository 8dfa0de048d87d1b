#include "calibration_test_env.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/calibration_dialog.h"
#include "platform/qt_app.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "resources/resources.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr UINT_PTR kWatchdogTimer = 99;
constexpr UINT kWatchdogMs = 5000;

HWND gStandIn = nullptr;
std::vector<LinkScript> gScripts;
size_t gNextScript = 0;
std::vector<LinkRecord> gLinkMessages;

std::deque<int> gAnswers;
std::map<size_t, std::function<void()>> gBoxActions;
std::vector<BoxRecord> gBoxes;
HWND gDialog = nullptr;
bool gTimedOut = false;

void Play(const LinkScript &script) {
  for (LinkEvent event : script) {
    HWND dialog = AppGlobals.calibrationDialog.load();
    switch (event) {
    case LinkEvent::Step:
      PostMessageW(dialog, WM_CALIBRATION_STEP, 0, 0);
      break;
    case LinkEvent::Result:
      PostMessageW(dialog, WM_CALIBRATION_RESULT, 0, 0);
      break;
    case LinkEvent::Failed: // the reader thread leaves calibration first
      AppGlobals.linkState.store(LINK_TYPING);
      PostMessageW(dialog, WM_CALIBRATION_FAILED, 0, 0);
      break;
    case LinkEvent::Lost: // the disconnection: idle, then Done to the open dialog
      AppGlobals.linkState.store(LINK_IDLE);
      PostMessageW(AppGlobals.openDialog.load(), WM_COMMAND, IDOK, 0);
      break;
    case LinkEvent::Done:
      PostMessageW(dialog, WM_COMMAND, 40004, 0);
      break;
    case LinkEvent::Ok:
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
      break;
    }
  }
}

LRESULT StandInProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER && wParam == kWatchdogTimer) {
    KillTimer(hwnd, kWatchdogTimer);
    gTimedOut = true;
    EndDialog(gDialog, 0);
    return 0;
  }
  if (msg < WM_LINK_PHASE || msg > WM_KEY_TEST_CHAR)
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  gLinkMessages.push_back({msg, AppGlobals.calibrationDialog.load(), AppGlobals.calibrationStep});
  switch (msg) {
  case WM_CALIBRATE:
    AppGlobals.linkState.store(LINK_CALIBRATING);
    break;
  case WM_END_CALIBRATION:
  case WM_RESUME_WITH_SETTINGS:
    AppGlobals.linkState.store(LINK_TYPING);
    break;
  case WM_BEGIN_CALIBRATION:
    if (gNextScript < gScripts.size())
      Play(gScripts[gNextScript++]);
    break;
  }
  return 0;
}

int ScriptedBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type, void *) {
  if (gDialog == nullptr)
    gDialog = owner;
  const size_t index = gBoxes.size();
  gBoxes.push_back({text ? text : u"", caption ? caption : u"", type, owner, gLinkMessages.size()});
  int answer = (type & 0x0F) == MB_YESNO ? IDNO : IDOK;
  if (!gAnswers.empty()) {
    answer = gAnswers.front();
    gAnswers.pop_front();
  }
  if (auto it = gBoxActions.find(index); it != gBoxActions.end())
    it->second();
  int exitCode = 0;
  PumpThreadMessages(&exitCode); // a modal box keeps dispatching
  return answer;
}

} // namespace

void StartToolkitOnce() {
  static bool started = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_dialogs_calibration";
    static char *argv[] = {name, nullptr};
    VantrelQtInit(argc, argv);
    RegisterVantrelResources();
    return true;
  }();
  (void)started;
}

CalibrationSandbox::CalibrationSandbox() {
  StartToolkitOnce();
  char pattern[] = "/tmp/vantrel-calibration-XXXXXX";
  root_ = mkdtemp(pattern);
  installDir_ = root_ + "/opt/Vantrel";
  fs::create_directories(installDir_);
  setenv("VANTREL_ROOT", root_.c_str(), 1);
  RegistryUseDatabase(root_ + "/registry.db");
  ResetAppGlobals();
  ResetUiStrings();
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  fs::copy_file(std::string(VANTREL_SOURCE_DIR) + "/data/English.lang", installDir_ + "/English.lang");
  WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"opt\\Vantrel\\");
  SettingsStore::WriteString(u"language", u"English.lang");
  LoadUiStrings();
  AppGlobals.linkState.store(LINK_TYPING);
  gAnswers.clear();
  gBoxActions.clear();
  gBoxes.clear();
  gDialog = nullptr;
  SetMessageBoxPresenter(ScriptedBox, nullptr);
}

CalibrationSandbox::~CalibrationSandbox() {
  ResetUiStrings();
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void CalibrationSandbox::PutPicture(const std::string &name, int width, int height, int r, int g,
                                    int b) const {
  const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  const uint32_t size = stride * static_cast<uint32_t>(height);
  std::string bytes = "BM";
  auto put32 = [&bytes](uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  auto put16 = [&bytes](uint16_t v) {
    bytes += static_cast<char>(v & 0xFF);
    bytes += static_cast<char>(v >> 8);
  };
  put32(54 + size);
  put32(0);
  put32(54);
  put32(40);
  put32(static_cast<uint32_t>(width));
  put32(static_cast<uint32_t>(height));
  put16(1);
  put16(24);
  for (uint32_t v : {0u, size, 2835u, 2835u, 0u, 0u})
    put32(v);
  for (int y = 0; y < height; ++y) {
    std::string row;
    for (int x = 0; x < width; ++x) {
      row += static_cast<char>(b);
      row += static_cast<char>(g);
      row += static_cast<char>(r);
    }
    row.resize(stride, '\0');
    bytes += row;
  }
  std::ofstream(installDir_ + "/" + name, std::ios::binary) << bytes;
}

void CreateLinkStandIn(std::vector<LinkScript> scripts) {
  static bool registered = [] {
    WNDCLASSW cls = {};
    cls.lpfnWndProc = StandInProc;
    cls.lpszClassName = u"CalibrationLinkStandIn";
    return RegisterClassW(&cls) != 0;
  }();
  (void)registered;
  gScripts = std::move(scripts);
  gNextScript = 0;
  gLinkMessages.clear();
  gStandIn = CreateWindowExW(0, u"CalibrationLinkStandIn", u"", 0, 0, 0, 10, 10, nullptr, nullptr,
                             nullptr, nullptr);
  AppGlobals.typingWnd.store(gStandIn);
}

void DestroyLinkStandIn() {
  DestroyWindow(gStandIn);
  gStandIn = nullptr;
  AppGlobals.typingWnd.store(nullptr);
}

const std::vector<LinkRecord> &LinkMessages() { return gLinkMessages; }

size_t CountLinkMessages(UINT message) {
  size_t n = 0;
  for (const LinkRecord &r : gLinkMessages)
    n += r.message == message;
  return n;
}

void ScriptMessageBoxes(std::deque<int> answers) {
  gAnswers = std::move(answers);
  gBoxes.clear();
  gDialog = nullptr;
}
void DuringMessageBox(size_t index, std::function<void()> action) {
  gBoxActions[index] = std::move(action);
}
const std::vector<BoxRecord> &MessageBoxes() { return gBoxes; }

bool RunCalibrationDialog() {
  gTimedOut = false;
  SetTimer(gStandIn, kWatchdogTimer, kWatchdogMs, nullptr);
  OpenCalibrationDialog(nullptr);
  KillTimer(gStandIn, kWatchdogTimer);
  gBoxActions.clear();
  // Whatever the dialog posted to the link on its way out.
  int exitCode = 0;
  PumpThreadMessages(&exitCode);
  return !gTimedOut;
}

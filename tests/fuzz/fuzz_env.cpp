#include "tests/fuzz/fuzz_env.h"

#include "common/globals.h"
#include "platform/inject.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "tests/support/temp_root.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {
namespace {

Environment *gEnv = nullptr;

LRESULT QuietWndProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

// Every trace line is formatted (so the formatting of what the input put
// into it runs) and then dropped.
void DropTrace(const char *, void *) {}

INT_PTR CloseDialogAtOnce(HINSTANCE, const DLGTEMPLATE *, HWND, DLGPROC, LPARAM, void *) {
  return 0;
}

void DropKey(void *, BYTE, BYTE, DWORD, DWORD) {}
BOOL DropPosted(void *, HWND, UINT, UINT, UINT, const UINT *, const UINT *) { return TRUE; }
UINT DropInput(void *, UINT count, const INPUT *, int) { return count; }

const InjectOps kDropInjector = {"fuzz", &DropKey, &DropPosted, &DropInput, nullptr, nullptr, nullptr, nullptr};
WindowSystemHooks gHooks{};

// The root, on a memory file system when there is one: the settings
// database syncs every write, which costs nothing there.
testsupport::TempRoot *gRoot = nullptr;

void RemoveRoot() {
  RegistryUseDatabase("");
  delete gRoot;
  gRoot = nullptr;
}

HWND MakeWindow(const WCHAR *name) {
  return CreateWindowExW(0, u"VantrelFuzzWnd", name, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                         nullptr);
}

} // namespace

const Environment &Env() {
  if (gEnv)
    return *gEnv;
  gEnv = new Environment;
  gRoot = new testsupport::TempRoot("fuzz", testsupport::TempRoot::Medium::Memory);
  gEnv->root = gRoot->path();
  gEnv->installDir = gRoot->MakeFolder("Vantrel");
  gRoot->Use(testsupport::kDeviceRoot | testsupport::kSettings | testsupport::kDevices);
  unsetenv("VANTREL_TRACE");
  atexit(RemoveRoot);

  // No message box presenter: boxes are answered as the platform does
  // without one (OK; No to a question).
  gHooks.dialogBox = &CloseDialogAtOnce;
  SetWindowSystemHooks(&gHooks);
  InjectSetBackend(&kDropInjector);

  WNDCLASSW cls{};
  cls.lpfnWndProc = QuietWndProc;
  cls.lpszClassName = u"VantrelFuzzWnd";
  RegisterClassW(&cls);
  gEnv->mainWindow = MakeWindow(u"main");
  gEnv->typingWindow = MakeWindow(u"typing");
  gEnv->calibrationWindow = MakeWindow(u"calibration");
  ResetGlobals();
  return *gEnv;
}

void WriteInstallFile(const char *name, const uint8_t *data, size_t size) {
  std::string path = Env().installDir + "/" + name;
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) {
    perror(path.c_str());
    abort();
  }
  if (size && fwrite(data, 1, size, f) != size) {
    perror(path.c_str());
    abort();
  }
  fclose(f);
}

void ResetGlobals() {
  const Environment &env = Env();
  ResetAppGlobals();
  WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"\\Vantrel\\");
  AppGlobals.mainWindow = env.mainWindow;
  AppGlobals.typingWnd.store(env.typingWindow);
  AppGlobals.calibrationDialog.store(env.calibrationWindow);
}

void DrainMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

void FormatTraces(bool on) { SetTraceSink(on ? &DropTrace : nullptr, nullptr); }

void Require(bool cond, const char *what) {
  if (cond)
    return;
  fprintf(stderr, "vantrel fuzz: broken promise: %s\n", what);
  abort();
}

} // namespace fuzz

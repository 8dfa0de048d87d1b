// The handheld shell's calls and the program's own additions to the window
// system, made of Win32's on a desktop: no input panel, no full-screen
// dialogs, message boxes that stop once the program's windows are gone,
// bitmaps from files, help in the default browser.
#include "platform/controls.h"
#include "platform/files.h"
#include "platform/gdi.h"
#include "platform/notify.h"
#include "platform/process.h"
#include "platform/qt_app.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/tray.h"
#include "platform/window.h"

#include <atomic>
#include <malloc.h>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/win/core/real_calls.h"

namespace {

std::atomic<bool> gUserInterfaceEnded{false};
std::mutex gHelpMutex;
std::u16string gHelpFolder;

void (*gOnQuit)(int, void *) = nullptr;
void *gOnQuitContext = nullptr;

BOOL WINAPI ConsoleHandler(DWORD event) {
  if (!gOnQuit)
    return FALSE;
  gOnQuit(static_cast<int>(event), gOnQuitContext);
  return TRUE;
}

} // namespace

HWND GetTopLevelWindow(HWND hwnd) { return hwnd ? GetAncestor(hwnd, GA_ROOT) : nullptr; }

HWND VantrelFindWindowW(LPCWSTR className, LPCWSTR title) {
  struct Search {
    LPCWSTR className, title;
    HWND found;
  } search = {className, title, nullptr};
  // EnumWindows lists the top-level windows from the top of the z-order;
  // the last match is the oldest one near enough, and any will do.
  EnumWindows(
      [](HWND hwnd, LPARAM context) -> BOOL {
        auto *s = reinterpret_cast<Search *>(context);
        DWORD process = 0;
        GetWindowThreadProcessId(hwnd, &process);
        if (process != GetCurrentProcessId())
          return TRUE;
        WCHAR text[256];
        if (s->className && (!GetClassNameW(hwnd, text, 256) || _wcsicmp(text, s->className) != 0))
          return TRUE;
        if (s->title && (GetWindowTextW(hwnd, text, 256) < 0 || wcscmp(text, s->title) != 0))
          return TRUE;
        s->found = hwnd;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL VantrelSetForegroundWindow(HWND hwnd) {
  return ::SetForegroundWindow(
      reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(hwnd) & ~uintptr_t{1}));
}

BOOL OwnWindowActive() {
  HWND foreground = GetForegroundWindow();
  DWORD process = 0;
  if (foreground)
    GetWindowThreadProcessId(foreground, &process);
  return foreground && process == GetCurrentProcessId();
}

std::atomic<MessageBoxPresenter> gPresenter{nullptr};
std::atomic<void *> gPresenterContext{nullptr};

void SetMessageBoxPresenter(MessageBoxPresenter presenter, void *context) {
  gPresenterContext.store(context);
  gPresenter.store(presenter);
}

bool PumpThreadMessages(int *exitCode) {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      if (exitCode)
        *exitCode = static_cast<int>(msg.wParam);
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

int VantrelMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  if (MessageBoxPresenter presenter = gPresenter.load())
    return presenter(owner, text, caption, type, gPresenterContext.load());
  if (gUserInterfaceEnded.load()) {
    PlatformTrace("message box not shown, the program is ending: %s",
                  Utf16ToUtf8(text ? text : u"").c_str());
    return IDCANCEL;
  }
  return ::MessageBoxW(owner, text, caption, type);
}

void EndUserInterface() { gUserInterfaceEnded.store(true); }
bool UserInterfaceEnded() { return gUserInterfaceEnded.load(); }

void RegisterControlClasses() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
}

BOOL SHInitDialog(SHINITDLGINFO *info) { return info && info->hDlg ? TRUE : FALSE; }
BOOL SHSipPreference(HWND, SIPSTATE) { return TRUE; }
bool HasSoftwareInputPanel() { return false; }

void ReleaseFreedMemory() {
  _heapmin();
  SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1),
                           static_cast<SIZE_T>(-1));
}

HBITMAP SHLoadDIBitmap(LPCWSTR path) {
  if (!path)
    return nullptr;
  return static_cast<HBITMAP>(
      LoadImageW(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
}

std::string HostPathFor(LPCWSTR path) { return Utf16ToUtf8(path ? path : u""); }

// No toolkit: Win32 is the window system, the calling thread the one that
// owns the windows. The program looks for its data in a folder named
// Vantrel below its device root: installed, that is its own folder, so the
// root is the folder above it (C:\Program Files). Run from elsewhere, the
// current folder stays the root.
bool VantrelQtInit(int &, char **) {
  RegisterControlClasses();
  WCHAR path[MAX_PATH * 2] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  if (n > 0 && n < MAX_PATH * 2) {
    WCHAR *slash = const_cast<WCHAR *>(wcsrchr(path, u'\\'));
    if (slash) {
      *slash = 0;
      WCHAR *folder = const_cast<WCHAR *>(wcsrchr(path, u'\\'));
      if (folder && _wcsicmp(folder + 1, u"Vantrel") == 0) {
        *folder = 0;
        SetCurrentDirectoryW(path);
        PlatformTrace("data: the device root is %s", Utf16ToUtf8(path).c_str());
      }
    }
  }
  return true;
}
bool VantrelQtActive() { return true; }
bool VantrelQtOnScreen() { return true; }
void ServeWaitingCalls() {}

bool SetToolkitLanguage(const char *locale) {
  const bool english = locale && strncmp(locale, "en", 2) == 0;
  if (!english)
    PlatformTrace("language: Windows words its own buttons in the system's language, not %s",
                  locale ? locale : "(none)");
  return english;
}

bool ShowHelpWindow(LPCWSTR devicePath) {
  if (!devicePath)
    return false;
  HINSTANCE r = ShellExecuteW(nullptr, u"open", devicePath, nullptr, nullptr, SW_SHOWNORMAL);
  const bool opened = reinterpret_cast<INT_PTR>(r) > 32;
  if (!opened)
    PlatformTrace("help: %s not opened (%d)", Utf16ToUtf8(devicePath).c_str(),
                  static_cast<int>(reinterpret_cast<INT_PTR>(r)));
  return opened;
}

void SetHelpFolder(LPCWSTR deviceFolder) {
  std::lock_guard<std::mutex> lock(gHelpMutex);
  gHelpFolder = deviceFolder ? deviceFolder : u"";
}

BOOL VantrelCreateProcessW(LPCWSTR imageName, LPCWSTR commandLine, void *processAttributes,
                           void *threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                           void *environment, LPCWSTR currentDirectory, void *startupInfo,
                           PROCESS_INFORMATION *info) {
  if (imageName && _wcsicmp(imageName, u"peghelp") == 0) {
    const WCHAR *document = commandLine && wcsncmp(commandLine, u"file:", 5) == 0
                                ? commandLine + 5
                                : (commandLine ? commandLine : u"");
    std::u16string path;
    {
      std::lock_guard<std::mutex> lock(gHelpMutex);
      path = gHelpFolder + document;
    }
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
    if (!ShowHelpWindow(path.c_str())) {
      SetLastError(ERROR_NO_ASSOCIATION);
      return FALSE;
    }
    if (info)
      *info = PROCESS_INFORMATION{};
    return TRUE;
  }
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  std::u16string line = commandLine ? commandLine : u"";
  return ::CreateProcessW(imageName, line.data(),
                          static_cast<LPSECURITY_ATTRIBUTES>(processAttributes),
                          static_cast<LPSECURITY_ATTRIBUTES>(threadAttributes), inheritHandles,
                          creationFlags, environment, currentDirectory,
                          startupInfo ? static_cast<LPSTARTUPINFOW>(startupInfo) : &start, info);
}

BOOL VantrelSystemParametersInfoW(UINT action, UINT uiParam, LPVOID pv, UINT winIni) {
  if (action == SPI_GETPLATFORMTYPE) {
    if (!pv || uiParam < 16) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    WStrCopyN(static_cast<WCHAR *>(pv), uiParam / sizeof(WCHAR), u"Desktop");
    return TRUE;
  }
  return ::SystemParametersInfoW(action, uiParam, pv, winIni);
}

BOOL VantrelGetVersionExW(OSVERSIONINFOW *info) {
  if (!info)
    return FALSE;
  typedef LONG(WINAPI * RtlGetVersionCall)(OSVERSIONINFOW *);
  auto call = reinterpret_cast<RtlGetVersionCall>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(u"ntdll.dll"), "RtlGetVersion")));
  if (call && call(info) == 0)
    return TRUE;
  return ::GetVersionExW(info);
}

BOOL KernelIoControl(DWORD ioControlCode, LPVOID, DWORD, LPVOID, DWORD, LPDWORD) {
  if (ioControlCode != IOCTL_HAL_REBOOT) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  // The program starts again: a fresh process of its own image with the
  // same command line, then this one ends.
  WCHAR image[MAX_PATH * 2] = {};
  const DWORD n = GetModuleFileNameW(nullptr, image, MAX_PATH * 2);
  std::u16string line = GetCommandLineW();
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  PROCESS_INFORMATION info = {};
  PlatformTrace("restart: starting %s again", Utf16ToUtf8(image).c_str());
  if (n == 0 || n >= MAX_PATH * 2 ||
      !::CreateProcessW(image, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                        &info)) {
    PlatformTrace("restart: failed (error %lu)", GetLastError());
    return FALSE;
  }
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  fflush(nullptr);
  ExitProcess(0);
}

void BlockQuitSignals() {}
void UnblockQuitSignals() {}

bool StartQuitSignalWatch(void (*onSignal)(int signal, void *context), void *context) {
  gOnQuit = onSignal;
  gOnQuitContext = context;
  return SetConsoleCtrlHandler(ConsoleHandler, TRUE) != FALSE;
}

void StopQuitSignalWatch() {
  SetConsoleCtrlHandler(ConsoleHandler, FALSE);
  gOnQuit = nullptr;
}


// One instance per user session on Windows: a named mutex in the session's
// namespace ("Local\") claims it; the first instance keeps a message-only
// window of the same name, to which a later launch sends its request
// (WM_COPYDATA) before it ends.
#include "platform/single_instance.h"

#include "platform/text.h"
#include "platform/trace.h"
#include "platform/wintypes.h"

#include <string>

#include "platform/win/core/real_calls.h"

namespace {

HANDLE gMutex = nullptr;
HWND gWindow = nullptr;
SingleInstanceHandler gHandler = nullptr;
void *gContext = nullptr;

LRESULT CALLBACK ReceiverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COPYDATA) {
    auto *data = reinterpret_cast<const COPYDATASTRUCT *>(lParam);
    if (data && data->cbData < 256) {
      std::string request(static_cast<const char *>(data->lpData), data->cbData);
      PlatformTrace("instance: a new launch asks \"%s\"", request.c_str());
      if (gHandler)
        gHandler(request.c_str(), gContext);
    }
    return TRUE;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::u16string WindowName(const char *name) { return u"Vantrel.instance." + Utf8ToUtf16(name); }

} // namespace

bool SingleInstanceClaim(const char *request) {
  return SingleInstanceClaimNamed("vantrel", request);
}

bool SingleInstanceClaimNamed(const char *name, const char *request) {
  if (gMutex)
    return true;
  const std::u16string mutexName = u"Local\\Vantrel." + Utf8ToUtf16(name);
  // Only a mutex that existed sets the last error: clear it first.
  SetLastError(ERROR_SUCCESS);
  HANDLE mutex = CreateMutexW(nullptr, TRUE, mutexName.c_str());
  PlatformTrace("instance: mutex %s: %s", Utf16ToUtf8(mutexName).c_str(),
                !mutex ? "not made" : GetLastError() == ERROR_ALREADY_EXISTS ? "held by another"
                                                                              : "ours");
  if (mutex && GetLastError() != ERROR_ALREADY_EXISTS) {
    gMutex = mutex;
    WNDCLASSW cls = {};
    cls.lpfnWndProc = ReceiverProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = u"VantrelInstance";
    RegisterClassW(&cls);
    const std::u16string windowName = WindowName(name);
    gWindow = CreateWindowExW(0, u"VantrelInstance", windowName.c_str(), 0, 0, 0, 0, 0,
                              HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    return true;
  }
  if (mutex)
    ::CloseHandle(mutex);
  // Another instance: hand it the request (it may still be starting).
  const std::u16string windowName = WindowName(name);
  for (int attempt = 0; attempt < 50; ++attempt) {
    HWND first = FindWindowExW(HWND_MESSAGE, nullptr, u"VantrelInstance", windowName.c_str());
    if (first) {
      // The launch the person made may hand the foreground on: the first
      // instance brings its window forward when asked to show it.
      DWORD firstProcess = 0;
      GetWindowThreadProcessId(first, &firstProcess);
      AllowSetForegroundWindow(firstProcess);
      COPYDATASTRUCT data = {1, static_cast<DWORD>(strlen(request)),
                             const_cast<char *>(request)};
      DWORD_PTR result = 0;
      SendMessageTimeoutW(first, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK,
                          5000, &result);
      return false;
    }
    Sleep(100);
  }
  PlatformTrace("instance: the running instance did not answer");
  return false;
}

void SingleInstanceRelease() {
  if (gWindow)
    DestroyWindow(gWindow);
  gWindow = nullptr;
  if (gMutex) {
    ReleaseMutex(gMutex);
    ::CloseHandle(gMutex);
  }
  gMutex = nullptr;
}

void SetSingleInstanceHandler(SingleInstanceHandler handler, void *context) {
  gHandler = handler;
  gContext = context;
}

// Message boxes, answered by the presenter the toolkit or a test installed.
#include "platform/inject.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/window.h"

#include <atomic>
#include <mutex>
#include <string>

namespace {

std::atomic<bool> gClosed{false};

std::mutex gPresenterMutex;
MessageBoxPresenter gPresenter = nullptr;
void *gPresenterContext = nullptr;

} // namespace

void SetMessageBoxPresenter(MessageBoxPresenter presenter, void *context) {
  std::lock_guard<std::mutex> lock(gPresenterMutex);
  gPresenter = presenter;
  gPresenterContext = context;
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  static const WCHAR kEmpty[] = {0};
  if (!text)
    text = kEmpty;
  if (!caption)
    caption = kEmpty;
  MessageBoxPresenter presenter;
  void *context;
  {
    std::lock_guard<std::mutex> lock(gPresenterMutex);
    presenter = gPresenter;
    context = gPresenterContext;
  }
  if (presenter && !gClosed.load()) {
    // The box waits for the person, as a wait for input does: what the
    // injection backend holds back for that goes out first, so that keys
    // typed before a box of the typing thread arrive before it, where they
    // were typed.
    InjectFlush();
    return presenter(owner, text, caption, type, context);
  }
  // Nobody to ask: the box is noted in the trace and given the cautious
  // answer, "No" to a question.
  int answer = (type & 0x0F) == MB_YESNO ? IDNO : IDOK;
  PlatformTrace("MessageBox [%s] %s -> %s", Utf16ToUtf8(caption).c_str(),
                Utf16ToUtf8(text).c_str(), answer == IDNO ? "No" : "OK");
  return answer;
}

void EndUserInterface() { gClosed.store(true); }

bool UserInterfaceEnded() { return gClosed.load(); }

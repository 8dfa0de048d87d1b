// Message boxes, answered by the presenter the toolkit or a test installed.
#include "platform/inject.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/window.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::atomic<bool> gClosed{false};

std::mutex gPresenterMutex;
MessageBoxPresenter gPresenter = nullptr;
void *gPresenterContext = nullptr;

// The questions being asked with verbs, by their text's address: boxes of
// several threads may be up at once, and each presenter finds its own.
struct AskedVerbs {
  LPCWSTR text;
  std::u16string yes, no;
};
std::mutex gVerbsMutex;
std::vector<AskedVerbs> gVerbs;

void CopyCut(WCHAR *to, const std::u16string &from, size_t units) {
  const size_t n = std::min(from.size(), units - 1);
  std::copy_n(from.data(), n, to);
  to[n] = 0;
}

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

int AskWithVerbsW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT icon, LPCWSTR yesVerb,
                  LPCWSTR noVerb) {
  static const WCHAR kEmpty[] = {0};
  if (!text)
    text = kEmpty;
  {
    std::lock_guard<std::mutex> lock(gVerbsMutex);
    gVerbs.push_back({text, yesVerb ? yesVerb : u"", noVerb ? noVerb : u""});
  }
  const int answer = MessageBoxW(owner, text, caption, (icon & ~0x0Fu) | MB_YESNO);
  {
    std::lock_guard<std::mutex> lock(gVerbsMutex);
    for (auto it = gVerbs.end(); it != gVerbs.begin();) {
      if ((--it)->text == text) {
        gVerbs.erase(it);
        break;
      }
    }
  }
  return answer == IDYES ? IDYES : IDNO;
}

bool MessageBoxVerbs(LPCWSTR text, WCHAR *yesVerb, WCHAR *noVerb, size_t units) {
  if (!text || units == 0)
    return false;
  std::lock_guard<std::mutex> lock(gVerbsMutex);
  for (auto it = gVerbs.rbegin(); it != gVerbs.rend(); ++it) {
    if (it->text == text) {
      CopyCut(yesVerb, it->yes, units);
      CopyCut(noVerb, it->no, units);
      return true;
    }
  }
  return false;
}

void EndUserInterface() { gClosed.store(true); }

bool UserInterfaceEnded() { return gClosed.load(); }

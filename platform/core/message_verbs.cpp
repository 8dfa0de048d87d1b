// Questions asked with verbs in place of Yes and No. The verbs are kept by
// the question text's address while its box is up, so that a presenter that
// words its own buttons can find them; a box of the system's words its
// buttons itself. Built by both the Linux and the Windows platform: it uses
// only the window header's MessageBoxW.
#include "platform/text.h"
#include "platform/window.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Boxes of several threads may be up at once, and each presenter finds its
// own question's verbs.
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

// The menu bar's contents and answers (see menu_bar_answers.h), the same on
// every platform.
#include "platform/core/menu_bar_answers.h"

#include <algorithm>
#include <cstring>

namespace {

// TB_GETBUTTONINFO: the fields dwMask names, of the button at index wParam
// (TBIF_BYINDEX) or with command wParam. Returns the index, -1 for none.
LRESULT ButtonInfo(const MenuBarContents *bar, WPARAM wParam, TBBUTTONINFOW *info) {
  if (!bar || !info)
    return -1;
  int index = -1;
  if (info->dwMask & TBIF_BYINDEX) {
    if (wParam < bar->buttons.size())
      index = static_cast<int>(wParam);
  } else {
    for (size_t i = 0; i < bar->buttons.size(); ++i)
      if (bar->buttons[i].command == wParam)
        index = static_cast<int>(i);
  }
  if (index < 0)
    return -1;
  const MenuBarButton &b = bar->buttons[index];
  if (info->dwMask & TBIF_COMMAND)
    info->idCommand = static_cast<int>(b.command);
  if (info->dwMask & TBIF_STATE)
    info->fsState = b.state;
  if (info->dwMask & TBIF_STYLE)
    info->fsStyle = b.style;
  if (info->dwMask & TBIF_LPARAM)
    info->lParam = reinterpret_cast<decltype(info->lParam)>(b.popup);
  if ((info->dwMask & TBIF_TEXT) && info->pszText && info->cchText > 0) {
    const size_t n = std::min(b.caption.size(), static_cast<size_t>(info->cchText - 1));
    std::memcpy(info->pszText, b.caption.data(), n * sizeof(char16_t));
    info->pszText[n] = 0;
  }
  return index;
}

} // namespace

bool AnswerMenuBarMessage(const MenuBarContents *bar, UINT msg, WPARAM wParam, LPARAM lParam,
                          LRESULT *result) {
  switch (msg) {
  case TB_GETBUTTONINFO:
    *result = ButtonInfo(bar, wParam, reinterpret_cast<TBBUTTONINFOW *>(lParam));
    return true;
  case SHCMBM_GETMENU:
    *result = bar ? reinterpret_cast<LRESULT>(bar->menu) : 0;
    return true;
  case SHCMBM_GETSUBMENU:
    *result = 0;
    if (bar)
      for (const MenuBarButton &b : bar->buttons)
        if (b.command == static_cast<UINT>(lParam)) {
          *result = reinterpret_cast<LRESULT>(b.popup);
          break;
        }
    return true;
  default:
    return false;
  }
}

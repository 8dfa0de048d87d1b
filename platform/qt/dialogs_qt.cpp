// Modal dialogs from dialog templates. The dialog is a window of the
// internal dialog class whose procedure hands messages to the DLGPROC; its
// modal loop is a QEventLoop in which the pump keeps dispatching posted
// messages and timers. A dialog asked for by another thread is run by the
// user-interface thread while the asking thread waits.
#include "platform/controls.h"
#include "platform/qt/qt_internal.h"
#include "platform/resource_formats.h"
#include "platform/shell.h"

#include <QApplication>
#include <QEventLoop>
#include <QFontMetrics>

#include <unordered_map>

namespace {

struct DialogCreate {
  DLGPROC proc;
};

struct DialogState {
  bool done = false;
  INT_PTR result = 0;
  QEventLoop *loop = nullptr;
};

std::unordered_map<HWND, DialogState *> &Dialogs() {
  static std::unordered_map<HWND, DialogState *> dialogs; // user-interface thread only
  return dialogs;
}

LRESULT DialogWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE) {
    auto *cs = reinterpret_cast<const CREATESTRUCTW *>(lParam);
    if (auto *create = static_cast<const DialogCreate *>(cs->lpCreateParams))
      SetWindowLongW(hwnd, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(create->proc));
    return 0;
  }
  auto proc = reinterpret_cast<DLGPROC>(GetWindowLongW(hwnd, DWL_DLGPROC));
  INT_PTR handled = proc ? proc(hwnd, msg, wParam, lParam) : 0;
  if (msg == WM_INITDIALOG)
    return handled;
  if (handled)
    return GetWindowLongW(hwnd, DWL_MSGRESULT);
  if (msg == WM_CLOSE)
    return 0; // a dialog ends only through EndDialog
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

QFont DialogFont(const DLGTEMPLATE *tmpl) {
  QFont font = QApplication::font();
  if (tmpl->pointSize > 0 && tmpl->pointSize < 72)
    font.setPointSize(tmpl->pointSize);
  return font;
}

INT_PTR RunDialog(HINSTANCE inst, const DLGTEMPLATE *tmpl, HWND owner, DLGPROC proc, LPARAM param) {
  if (vqt::QuitPending())
    return -1;
  QFont font = DialogFont(tmpl);
  QFontMetrics metrics(font);
  int unitX = std::max(1, metrics.averageCharWidth()), unitY = std::max(1, metrics.height());
  auto px = [&](int du, bool horizontal) { return horizontal ? du * unitX / 4 : du * unitY / 8; };
  DialogCreate create{proc};
  DWORD style = tmpl->style & ~static_cast<DWORD>(WS_VISIBLE | WS_CHILD);
  HWND dialog = CreateWindowExW(tmpl->exStyle, vqt::kDialogClass, tmpl->caption, style, px(tmpl->x, true),
                                px(tmpl->y, false), px(tmpl->cx, true), px(tmpl->cy, false), owner, nullptr,
                                inst, &create);
  if (!dialog)
    return -1;
  if (vqt::WindowHost *host = vqt::HostFor(dialog); host && host->frame)
    host->frame->setFont(font);
  HWND first = nullptr;
  for (UINT i = 0; tmpl->items && i < tmpl->itemCount && i < 256; ++i) {
    const DLGITEMTEMPLATEW &item = tmpl->items[i];
    if (!item.className || IS_INTRESOURCE(item.className))
      continue;
    HWND control = CreateWindowExW(item.exStyle, item.className, item.text, item.style | WS_CHILD,
                                   px(item.x, true), px(item.y, false), px(item.cx, true), px(item.cy, false),
                                   dialog, reinterpret_cast<HMENU>(static_cast<intptr_t>(item.id)), inst, nullptr);
    if (control && !first)
      first = control;
  }
  DialogState state;
  Dialogs()[dialog] = &state;
  SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param);
  if (!state.done && IsWindow(dialog))
    ShowWindow(dialog, SW_SHOW);
  while (!state.done && IsWindow(dialog) && !vqt::QuitPending()) {
    QEventLoop loop;
    state.loop = &loop;
    vqt::ModalScope modal([&loop] { loop.exit(0); });
    loop.exec();
    state.loop = nullptr;
  }
  Dialogs().erase(dialog);
  if (IsWindow(dialog))
    DestroyWindow(dialog);
  return state.done ? state.result : -1;
}

} // namespace

namespace vqt {

void RegisterInternalClasses() {
  WNDCLASSW cls{};
  cls.lpfnWndProc = DialogWndProc;
  cls.lpszClassName = kDialogClass;
  RegisterClassW(&cls);
  RegisterMenuBarClass();
}

INT_PTR HookDialogBox(HINSTANCE inst, const DLGTEMPLATE *tmpl, HWND owner, DLGPROC proc, LPARAM param,
                      void *) {
  INT_PTR result = -1;
  RunOnUiThread([&] {
    if (!UserInterfaceEnded())
      result = RunDialog(inst, tmpl, owner, proc, param);
  });
  return result;
}

BOOL HookEndDialog(HWND dialog, INT_PTR result, void *) {
  BOOL ok = FALSE;
  RunOnUiThread([&] {
    auto it = Dialogs().find(dialog);
    if (it == Dialogs().end())
      return;
    it->second->done = true;
    it->second->result = result;
    if (it->second->loop)
      it->second->loop->exit(0);
    // Hidden at once, as the original does; destroyed when the loop returns.
    if (WindowHost *host = HostFor(dialog); host && host->frame)
      host->frame->hide();
    ok = TRUE;
  });
  return ok;
}

} // namespace vqt

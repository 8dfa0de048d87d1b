// Message boxes as QMessageBox, always shown by the user-interface thread:
// a box asked for by another thread is run there while the asker waits.
#include "platform/qt/qt_internal.h"

#include <QAbstractButton>
#include <QIcon>
#include <QMessageBox>

namespace {

int CautiousAnswer(UINT type) {
  switch (type & 0x0F) {
  case MB_YESNO:
    return IDNO;
  case MB_OKCANCEL:
    return IDCANCEL;
  default:
    return IDOK;
  }
}

int Show(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  if (vqt::QuitPending() || UserInterfaceEnded())
    return CautiousAnswer(type);
  // The box sits over the owner's window, or the nearest shown window it
  // belongs to (a dialog not shown yet asks from its set-up); a box with no
  // shown owner at all, such as one the reader thread asks for, sits over
  // the main window while that is shown.
  QWidget *parent = nullptr;
  for (HWND h = owner; h && !parent; h = GetParent(GetTopLevelWindow(h)))
    if (vqt::WindowHost *host = vqt::HostFor(GetTopLevelWindow(h)); host && host->frame &&
                                                                     host->frame->isVisible())
      parent = host->frame;
  if (!parent)
    if (vqt::WindowHost *host = vqt::HostFor(vqt::MainWindow()); host && host->frame && host->frame->isVisible())
      parent = host->frame;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (type & 0xF0) {
  case MB_ICONHAND:
    icon = QMessageBox::Critical;
    break;
  case MB_ICONQUESTION:
    icon = QMessageBox::Question;
    break;
  case MB_ICONEXCLAMATION:
    icon = QMessageBox::Warning;
    break;
  case MB_ICONASTERISK:
    icon = QMessageBox::Information;
    break;
  }
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  if ((type & 0x0F) == MB_YESNO)
    buttons = QMessageBox::Yes | QMessageBox::No;
  else if ((type & 0x0F) == MB_OKCANCEL)
    buttons = QMessageBox::Ok | QMessageBox::Cancel;
  QMessageBox box(icon, vqt::ToQString(caption), vqt::ToQString(text), buttons, parent);
  box.setObjectName("vantrel_message_box");
  // A question asked with verbs: its buttons say what they do, in the
  // places and order the style gives Yes and No.
  WCHAR yesVerb[64];
  WCHAR noVerb[64];
  if ((type & 0x0F) == MB_YESNO && MessageBoxVerbs(text, yesVerb, noVerb, 64)) {
    // The style's Yes and No pictures would say yes and no: left out.
    if (yesVerb[0]) {
      box.button(QMessageBox::Yes)->setText(vqt::ToQString(yesVerb));
      box.button(QMessageBox::Yes)->setIcon(QIcon());
    }
    if (noVerb[0]) {
      box.button(QMessageBox::No)->setText(vqt::ToQString(noVerb));
      box.button(QMessageBox::No)->setIcon(QIcon());
    }
  }
  if (type & MB_TOPMOST)
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  if (type & MB_SETFOREGROUND) {
    box.show();
    box.raise();
    box.activateWindow();
  }
  QMessageBox::StandardButton pressed;
  {
    vqt::ModalScope modal([&box] { box.reject(); });
    box.exec();
    pressed = box.standardButton(box.clickedButton());
  }
  switch (pressed) {
  case QMessageBox::Yes:
    return IDYES;
  case QMessageBox::No:
    return IDNO;
  case QMessageBox::Cancel:
    return IDCANCEL;
  case QMessageBox::Ok:
    return IDOK;
  default:
    return CautiousAnswer(type); // closed without a button
  }
}

} // namespace

namespace vqt {

int PresentMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type, void *) {
  int answer = CautiousAnswer(type);
  RunOnUiThread([&] { answer = Show(owner, text, caption, type); });
  return answer;
}

} // namespace vqt

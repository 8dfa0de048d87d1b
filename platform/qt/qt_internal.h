// Shared internals of the Qt window system (platform/qt only).
#pragma once

#include "platform/gdi.h"
#include "platform/window.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>
#include <utility>
#include <vector>

class QMenu;
class QPainter;
class QEventLoop;

namespace vqt {

// The thread that called VantrelQtInit (0 before).
DWORD UiThread();
// True on the user-interface thread once the toolkit is up: only then are
// widgets made and touched.
bool OnUiThread();
// Runs fn on the user-interface thread and waits for it; a direct call when
// already there. Works while that thread sits in a modal loop.
void RunOnUiThread(const std::function<void()> &fn);

// Modal loops of this layer (dialogs, message boxes, menus) count their
// depth, so the pump knows whether GetMessageW's own wait is the innermost
// loop (then GetMessageW takes the messages itself) or a modal loop is (then
// the pump dispatches them).
// The closer ends the loop early: the quit message arrived inside it.
class ModalScope {
public:
  explicit ModalScope(std::function<void()> closer);
  ~ModalScope();
  ModalScope(const ModalScope &) = delete;
  ModalScope &operator=(const ModalScope &) = delete;

private:
  int id_;
};
std::vector<std::pair<int, std::function<void()>>> &ModalClosers();
// The quit message was taken inside a modal loop; new modal loops end at once.
bool QuitPending();
void ArmPump(); // schedules a pump on the user-interface thread
void InstallEventPump();
QObject *PumpObject();
void (*WakeHook())(DWORD, void *);
// The timerDue hook: re-arms the pump's timer for the UI thread's next
// Win32 timer; false for other threads, or when the pump has no timer
// descriptor.
bool TimerDueHook(DWORD thread, int dueMs, void *context);
bool WaitInToolkit(void *context); // the GetMessageW wait hook

// The widgets of one window. For a child window frame == client; a
// top-level window's frame holds the client area and an optional soft-key
// bar below it.
class ClientWidget;
struct WindowHost {
  HWND hwnd = nullptr;
  QPointer<QWidget> frame;
  QPointer<QWidget> client;
  QPointer<QWidget> bar;
  HWND barWindow = nullptr;
  bool child = false;
  bool control = false;
  bool dialog = false;
  bool fullScreen = false;
  // Where the program last placed a child, and the parent's client size
  // then: a resize of the parent moves the child to the same relative place.
  QRect reference;
  QSize referenceParent;
};

// The widgets of a window (owned by this layer): null off the
// user-interface thread and for a window no widget shows.
WindowHost *HostFor(HWND hwnd);
HWND HandleOf(const QWidget *widget); // the window of a widget or its nearest ancestor
QWidget *ClientOf(HWND hwnd);         // where children and painting go; null as HostFor
// Registers a control's widget as its window (frame == client).
void AttachControlWidget(HWND hwnd, QWidget *widget, const QRect &rect);
// Lays out a top-level frame again after its bar changed.
void RelayoutFrame(HWND hwnd);
// Gives a top-level frame its size; a dialog's is fixed at it (no resizing
// border).
void SetFrameSize(WindowHost &host, const QSize &size);
// The soft-key bar of a window (made by SHCreateMenuBar): below the client
// area, or above it when it is a QMenuBar (an ordinary window's menu bar).
void SetFrameBar(HWND parent, HWND bar, QWidget *barWidget);
// Fills qmenu with the items of menu (cleared first; empty for a bad menu);
// sub-menus ask owner's WM_INITMENUPOPUP and fill themselves as they open.
// A chosen item's command is written to *chosen, which must outlive qmenu.
void FillMenu(QMenu *qmenu, HMENU menu, HWND owner, int *chosen);
// Makes a dialog a page a person can resize (its template's size is its
// content); any other window takes the main window's size (its soft-key
// bar inside it). Tells the core where any window with a widget now is.
void MakeFullScreen(HWND hwnd);
// Gives a dialog at least its content's size (every shown control with the
// style's margins, the template's client area unless controlsOnly, and its
// button row) as its least size, within the screen's free area; a page
// keeps what it has when that is larger, except that one whose controls are
// all its content (controlsOnly) is made just their size.
void FitDialogToContent(HWND hwnd, bool controlsOnly);
// Centres a top-level window on its nearest visible owner (on the screen
// when it has none), kept within the screen.
void CentreOnOwner(HWND hwnd);
// The window the program's dialogs are laid over: the oldest top-level window.
HWND MainWindow();

// The classes of this layer's own windows, registered by VantrelQtInit.
constexpr char16_t kDialogClass[] = u"#32770";
constexpr char16_t kMenuBarClass[] = u"menu_worker";
void RegisterInternalClasses();

// Window system hooks.
void HookCreated(HWND hwnd, const CREATESTRUCTW *cs, void *context);
void HookDestroyed(HWND hwnd, void *context);
BOOL HookShow(HWND hwnd, int cmd, void *context);
BOOL HookSetForeground(HWND hwnd, void *context);
HWND HookGetFocus(void *context);
INT_PTR HookDialogBox(HINSTANCE inst, const DLGTEMPLATE *tmpl, HWND owner, DLGPROC proc,
                      LPARAM param, void *context);
BOOL HookEndDialog(HWND dialog, INT_PTR result, void *context);
BOOL HookMove(HWND hwnd, int x, int y, int width, int height, BOOL repaint, void *context);
void HookInvalidate(HWND hwnd, const RECT *rect, void *context);
BOOL HookUpdate(HWND hwnd, void *context);
int PresentMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type, void *context);

// Painting: the painter of the paint event under way for a window.
QPainter *CurrentPainter(HWND hwnd, QRect *paintRect);
void SetCurrentPainter(HWND hwnd, QPainter *painter, const QRect &rect);
// A DC's font as a QFont (pixel sized), for controls given WM_SETFONT.
bool FontOf(HFONT font, QFont *out);
// A bitmap's image, for SS_BITMAP statics.
bool ImageOf(HBITMAP bitmap, QImage *out);
// Decodes a PNG or BMP image held in memory (format "PNG" or "BMP") with the
// toolkit's own readers only: no image format plugin is loaded to be asked
// whether it can read it. Returns a null image for bytes it cannot decode.
QImage ReadBuiltInImage(const QByteArray &bytes, const char *format);
// A brush's colour; false for none (null brush, bad handle).
bool BrushColor(HBRUSH brush, QColor *color);
bool ClassIcon(HWND hwnd, QIcon *icon);
void RegisterMenuBarClass();
// The class background brush's colour; false for none.
bool ClassBackground(HWND hwnd, QColor *color);
// Whether a brush is one of GetSysColorBrush's.
bool IsSysColorBrush(HBRUSH brush);
// Whether a window's background is the theme's (a dialog's, or a class
// brush of GetSysColorBrush): its painting then uses the theme's colours.
bool PaletteBackground(HWND hwnd);
// Text a window's procedure draws while it paints: it becomes the painted
// area's accessible description, so a screen reader can tell what the
// picture says. User-interface thread only.
void NotePaintedText(HWND hwnd, const QString &text);

QString ToQString(LPCWSTR text, int count = -1);
std::u16string FromQString(const QString &text);
bool IsControlClass(const std::u16string &className);

} // namespace vqt

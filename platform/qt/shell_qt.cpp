// Dialog set-up, the input panel preference and the resource loaders.
#include "platform/core/window_toolkit.h"
#include "platform/qt/qt_internal.h"
#include "platform/shell.h"

#include <QGuiApplication>
#include <QIcon>
#include <QInputMethod>
#include <QPixmap>

#include <cstring>
#include <mutex>
#include <set>

namespace {
std::mutex gIconMutex;
std::set<const void *> gIcons; // handles LoadIconW gave out
} // namespace

BOOL SHInitDialog(SHINITDLGINFO *info) {
  if (!info || !IsWindow(info->hDlg))
    return FALSE;
  if (!(info->dwMask & SHIDIM_FLAGS))
    return TRUE;
  if (info->dwFlags & (SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIZEDLG | SHIDIF_FULLSCREENNOMENUBAR)) {
    // Headless the dialog takes the main window's client size, so layout
    // code sees the same numbers; a dialog with a widget is where the widget
    // is once it covers the main window.
    HWND main = vqt::MainWindow();
    RECT client{}, screen{};
    if (main && main != info->hDlg && GetClientRect(main, &client) && GetWindowRect(main, &screen))
      wincore::RecordWindowRect(info->hDlg, RECT{screen.left, screen.top, screen.left + client.right,
                                                 screen.top + client.bottom});
    vqt::MakeFullScreen(info->hDlg);
  }
  // SHIDIF_DONEBUTTON asks for the handheld's title-bar Done button. The
  // desktop's own title bar has its close button, which a dialog takes as
  // its cancel command: no second button is drawn.
  return TRUE;
}

BOOL SHSipPreference(HWND, SIPSTATE state) {
  if ((state == SIP_DOWN || state == SIP_FORCEDOWN) && vqt::OnUiThread())
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
      app->inputMethod()->hide();
  return TRUE;
}

bool HasSoftwareInputPanel() {
  // The toolkit shows an on-screen keyboard only through its virtual
  // keyboard input module; a desktop input method has no panel to lower.
  return qgetenv("QT_IM_MODULE").startsWith("qtvirtualkeyboard");
}

int LoadStringW(HINSTANCE inst, UINT id, LPWSTR buffer, int max) {
  if (!buffer || max <= 0)
    return 0;
  buffer[0] = 0;
  HRSRC res = FindResourceW(inst, MAKEINTRESOURCEW(id), RT_STRING);
  auto *entry = static_cast<const STRINGRESOURCE *>(LockResource(LoadResource(inst, res)));
  if (!entry || SizeofResource(inst, res) < sizeof(STRINGRESOURCE) || !entry->text)
    return 0;
  int n = std::min(static_cast<int>(std::char_traits<char16_t>::length(entry->text)), max - 1);
  std::memcpy(buffer, entry->text, n * sizeof(char16_t));
  buffer[n] = 0;
  return n;
}

HICON LoadIconW(HINSTANCE inst, LPCWSTR name) {
  for (LPCWSTR type : {RT_GROUP_ICON, RT_ICON}) {
    HRSRC res = FindResourceW(inst, name, type);
    auto *image = static_cast<const IMAGERESOURCE *>(LockResource(LoadResource(inst, res)));
    if (image && SizeofResource(inst, res) >= sizeof(IMAGERESOURCE) && image->bytes && image->size) {
      std::lock_guard<std::mutex> lock(gIconMutex);
      gIcons.insert(image);
      return const_cast<IMAGERESOURCE *>(image); // registered data lives for the process
    }
  }
  return nullptr;
}

HCURSOR LoadCursorW(HINSTANCE inst, LPCWSTR name) {
  if (inst || !IS_INTRESOURCE(name))
    return nullptr;
  return reinterpret_cast<HCURSOR>(const_cast<LPWSTR>(name)); // the system cursor's number
}

HACCEL LoadAcceleratorsW(HINSTANCE inst, LPCWSTR name) {
  HRSRC res = FindResourceW(inst, name, RT_ACCELERATOR);
  return res ? static_cast<HACCEL>(res) : nullptr;
}

int TranslateAcceleratorW(HWND, HACCEL, MSG *) { return 0; }

namespace {

// The format of an image resource by its first bytes: PNG and BMP are read
// by the toolkit's own readers (ReadBuiltInImage), without loading every
// image format plugin and its libraries; anything else (ICO, ...) is left
// to the plugins (nullptr).
const char *BuiltInFormat(const BYTE *bytes, DWORD size) {
  static const BYTE kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (size >= sizeof kPng && memcmp(bytes, kPng, sizeof kPng) == 0)
    return "PNG";
  if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M')
    return "BMP";
  return nullptr;
}

} // namespace

namespace vqt {

// The icon of a window's class, for the frame's title bar and task bar.
bool ClassIcon(HWND hwnd, QIcon *icon) {
  HICON handle = nullptr;
  if (!wincore::WindowClassOf(hwnd, nullptr, nullptr, &handle))
    return false;
  {
    std::lock_guard<std::mutex> lock(gIconMutex);
    if (!gIcons.count(handle))
      return false;
  }
  auto *image = static_cast<const IMAGERESOURCE *>(handle);
  QPixmap pixmap;
  const char *format = BuiltInFormat(image->bytes, image->size);
  if (format) {
    QImage decoded = ReadBuiltInImage(
        QByteArray::fromRawData(reinterpret_cast<const char *>(image->bytes),
                                static_cast<qsizetype>(image->size)),
        format);
    if (decoded.isNull())
      return false;
    pixmap = QPixmap::fromImage(decoded);
  } else if (!pixmap.loadFromData(image->bytes, image->size)) {
    return false;
  }
  *icon = QIcon(pixmap);
  return true;
}

} // namespace vqt

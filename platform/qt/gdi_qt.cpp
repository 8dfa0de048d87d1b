// Device contexts and drawing objects on QPainter. Objects keep their
// Win32 parameters and become Qt pens, brushes and fonts when used, so the
// bookkeeping works without a QGuiApplication (headless), where drawing is
// skipped and text is measured with a fixed approximate metric.
#include "platform/core/bmp_header.h"
#include "platform/files.h"
#include "platform/qt/qt_internal.h"
#include "platform/threads.h"
#include "platform/trace.h"

#include <QBuffer>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPalette>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace {

enum class GdiKind { Font, Pen, Brush, Bitmap };

struct GdiObject {
  GdiKind kind = GdiKind::Brush;
  bool stock = false;
  LOGFONTW font{};
  int penStyle = PS_SOLID, penWidth = 1;
  COLORREF color = 0;
  bool nullBrush = false;
  int sysColor = -1; // a GetSysColorBrush brush: the theme's colour of this index
  QImage image;
};

enum class DcKind { Paint, Window, Memory };

struct Dc {
  DcKind kind = DcKind::Window;
  HWND hwnd = nullptr;
  QPainter *painter = nullptr; // the paint event's (Paint) - not owned
  QImage scratch;              // Window: a surface of the window's size
  GdiObject *font = nullptr, *pen = nullptr, *brush = nullptr, *bitmap = nullptr;
  COLORREF text = RGB(0, 0, 0), background = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  bool themed = false; // the window's background is the theme's
};

std::mutex gGdiMutex;
std::unordered_set<GdiObject *> gObjects;
std::unordered_set<Dc *> gDcs;

GdiObject *Object(HGDIOBJ h) {
  auto *o = static_cast<GdiObject *>(h);
  return gObjects.count(o) ? o : nullptr;
}

Dc *DcOf(HDC h) {
  std::lock_guard<std::mutex> lock(gGdiMutex);
  auto *dc = static_cast<Dc *>(h);
  return gDcs.count(dc) ? dc : nullptr;
}

GdiObject *NewObject(GdiObject object) {
  auto *o = new GdiObject(std::move(object));
  std::lock_guard<std::mutex> lock(gGdiMutex);
  gObjects.insert(o);
  return o;
}

GdiObject *Stock(int which) {
  static GdiObject *stock[DEFAULT_GUI_FONT + 1] = {};
  static std::once_flag once;
  std::call_once(once, [] {
    auto make = [](GdiKind kind, COLORREF color) {
      GdiObject o;
      o.kind = kind;
      o.stock = true;
      o.color = color;
      return NewObject(o);
    };
    stock[WHITE_BRUSH] = make(GdiKind::Brush, RGB(255, 255, 255));
    stock[LTGRAY_BRUSH] = make(GdiKind::Brush, RGB(192, 192, 192));
    stock[GRAY_BRUSH] = make(GdiKind::Brush, RGB(128, 128, 128));
    stock[DKGRAY_BRUSH] = make(GdiKind::Brush, RGB(64, 64, 64));
    stock[BLACK_BRUSH] = make(GdiKind::Brush, RGB(0, 0, 0));
    stock[NULL_BRUSH] = make(GdiKind::Brush, 0);
    stock[NULL_BRUSH]->nullBrush = true;
    stock[WHITE_PEN] = make(GdiKind::Pen, RGB(255, 255, 255));
    stock[BLACK_PEN] = make(GdiKind::Pen, RGB(0, 0, 0));
    stock[NULL_PEN] = make(GdiKind::Pen, 0);
    stock[NULL_PEN]->penStyle = PS_NULL;
    stock[SYSTEM_FONT] = make(GdiKind::Font, 0);
    stock[DEFAULT_GUI_FONT] = make(GdiKind::Font, 0);
  });
  return which >= 0 && which <= DEFAULT_GUI_FONT ? stock[which] : nullptr;
}

bool HaveGui() { return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr; }

constexpr int kSysColors[] = {COLOR_WINDOW,  COLOR_WINDOWTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT,
                              COLOR_BTNFACE, COLOR_GRAYTEXT,   COLOR_BTNTEXT};

bool KnownSysColor(int index) {
  return std::find(std::begin(kSysColors), std::end(kSysColors), index) != std::end(kSysColors);
}

COLORREF RefOf(const QColor &c) { return RGB(c.red(), c.green(), c.blue()); }

QColor ColorOf(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }

// The default font's height in pixels; every font is pixel sized so that
// measuring and drawing agree whatever the device's resolution.
int DefaultPixelHeight() {
  if (!HaveGui())
    return 13;
  return std::max(1, QFontInfo(QGuiApplication::font()).pixelSize());
}

QFont MakeFont(const LOGFONTW &lf) {
  QFont font = QGuiApplication::font();
  if (lf.lfFaceName[0])
    font.setFamily(vqt::ToQString(lf.lfFaceName));
  font.setPixelSize(lf.lfHeight ? std::min<LONG>(std::abs(lf.lfHeight), 4096) : DefaultPixelHeight());
  int weight = lf.lfWeight <= 0 ? FW_NORMAL : std::clamp<LONG>(lf.lfWeight, 100, 900);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setItalic(lf.lfItalic != 0);
  font.setUnderline(lf.lfUnderline != 0);
  return font;
}

// The DC's selected objects, read under the lock: a deleted object falls
// back to the default.
struct Selection {
  LOGFONTW font{};
  bool penNull = false, brushNull = false;
  int penWidth = 1, penStyle = PS_SOLID;
  COLORREF penColor = 0, brushColor = RGB(255, 255, 255);
  QImage bitmap;
};

Selection SelectionOf(Dc *dc) {
  std::lock_guard<std::mutex> lock(gGdiMutex);
  Selection s;
  if (dc->font && gObjects.count(dc->font))
    s.font = dc->font->font;
  if (dc->pen && gObjects.count(dc->pen)) {
    s.penNull = dc->pen->penStyle == PS_NULL;
    s.penWidth = dc->pen->penWidth;
    s.penStyle = dc->pen->penStyle;
    s.penColor = dc->pen->color;
  }
  if (dc->brush && gObjects.count(dc->brush)) {
    s.brushNull = dc->brush->nullBrush;
    s.brushColor = dc->brush->sysColor >= 0 ? GetSysColor(dc->brush->sysColor) : dc->brush->color;
  }
  if (dc->bitmap && gObjects.count(dc->bitmap))
    s.bitmap = dc->bitmap->image;
  return s;
}

// Runs fn with a painter on whatever the context draws into; nothing when it
// draws nowhere (headless, a memory context without a bitmap).
template <typename F> void Paint(Dc *dc, F fn) {
  if (!HaveGui())
    return;
  if (dc->kind == DcKind::Paint && dc->painter) {
    dc->painter->save();
    fn(*dc->painter);
    dc->painter->restore();
    return;
  }
  QImage *target = nullptr;
  {
    std::lock_guard<std::mutex> lock(gGdiMutex);
    if (dc->kind == DcKind::Memory && dc->bitmap && gObjects.count(dc->bitmap))
      target = &dc->bitmap->image;
  }
  if (dc->kind == DcKind::Window || dc->kind == DcKind::Paint)
    target = &dc->scratch;
  if (!target || target->isNull())
    return;
  QPainter painter(target);
  fn(painter);
}

QString CleanText(LPCWSTR text, int count) {
  QString s = vqt::ToQString(text, count);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

int QtFlags(UINT format) {
  int flags = 0;
  if (format & DT_CENTER)
    flags |= Qt::AlignHCenter;
  else if (format & DT_RIGHT)
    flags |= Qt::AlignRight;
  else
    flags |= Qt::AlignLeft;
  if (format & DT_SINGLELINE) {
    flags |= Qt::TextSingleLine;
    if (format & DT_VCENTER)
      flags |= Qt::AlignVCenter;
    else if (format & DT_BOTTOM)
      flags |= Qt::AlignBottom;
    else
      flags |= Qt::AlignTop;
  } else {
    flags |= Qt::AlignTop;
    if (format & DT_WORDBREAK)
      flags |= Qt::TextWordWrap;
  }
  if (format & DT_EXPANDTABS)
    flags |= Qt::TextExpandTabs;
  return flags;
}

// Without fonts: every character half the height wide, lines 1.25 high.
QSize ApproximateExtent(const QString &text, int pixelHeight, int width, UINT format) {
  int charWidth = std::max(1, pixelHeight / 2), lineHeight = pixelHeight + pixelHeight / 4;
  QStringList lines = (format & DT_SINGLELINE) ? QStringList{text} : text.split(QLatin1Char('\n'));
  int widest = 0, count = 0;
  for (const QString &line : lines) {
    int w = static_cast<int>(line.size()) * charWidth;
    if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE) && width > 0 && w > width) {
      int perLine = std::max(1, width / charWidth);
      count += (static_cast<int>(line.size()) + perLine - 1) / perLine;
      widest = std::max(widest, std::min(w, perLine * charWidth));
    } else {
      ++count;
      widest = std::max(widest, w);
    }
  }
  return QSize(widest, count * lineHeight);
}

HDC NewDc(Dc dc) {
  dc.font = Stock(SYSTEM_FONT);
  dc.pen = Stock(BLACK_PEN);
  // A shape drawn on the theme's background is filled with it too.
  dc.brush = dc.themed ? static_cast<GdiObject *>(GetSysColorBrush(COLOR_WINDOW)) : Stock(WHITE_BRUSH);
  auto *d = new Dc(std::move(dc));
  std::lock_guard<std::mutex> lock(gGdiMutex);
  gDcs.insert(d);
  return d;
}

Dc MemoryDc() {
  Dc dc;
  dc.kind = DcKind::Memory;
  return dc;
}

void FreeDc(Dc *dc) {
  {
    std::lock_guard<std::mutex> lock(gGdiMutex);
    gDcs.erase(dc);
  }
  delete dc;
}

} // namespace

namespace vqt {

bool FontOf(HFONT h, QFont *out) {
  if (!HaveGui())
    return false;
  LOGFONTW lf;
  {
    std::lock_guard<std::mutex> lock(gGdiMutex);
    GdiObject *o = Object(h);
    if (!o || o->kind != GdiKind::Font)
      return false;
    lf = o->font;
  }
  *out = MakeFont(lf);
  return true;
}

bool ImageOf(HBITMAP h, QImage *out) {
  std::lock_guard<std::mutex> lock(gGdiMutex);
  GdiObject *o = Object(h);
  if (!o || o->kind != GdiKind::Bitmap)
    return false;
  *out = o->image;
  return true;
}

bool BrushColor(HBRUSH h, QColor *color) {
  // A system colour's role given as a brush, (HBRUSH)(role + 1).
  const auto value = reinterpret_cast<uintptr_t>(h);
  if (value >= 1 && value <= COLOR_BTNTEXT + 1) {
    *color = ColorOf(GetSysColor(static_cast<int>(value) - 1));
    return true;
  }
  std::lock_guard<std::mutex> lock(gGdiMutex);
  GdiObject *o = Object(h);
  if (!o || o->kind != GdiKind::Brush || o->nullBrush)
    return false;
  *color = o->sysColor >= 0 ? ColorOf(GetSysColor(o->sysColor)) : ColorOf(o->color);
  return true;
}

bool IsSysColorBrush(HBRUSH h) {
  std::lock_guard<std::mutex> lock(gGdiMutex);
  GdiObject *o = Object(h);
  return o && o->kind == GdiKind::Brush && o->sysColor >= 0;
}

QImage ReadBuiltInImage(const QByteArray &bytes, const char *format) {
  QByteArray copy = bytes; // QBuffer wants a non-const array; shares the data
  QBuffer buffer(&copy);
  QImageReader reader(&buffer, format);
  // Without this the reader loads every image format plugin first, to ask
  // each whether it would rather read this format itself.
  reader.setAutoDetectImageFormat(false);
  QImage image;
  if (!reader.read(&image))
    return QImage();
  return image;
}

} // namespace vqt

COLORREF GetSysColor(int index) {
  if (!KnownSysColor(index))
    return 0;
  if (!HaveGui()) {
    switch (index) {
    case COLOR_WINDOW:
    case COLOR_HIGHLIGHTTEXT:
      return RGB(255, 255, 255);
    case COLOR_HIGHLIGHT:
      return RGB(0, 120, 215);
    case COLOR_BTNFACE:
      return RGB(240, 240, 240);
    case COLOR_GRAYTEXT:
      return RGB(128, 128, 128);
    default:
      return RGB(0, 0, 0);
    }
  }
  QPalette palette = QGuiApplication::palette();
  switch (index) {
  case COLOR_WINDOW:
    return RefOf(palette.color(QPalette::Window));
  case COLOR_HIGHLIGHT:
    return RefOf(palette.color(QPalette::Highlight));
  case COLOR_HIGHLIGHTTEXT:
    return RefOf(palette.color(QPalette::HighlightedText));
  case COLOR_BTNFACE: // a window's own face: the main window's background
    return RefOf(palette.color(QPalette::Window));
  case COLOR_GRAYTEXT:
    return RefOf(palette.color(QPalette::Disabled, QPalette::WindowText));
  case COLOR_BTNTEXT:
    return RefOf(palette.color(QPalette::ButtonText));
  default:
    return RefOf(palette.color(QPalette::WindowText));
  }
}

HBRUSH GetSysColorBrush(int index) {
  static GdiObject *brushes[std::size(kSysColors)] = {};
  static std::once_flag once;
  std::call_once(once, [] {
    for (size_t i = 0; i < std::size(kSysColors); ++i) {
      GdiObject o;
      o.kind = GdiKind::Brush;
      o.stock = true;
      o.sysColor = kSysColors[i];
      brushes[i] = NewObject(o);
    }
  });
  for (size_t i = 0; i < std::size(kSysColors); ++i)
    if (kSysColors[i] == index)
      return brushes[i];
  return nullptr;
}

namespace {

// A window painted over the theme's background starts with the theme's
// text, background and fill colours; any other keeps black on white.
void ThemeColours(Dc &dc) {
  if (dc.hwnd && vqt::PaletteBackground(dc.hwnd)) {
    dc.themed = true;
    dc.text = GetSysColor(COLOR_WINDOWTEXT);
    dc.background = GetSysColor(COLOR_WINDOW);
  }
}

} // namespace

HDC BeginPaint(HWND hwnd, PAINTSTRUCT *ps) {
  if (!IsWindow(hwnd))
    return nullptr;
  Dc dc;
  dc.kind = DcKind::Paint;
  dc.hwnd = hwnd;
  ThemeColours(dc);
  QRect area;
  dc.painter = vqt::CurrentPainter(hwnd, &area);
  RECT client{};
  GetClientRect(hwnd, &client);
  if (!dc.painter) {
    // Not inside a paint event: draw on a scratch surface and ask for a real
    // paint, which will run the procedure again.
    if (HaveGui() && client.right > 0 && client.bottom > 0)
      dc.scratch = QImage(client.right, client.bottom, QImage::Format_RGB32);
    area = QRect(0, 0, client.right, client.bottom);
    if (vqt::OnUiThread())
      if (QWidget *w = vqt::ClientOf(hwnd))
        w->update();
  }
  HDC h = NewDc(std::move(dc));
  if (ps) {
    std::memset(ps, 0, sizeof *ps);
    ps->hdc = h;
    ps->fErase = TRUE;
    ps->rcPaint = RECT{area.left(), area.top(), area.left() + area.width(), area.top() + area.height()};
  }
  return h;
}

BOOL EndPaint(HWND, const PAINTSTRUCT *ps) {
  if (!ps)
    return FALSE;
  Dc *dc = DcOf(ps->hdc);
  if (!dc || dc->kind != DcKind::Paint)
    return FALSE;
  FreeDc(dc);
  return TRUE;
}

HDC GetDC(HWND hwnd) {
  if (hwnd && !IsWindow(hwnd))
    return nullptr;
  Dc dc;
  dc.kind = DcKind::Window;
  dc.hwnd = hwnd;
  ThemeColours(dc);
  RECT client{0, 0, 480, 640};
  if (hwnd)
    GetClientRect(hwnd, &client);
  if (HaveGui())
    dc.scratch = QImage(std::max<LONG>(1, client.right), std::max<LONG>(1, client.bottom),
                        QImage::Format_RGB32);
  return NewDc(std::move(dc));
}

int ReleaseDC(HWND, HDC hdc) {
  Dc *dc = DcOf(hdc);
  if (!dc || dc->kind != DcKind::Window)
    return 0;
  FreeDc(dc);
  return 1;
}

HDC CreateCompatibleDC(HDC) { return NewDc(MemoryDc()); }

BOOL DeleteDC(HDC hdc) {
  Dc *dc = DcOf(hdc);
  if (!dc)
    return FALSE;
  FreeDc(dc);
  return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ obj) {
  std::lock_guard<std::mutex> lock(gGdiMutex);
  auto *dc = static_cast<Dc *>(hdc);
  GdiObject *o = Object(obj);
  if (!gDcs.count(dc) || !o)
    return nullptr;
  GdiObject **slot = nullptr;
  switch (o->kind) {
  case GdiKind::Font:
    slot = &dc->font;
    break;
  case GdiKind::Pen:
    slot = &dc->pen;
    break;
  case GdiKind::Brush:
    slot = &dc->brush;
    break;
  case GdiKind::Bitmap:
    if (dc->kind != DcKind::Memory)
      return nullptr; // a bitmap goes only into a memory context
    slot = &dc->bitmap;
    break;
  }
  GdiObject *previous = *slot;
  *slot = o;
  if (previous && !gObjects.count(previous))
    previous = nullptr;
  if (!previous && o->kind == GdiKind::Font)
    previous = Stock(SYSTEM_FONT);
  return previous;
}

BOOL DeleteObject(HGDIOBJ obj) {
  std::lock_guard<std::mutex> lock(gGdiMutex);
  GdiObject *o = Object(obj);
  if (!o)
    return FALSE;
  if (o->stock)
    return TRUE;
  gObjects.erase(o);
  for (Dc *dc : gDcs)
    for (GdiObject **slot : {&dc->font, &dc->pen, &dc->brush, &dc->bitmap})
      if (*slot == o)
        *slot = nullptr;
  delete o;
  return TRUE;
}

HGDIOBJ GetStockObject(int which) { return Stock(which); }

HFONT CreateFontIndirectW(const LOGFONTW *font) {
  if (!font)
    return nullptr;
  GdiObject o;
  o.kind = GdiKind::Font;
  o.font = *font;
  o.font.lfFaceName[LF_FACESIZE - 1] = 0;
  return NewObject(o);
}

HPEN CreatePen(int style, int width, COLORREF color) {
  GdiObject o;
  o.kind = GdiKind::Pen;
  o.penStyle = style;
  o.penWidth = std::clamp(width, 1, 1000);
  o.color = color;
  return NewObject(o);
}

HBRUSH CreateSolidBrush(COLORREF color) {
  GdiObject o;
  o.kind = GdiKind::Brush;
  o.color = color;
  return NewObject(o);
}

int GetObjectW(HGDIOBJ obj, int size, LPVOID out) {
  BITMAP bm{};
  {
    std::lock_guard<std::mutex> lock(gGdiMutex);
    GdiObject *o = Object(obj);
    if (!o || o->kind != GdiKind::Bitmap)
      return 0;
    bm.bmWidth = o->image.width();
    bm.bmHeight = o->image.height();
    bm.bmWidthBytes = static_cast<LONG>(o->image.bytesPerLine());
    bm.bmPlanes = 1;
    bm.bmBitsPixel = static_cast<WORD>(o->image.depth());
  }
  if (!out)
    return sizeof bm;
  int n = std::clamp(size, 0, static_cast<int>(sizeof bm));
  std::memcpy(out, &bm, n);
  return n;
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
  Dc *dc = DcOf(hdc);
  if (!dc)
    return 0xFFFFFFFFu;
  return std::exchange(dc->text, color);
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
  Dc *dc = DcOf(hdc);
  if (!dc)
    return 0xFFFFFFFFu;
  return std::exchange(dc->background, color);
}

int SetBkMode(HDC hdc, int mode) {
  Dc *dc = DcOf(hdc);
  if (!dc || (mode != OPAQUE && mode != TRANSPARENT))
    return 0;
  return std::exchange(dc->bkMode, mode);
}

int FillRect(HDC hdc, const RECT *rect, HBRUSH brush) {
  Dc *dc = DcOf(hdc);
  QColor color;
  if (!dc || !rect || !vqt::BrushColor(brush, &color))
    return 0;
  QRect r(QPoint(rect->left, rect->top), QPoint(rect->right - 1, rect->bottom - 1));
  Paint(dc, [&](QPainter &p) { p.fillRect(r, color); });
  return 1;
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  Dc *dc = DcOf(hdc);
  if (!dc)
    return FALSE;
  Selection s = SelectionOf(dc);
  Paint(dc, [&](QPainter &p) {
    // The outline lies inside the rectangle, which excludes its right and
    // bottom edges.
    QRect r(QPoint(left, top), QPoint(right - 1, bottom - 1));
    if (!s.brushNull)
      p.fillRect(r, ColorOf(s.brushColor));
    if (!s.penNull) {
      QPen pen(ColorOf(s.penColor), s.penWidth);
      pen.setJoinStyle(Qt::MiterJoin);
      if (s.penStyle == PS_DASH)
        pen.setStyle(Qt::DashLine);
      else if (s.penStyle == PS_DOT)
        pen.setStyle(Qt::DotLine);
      p.setPen(pen);
      p.setBrush(Qt::NoBrush);
      int inset = s.penWidth / 2;
      p.drawRect(r.adjusted(inset, inset, -(s.penWidth - 1 - inset), -(s.penWidth - 1 - inset)));
    }
  });
  return TRUE;
}

int DrawTextW(HDC hdc, LPCWSTR text, int count, RECT *rect, UINT format) {
  Dc *dc = DcOf(hdc);
  if (!dc || !text || !rect)
    return 0;
  QString s = CleanText(text, count);
  Selection sel = SelectionOf(dc);
  int width = std::max<LONG>(0, rect->right - rect->left);
  int flags = QtFlags(format);
  QSize extent;
  QFont font;
  bool gui = HaveGui();
  if (gui) {
    font = MakeFont(sel.font);
    QFontMetrics metrics(font);
    bool wrap = (flags & Qt::TextWordWrap) != 0;
    QRect bounds = metrics.boundingRect(QRect(0, 0, wrap ? std::max(1, width) : 1 << 20, 1 << 20),
                                        flags & ~(Qt::AlignHCenter | Qt::AlignRight | Qt::AlignVCenter |
                                                  Qt::AlignBottom),
                                        s);
    extent = s.isEmpty() ? QSize(0, 0) : bounds.size();
  } else {
    int h = sel.font.lfHeight ? std::abs(sel.font.lfHeight) : DefaultPixelHeight();
    extent = s.isEmpty() ? QSize(0, 0) : ApproximateExtent(s, h, width, format);
  }
  if (format & DT_CALCRECT) {
    rect->right = rect->left + extent.width();
    rect->bottom = rect->top + extent.height();
    return extent.height();
  }
  if (s.isEmpty())
    return 0;
  if (dc->kind == DcKind::Paint && dc->painter)
    vqt::NotePaintedText(dc->hwnd, s);
  QRect area(QPoint(rect->left, rect->top), QPoint(rect->right - 1, rect->bottom - 1));
  Paint(dc, [&](QPainter &p) {
    p.setFont(font);
    if (!(format & DT_NOCLIP))
      p.setClipRect(area, Qt::IntersectClip);
    if (dc->bkMode == OPAQUE) {
      QRect textArea = QFontMetrics(font).boundingRect(area, flags, s);
      p.fillRect(textArea.intersected(area.isValid() ? area : textArea), ColorOf(dc->background));
    }
    p.setPen(ColorOf(dc->text));
    p.drawText(area, flags, s);
  });
  return extent.height();
}

namespace {

// A picture drawn while a window paints sits on the window's own
// background (its class brush; the theme's for dialogs and for a brush of a
// system colour): the white around it (white pixels joined to its edges)
// takes the background colour, so that in a dark or coloured theme it shows
// as the shape it draws, not as a white block. The pixels that blend the
// shape's outline into that white are blended into the background instead.
// White inside the shape (a key's face, a letter's hole) stays white.
QImage OnBackground(const QImage &picture, const QColor &background) {
  constexpr QRgb kWhite = 0xFFFFFFu;
  QImage image = picture.convertToFormat(QImage::Format_RGB32);
  const int w = image.width(), h = image.height();
  if (w <= 0 || h <= 0 || (background.rgb() & 0xFFFFFFu) == kWhite)
    return image;
  // The pixels are read and written through their rows: this runs at every
  // paint of a picture, and a call per pixel (each checking its place and
  // the image's format) cost more than the rest of the main window's paint.
  // The picture is RGB32 here, whose pixels read as 0xffRRGGBB.
  const uchar *const bits = image.constBits();
  const qsizetype stride = image.bytesPerLine();
  const auto at = [bits, stride](int x, int y) {
    return 0xFF000000u | reinterpret_cast<const QRgb *>(bits + y * stride)[x];
  };
  auto white = [&at](int x, int y) { return (at(x, y) & 0xFFFFFFu) == kWhite; };
  // The white joined to the edges, found by a fill from the edges' white.
  const size_t count = static_cast<size_t>(w) * h;
  std::vector<uint8_t> outside(count, 0);
  std::vector<int32_t> todo; // pixel indices still to spread from
  auto reach = [&](int x, int y) {
    const size_t i = static_cast<size_t>(y) * w + x;
    if (outside[i] || !white(x, y))
      return;
    outside[i] = 1;
    todo.push_back(static_cast<int32_t>(i));
  };
  for (int x = 0; x < w; ++x) {
    reach(x, 0);
    reach(x, h - 1);
  }
  for (int y = 0; y < h; ++y) {
    reach(0, y);
    reach(w - 1, y);
  }
  while (!todo.empty()) {
    const int32_t i = todo.back();
    todo.pop_back();
    const int x = i % w, y = i / w;
    if (x + 1 < w)
      reach(x + 1, y);
    if (x > 0)
      reach(x - 1, y);
    if (y + 1 < h)
      reach(x, y + 1);
    if (y > 0)
      reach(x, y - 1);
  }
  auto isOutside = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < w && y < h && outside[static_cast<size_t>(y) * w + x];
  };
  // Which pixels have white of the outside among their eight neighbours (or
  // are such white themselves): the outside spread by one pixel, along the
  // rows and then along the columns.
  std::vector<uint8_t> across(count, 0), near(count, 0);
  for (int y = 0; y < h; ++y) {
    const uint8_t *in = outside.data() + static_cast<size_t>(y) * w;
    uint8_t *out = across.data() + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x)
      out[x] = in[x] | (x > 0 ? in[x - 1] : 0) | (x + 1 < w ? in[x + 1] : 0);
  }
  for (int y = 0; y < h; ++y) {
    const uint8_t *mid = across.data() + static_cast<size_t>(y) * w;
    const uint8_t *up = y > 0 ? mid - w : nullptr, *down = y + 1 < h ? mid + w : nullptr;
    uint8_t *out = near.data() + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x)
      out[x] = mid[x] | (up ? up[x] : 0) | (down ? down[x] : 0);
  }
  auto darkness = [](QRgb c) { return 765 - qRed(c) - qGreen(c) - qBlue(c); };
  QImage result = image;
  const QRgb fill = 0xFF000000u | background.rgb();
  for (int y = 0; y < h; ++y) {
    QRgb *row = reinterpret_cast<QRgb *>(result.scanLine(y));
    const uint8_t *outsideRow = outside.data() + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x) {
      if (outsideRow[x]) {
        row[x] = fill;
        continue;
      }
      // A pixel of the shape beside the white around it: taken as the
      // darkest colour near it, partly covering white; that part now
      // covers the background.
      if (!near[static_cast<size_t>(y) * w + x])
        continue;
      const QRgb own = at(x, y);
      QRgb shape = own;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
          if (x + dx >= 0 && y + dy >= 0 && x + dx < w && y + dy < h && !isOutside(x + dx, y + dy) &&
              darkness(at(x + dx, y + dy)) > darkness(shape))
            shape = at(x + dx, y + dy);
      if (darkness(shape) < 48)
        continue;
      const double cover = std::clamp(static_cast<double>(darkness(own)) / darkness(shape), 0.0, 1.0);
      auto mix = [cover](int a, int b) { return static_cast<int>(a * cover + b * (1 - cover) + 0.5); };
      row[x] = qRgb(mix(qRed(shape), qRed(fill)), mix(qGreen(shape), qGreen(fill)),
                    mix(qBlue(shape), qBlue(fill)));
    }
  }
  return result;
}

} // namespace

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop) {
  Dc *to = DcOf(dest);
  Dc *from = DcOf(src);
  if (!to || !from || rop != SRCCOPY || width <= 0 || height <= 0)
    return FALSE;
  QImage image = SelectionOf(from).bitmap;
  if (image.isNull())
    return FALSE;
  QColor background;
  if (to->kind == DcKind::Paint && to->hwnd && vqt::ClassBackground(to->hwnd, &background))
    image = OnBackground(image, background);
  Paint(to, [&](QPainter &p) { p.drawImage(QPoint(x, y), image, QRect(srcX, srcY, width, height)); });
  return TRUE;
}

HBITMAP SHLoadDIBitmap(LPCWSTR path) {
  if (!path)
    return nullptr;
  std::string host = HostPathFor(path);
  if (host.empty())
    return nullptr;
  QFile file(QString::fromStdString(host));
  // A picture larger than this is not one of the program's.
  if (!file.open(QIODevice::ReadOnly) || file.size() > static_cast<qint64>(kBmpMaxFileBytes))
    return nullptr;
  QByteArray bytes = file.readAll();
  // Check the headers before decoding: a damaged file is refused, not
  // guessed at.
  if (!BmpHeadersSound(reinterpret_cast<const uint8_t *>(bytes.constData()),
                       static_cast<size_t>(bytes.size()))) {
    PlatformTrace("SHLoadDIBitmap: %s is not a sound BMP picture; not loaded", host.c_str());
    return nullptr;
  }
  QImage image = vqt::ReadBuiltInImage(bytes, "BMP");
  if (image.isNull())
    return nullptr;
  GdiObject o;
  o.kind = GdiKind::Bitmap;
  o.image = image.convertToFormat(QImage::Format_RGB32);
  return NewObject(o);
}

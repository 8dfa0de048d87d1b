// Small shared helpers: text conversion, the control class names and the
// painter of the paint event under way.
#include "platform/qt/qt_internal.h"

#include <QString>

#include <unordered_map>

namespace vqt {

QString ToQString(LPCWSTR text, int count) {
  if (!text)
    return QString();
  if (count < 0)
    count = static_cast<int>(std::char_traits<char16_t>::length(text));
  return QString::fromUtf16(text, count);
}

std::u16string FromQString(const QString &text) { return text.toStdU16String(); }

bool IsControlClass(const std::u16string &className) {
  std::u16string folded = className;
  for (char16_t &c : folded)
    if (c >= u'a' && c <= u'z')
      c = static_cast<char16_t>(c - 32);
  return folded == u"BUTTON" || folded == u"COMBOBOX" || folded == u"LISTBOX" ||
         folded == u"EDIT" || folded == u"STATIC";
}

namespace {
struct PaintSlot {
  QPainter *painter;
  QRect rect;
};
std::unordered_map<HWND, PaintSlot> &Slots() {
  static std::unordered_map<HWND, PaintSlot> paintSlots; // user-interface thread only
  return paintSlots;
}
} // namespace

QPainter *CurrentPainter(HWND hwnd, QRect *paintRect) {
  if (!OnUiThread())
    return nullptr;
  auto it = Slots().find(hwnd);
  if (it == Slots().end())
    return nullptr;
  if (paintRect)
    *paintRect = it->second.rect;
  return it->second.painter;
}

void SetCurrentPainter(HWND hwnd, QPainter *painter, const QRect &rect) {
  if (painter)
    Slots()[hwnd] = PaintSlot{painter, rect};
  else
    Slots().erase(hwnd);
}

} // namespace vqt

#include "platform/win/shell/dialog_bytes.h"

#include "platform/text.h"

namespace {

void Put(std::vector<WORD> &out, DWORD value) {
  out.push_back(static_cast<WORD>(value & 0xFFFF));
  out.push_back(static_cast<WORD>(value >> 16));
}

void PutText(std::vector<WORD> &out, LPCWSTR text) {
  for (const WCHAR *p = text ? text : u""; *p; ++p)
    out.push_back(static_cast<WORD>(*p));
  out.push_back(0);
}

void AlignDword(std::vector<WORD> &out) {
  if (out.size() % 2)
    out.push_back(0);
}

} // namespace

std::vector<WORD> Win32DialogBytes(const DLGTEMPLATE &tmpl) {
  std::vector<WORD> out;
  Put(out, tmpl.style | DS_SETFONT);
  Put(out, tmpl.exStyle);
  const UINT count = tmpl.items ? tmpl.itemCount : 0;
  out.push_back(static_cast<WORD>(count));
  out.push_back(static_cast<WORD>(tmpl.x));
  out.push_back(static_cast<WORD>(tmpl.y));
  out.push_back(static_cast<WORD>(tmpl.cx));
  out.push_back(static_cast<WORD>(tmpl.cy));
  out.push_back(0); // no menu
  out.push_back(0); // the dialog class
  PutText(out, ResourceText(tmpl.caption));
  out.push_back(tmpl.pointSize ? tmpl.pointSize : 8);
  PutText(out, tmpl.fontName && *tmpl.fontName ? tmpl.fontName : u"MS Shell Dlg");
  for (UINT i = 0; i < count; ++i) {
    const DLGITEMTEMPLATEW &item = tmpl.items[i];
    AlignDword(out);
    Put(out, item.style | WS_CHILD);
    Put(out, item.exStyle);
    out.push_back(static_cast<WORD>(item.x));
    out.push_back(static_cast<WORD>(item.y));
    out.push_back(static_cast<WORD>(item.cx));
    out.push_back(static_cast<WORD>(item.cy));
    out.push_back(static_cast<WORD>(item.id));
    PutText(out, item.className);
    PutText(out, ResourceText(item.text));
    out.push_back(0); // no creation data
  }
  return out;
}

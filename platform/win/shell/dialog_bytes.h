// The program's dialog template (platform/resource_formats.h) as Win32's
// in-memory DLGTEMPLATE: the header, then per control its
// DLGITEMTEMPLATE, each DWORD-aligned, strings as UTF-16 with their
// terminators, classes by name; the texts as ResourceText gives them.
// DS_SETFONT is added when the template names
// a font (MS Shell Dlg, 8 points otherwise) so that every dialog has one.
#pragma once

#include "platform/resource_formats.h"

#include <vector>

// The bytes, in WORDs (the vector's data is DWORD-aligned enough for
// Win32's reader).
std::vector<WORD> Win32DialogBytes(const DLGTEMPLATE &tmpl);

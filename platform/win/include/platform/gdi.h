// Windows build: drawing is GDI's own.
#pragma once

#include "platform/window.h"

// Loads a .bmp file (the program's path) as a GDI bitmap owned by the
// caller (DeleteObject); null when the file is missing or no bitmap.
HBITMAP SHLoadDIBitmap(LPCWSTR path);

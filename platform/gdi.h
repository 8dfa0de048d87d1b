// Drawing: device contexts, fonts, pens, brushes, bitmaps and text (the
// window geometry calls painting needs are in window.h). A device context (HDC) paints
// into a window during WM_PAINT, into a memory bitmap, or (GetDC) onto a
// scratch surface of the window's size that is only good for measuring.
// Text is measured and drawn with the same font, so a loop that measures
// with DT_CALCRECT sees what drawing will produce.
//
// Ownership: objects made by Create* belong to the caller and are released
// with DeleteObject (DeleteDC for memory contexts); stock objects are never
// released (DeleteObject of one is a harmless no-op). A context from
// BeginPaint is ended with EndPaint, one from GetDC with ReleaseDC. Deleting
// an object that is still selected is tolerated: the context falls back to
// its default. Every call accepts null or stale handles and then does
// nothing (returning 0/FALSE). Without the desktop toolkit (headless) the
// calls keep their bookkeeping, draw nothing, and measure text with a fixed
// approximate metric so that layout loops still end.
#pragma once

#include "platform/window.h"

typedef DWORD COLORREF;
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r)) | ((WORD)((BYTE)(g)) << 8) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(c) ((BYTE)(c))
#define GetGValue(c) ((BYTE)(((WORD)(c)) >> 8))
#define GetBValue(c) ((BYTE)((c) >> 16))

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};

#define LF_FACESIZE 32
struct LOGFONTW {
  LONG lfHeight; // pixels; 0 = the default height; negative = character height
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight; // 0 = normal, 400 normal, 500 medium, 700 bold
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE]; // empty = the desktop's default face
};
#define FW_NORMAL 400
#define FW_MEDIUM 500
#define FW_BOLD 700

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits; // always null: the pixels stay with the platform
};

// GetStockObject.
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define SYSTEM_FONT 13
#define DEFAULT_GUI_FONT 17

// CreatePen styles.
#define PS_SOLID 0
#define PS_DASH 1
#define PS_DOT 2
#define PS_NULL 5

// SetBkMode.
#define TRANSPARENT 1
#define OPAQUE 2

// DrawTextW formats.
#define DT_TOP 0x00000000u
#define DT_LEFT 0x00000000u
#define DT_CENTER 0x00000001u
#define DT_RIGHT 0x00000002u
#define DT_VCENTER 0x00000004u
#define DT_BOTTOM 0x00000008u
#define DT_WORDBREAK 0x00000010u
#define DT_SINGLELINE 0x00000020u
#define DT_EXPANDTABS 0x00000040u
#define DT_NOCLIP 0x00000100u
#define DT_CALCRECT 0x00000400u
#define DT_NOPREFIX 0x00000800u

// BitBlt raster operations.
#define SRCCOPY 0x00CC0020u

// Inside WM_PAINT: the context that paints into the window; the background
// has been filled with the class brush already (ps->fErase is always TRUE,
// rcPaint the area being painted). Called outside a paint event it draws on
// a scratch surface that is not shown and asks for a real paint, which runs
// the procedure again (Win32 would paint the invalid region). Unlike Win32
// it does not validate the window. Returns null for an unknown window.
HDC BeginPaint(HWND hwnd, PAINTSTRUCT *ps);
// FALSE when ps is null or not from BeginPaint.
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT *ps);
// A context of the window's client size (hwnd null: 480 x 640) for
// measuring; what is drawn on it is not shown (unlike Win32). Null for an
// unknown window. Release it with ReleaseDC, which returns 1, or 0 for a
// context not from GetDC.
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC hdc);
// A memory context: select a bitmap into it and BitBlt from it. DeleteDC
// (FALSE for a bad context); the bitmap selected stays the caller's.
// GetSysColor and GetSysColorBrush: the desktop theme's colours. The
// window's own background (COLOR_WINDOW), its text, a selection and its
// text, a button's face and text, text that is greyed out.
#define COLOR_WINDOW 5
#define COLOR_WINDOWTEXT 8
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18

// The theme's colour for a COLOR_ index as it is now (light, dark or high
// contrast); without a display black text on white. 0 for an unknown index.
COLORREF GetSysColor(int index);
// A brush that always paints the theme's current colour of a COLOR_ index
// (never to be released, like a stock object); null for an unknown index.
// A window class with such a background has its painting follow the theme:
// its contexts start with the theme's text and background colours.
// A class background given as (HBRUSH)(index + 1), the Win32 idiom, is
// filled with the index's current colour at each paint too.
HBRUSH GetSysColorBrush(int index);

HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);

// Returns the object of the same kind that was selected before (a font for a
// font, ...; the stock SYSTEM_FONT when none was), or null for a bad handle,
// when nothing of that kind was selected, or for a bitmap given to anything
// but a memory context. Selecting a bitmap into a memory context makes it
// the source of BitBlt. The context does not own what is selected.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ obj);
// TRUE when the object was released (or is a stock object); FALSE for a bad
// handle. Unlike Win32, an object still selected may be deleted.
BOOL DeleteObject(HGDIOBJ obj);
// A stock object (never to be released), or null for an unknown index.
HGDIOBJ GetStockObject(int which);
// Only lfHeight, lfWeight, lfItalic, lfUnderline and lfFaceName are used;
// the description is copied. Null for a null font.
HFONT CreateFontIndirectW(const LOGFONTW *font);
// The width is kept within 1 .. 1000 pixels.
HPEN CreatePen(int style, int width, COLORREF color);
HBRUSH CreateSolidBrush(COLORREF color);
// For a bitmap: fills a BITMAP (at most size bytes; 24 bytes are enough for
// bmType to bmBitsPixel) and returns the bytes written; 0 for other objects
// or a bad handle; with out null, the size of a whole BITMAP.
int GetObjectW(HGDIOBJ obj, int size, LPVOID out);

// Return the previous value; 0xFFFFFFFF (CLR_INVALID) for a bad context.
COLORREF SetTextColor(HDC hdc, COLORREF color);
COLORREF SetBkColor(HDC hdc, COLORREF color);
// Returns the previous mode; 0 for a bad context or a mode other than
// TRANSPARENT and OPAQUE.
int SetBkMode(HDC hdc, int mode);

// Fills the rectangle (right and bottom edges excluded). Returns 1; 0 for a
// bad context, a null rectangle, or a bad or null brush.
int FillRect(HDC hdc, const RECT *rect, HBRUSH brush);
// Outline with the selected pen, inside filled with the selected brush.
BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom);
// Draws (or with DT_CALCRECT only measures) text; count -1 = up to the
// terminator. DT_CALCRECT keeps left/top and sets right/bottom to the extent
// of the text as it would be drawn: with DT_WORDBREAK wrapped at the given
// width, otherwise on one line. Returns the height of the text.
int DrawTextW(HDC hdc, LPCWSTR text, int count, RECT *rect, UINT format);
// Copies from a memory context's bitmap (only SRCCOPY). FALSE for a bad
// context, another raster operation, an empty size or no bitmap selected.
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop);

// Loads a BMP file (a device path, relative to the device root). Returns a
// bitmap the caller deletes with DeleteObject, or null when the file is
// missing, unreadable or damaged.
HBITMAP SHLoadDIBitmap(LPCWSTR path);

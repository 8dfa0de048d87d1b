// The real Win32 API for the program's logic when it is built for Windows.
//
// The logic keeps its text in UTF-16 as char16_t (u"..." literals,
// std::u16string). Windows' wide text is UTF-16 too, but its headers spell
// it wchar_t, a distinct C++ type of the same size. The Win32 calls have C
// linkage, so their symbols do not depend on the parameter types: the
// headers are read here with wchar_t standing for char16_t, which makes
// WCHAR, LPWSTR and LPCWSTR char16_t based and every W call take the
// logic's strings as they are. The C library's own wide headers are read
// first, unchanged, so that its wchar_t functions keep their real types;
// the logic's char16_t versions of them are overloads (platform/text.h).
//
// Three Win32 names are taken over by the program's own kinds, which have
// the same names in its resource tables (platform/resource_formats.h):
// Win32's DLGTEMPLATE is read here as Win32DlgTemplate. The 64-bit window
// slots replace the 32-bit ones the logic names (GWL_USERDATA, DWL_USER,
// GetWindowLongW): a pointer kept in a 32-bit slot would be cut in half.
#pragma once

#if !defined(_WIN32)
#error "platform/win/windows_api.h is for the Windows build only"
#endif

#include <cctype>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

// stralign.h's inline helpers call the C library with wchar_t text: the
// program does not use them.
#define __STRALIGN_H_
#define wchar_t char16_t
#define DLGTEMPLATE Win32DlgTemplate
#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>
#include <commctrl.h>
#undef DLGTEMPLATE
#undef wchar_t

// Win32 has these as macros naming the ANSI or wide call; the logic names
// the wide calls itself, and some of its own words (a member called
// "SendMessage", a function "DrawText") must not be renamed.
#undef CreateWindow
#undef DrawText
#undef LoadString
#undef SendMessage
#undef PostMessage
#undef MessageBox
#undef CreateFile
#undef DeleteFile
#undef FindResource
#undef LoadMenu
#undef LoadIcon
#undef LoadCursor
#undef RegisterClass
#undef PlaySound
#undef GetObject
#undef FindWindow
#undef GetMessage
#undef DispatchMessage
#undef Rectangle

// The 64-bit slots for what the logic keeps in a window or dialog.
#undef GetWindowLongW
#undef SetWindowLongW
#define GetWindowLongW GetWindowLongPtrW
#define SetWindowLongW SetWindowLongPtrW
#define GWL_USERDATA GWLP_USERDATA
#define GWL_WNDPROC GWLP_WNDPROC
#define DWL_MSGRESULT DWLP_MSGRESULT
#define DWL_DLGPROC DWLP_DLGPROC
#define DWL_USER DWLP_USER

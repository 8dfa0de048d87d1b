// Key injection: the three calls the key logic uses, and the table of
// operations that a backend provides. The backend is chosen once at start-up
// (VANTREL_INJECT: "wayland", "portal", "uinput", "xtest", "log",
// "log:PATH"; by default the first that works of wayland -> portal -> uinput
// -> xtest -> log, portal and xtest by default only in Wayland and X11
// sessions respectively; see inject/select_chain.h), each
// candidate checking that it can work, with a trace line for every choice and
// failure. Tests install a recording backend of their own.
//
// What the calls mean here:
// - keybd_event: a press (no KEYEVENTF_KEYUP) or release of virtual key vk.
//   Modifier and lock keys (VK_SHIFT, VK_CONTROL, VK_CAPITAL, ...) act on the
//   keys that follow, as on a real keyboard.
// - PostKeybdMessage: types chars[0..count) (UTF-16 code units; a surrogate
//   pair within one call is one character, a lone surrogate is skipped) into
//   the focused window; 8, 9, 13 and 27 type Backspace, Tab, Enter and Esc.
//   vk, keyStateFlags and shiftStates are not needed to type the text.
// - SendInput: each INPUT_KEYBOARD record without KEYEVENTF_KEYUP is a whole
//   key press (down and up): the caller sends no key-up, and a key left down
//   on the host would repeat and stay stuck. A record with KEYEVENTF_KEYUP
//   therefore does nothing. Records of other types are skipped.
#pragma once

#include "platform/wintypes.h"

#include <string>

#define KEYEVENTF_EXTENDEDKEY 0x0001
#define KEYEVENTF_KEYUP 0x0002
#define KEYEVENTF_SILENT 0x0004
#define KEYEVENTF_UNICODE 0x0004

#define INPUT_MOUSE 0
#define INPUT_KEYBOARD 1

#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_CAPITAL 0x14
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_LWIN 0x5B
#define VK_F1 0x70
#define VK_F2 0x71
#define VK_F6 0x75
#define VK_F7 0x76
#define VK_OEM_1 0xBA
#define VK_OEM_PLUS 0xBB
#define VK_OEM_COMMA 0xBC
#define VK_OEM_MINUS 0xBD
#define VK_OEM_PERIOD 0xBE
#define VK_OEM_2 0xBF
#define VK_OEM_3 0xC0
#define VK_OEM_4 0xDB
#define VK_OEM_5 0xDC
#define VK_OEM_6 0xDD
#define VK_OEM_7 0xDE

struct KEYBDINPUT {
  WORD wVk;
  WORD wScan;
  DWORD dwFlags;
  DWORD time;
  uintptr_t dwExtraInfo;
};

struct INPUT {
  DWORD type;
  KEYBDINPUT ki;
};

// keybd_event: virtual key vk (low 8 bits), scan code, flags (KEYEVENTF_*),
// extra information.
void keybd_event(BYTE vk, BYTE scan, DWORD flags, DWORD extraInfo);
// PostKeybdMessage: posts characters to window hwnd (-1: the window with the
// keyboard focus). chars holds count characters; shiftStates holds their key
// state flags (may be null). Returns TRUE when posted; FALSE when chars is
// null with count > 0, no backend is installed or the keys were dropped
// (InjectGuardOwnWindows).
BOOL PostKeybdMessage(HWND hwnd, UINT vk, UINT keyStateFlags, UINT count, const UINT *shiftStates,
                      const UINT *chars);
// SendInput: cbSize is the record size the caller passes (28 on the handheld).
// Returns the number of records taken (0 when inputs is null or no backend
// is installed).
UINT SendInput(UINT count, const INPUT *inputs, int cbSize);
// Sends what the installed backend holds back (see InjectOps::flush). The
// thread that injects calls it before it waits for input; cheap when there
// is nothing to send.
void InjectFlush();

#include "platform/inject_table.h"

// Windows build: key injection into the foreground window with Win32's
// SendInput. The three calls keep the meaning the key logic gives them (see
// the other build's platform/inject.h), which differs from Win32's:
// - keybd_event: a press or release of virtual key vk; modifiers act on the
//   keys that follow. KEYEVENTF_SILENT (the handheld's "no click") reaches
//   the backend as the logic gave it; the SendInput backend never reads it
//   as Win32's KEYEVENTF_UNICODE of the same value.
// - PostKeybdMessage: types chars[0..count) into the foreground window:
//   with the virtual key the foreground thread's layout has for the
//   character (VkKeyScanExW), else as the character itself
//   (KEYEVENTF_UNICODE). 8, 9, 13 and 27 type Backspace, Tab, Enter, Esc.
// - SendInput: each keyboard record without KEYEVENTF_KEYUP is a whole key
//   press (down and up); one with it does nothing. The records' own size
//   (cbSize) is the caller's, not Win32's.
// What is injected goes through a table of operations (InjectOps, in
// platform/inject_table.h, shared with the other build) that tests replace
// with a recorder.
#pragma once

#include "platform/wintypes.h"

#include <string>

#define KEYEVENTF_SILENT 0x0004

void VantrelKeybdEvent(BYTE vk, BYTE scan, DWORD flags, DWORD extraInfo);
BOOL PostKeybdMessage(HWND hwnd, UINT vk, UINT keyStateFlags, UINT count, const UINT *shiftStates,
                      const UINT *chars);
UINT VantrelSendInput(UINT count, const INPUT *inputs, int cbSize);
#define keybd_event VantrelKeybdEvent
#define SendInput VantrelSendInput
// Nothing is held back here.
void InjectFlush();

#include "platform/inject_table.h"

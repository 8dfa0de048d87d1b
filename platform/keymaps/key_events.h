// The input events that type keys and characters on a kernel virtual
// keyboard, kept apart from the device so that they can be written to any
// file descriptor (the device's, or a test's pipe). Keys are named by their
// position on a US keyboard (KEY_* of linux/input-event-codes.h); each press
// or release is followed by a SYN_REPORT so that it is delivered on its own.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>
#include <vector>

struct KeyInputEvent {
  uint16_t type;
  uint16_t code;
  int32_t value;
};

// The US key position of virtual key vk; 0 when the key has none.
unsigned UinputKeyForVk(BYTE vk);

// Appends a press (down) or release of key.
void AppendKeyEvent(std::vector<KeyInputEvent> &out, unsigned key, bool down);
// Appends press and release of key, inside Shift when shifted.
void AppendKeyTap(std::vector<KeyInputEvent> &out, unsigned key, bool shifted);
// Appends what types code point cp: printable ASCII by its US key position
// (with Shift where the US keyboard needs it); 8, 9, 10, 13, 27 and 127 as
// Backspace, Tab, Enter, Enter, Esc and Delete; any other character below
// 0x110000 through Ctrl+Shift+U, its hexadecimal digits and Space, the entry
// GTK and IBus understand. Returns false (appending nothing) for 0, for other
// control characters and for surrogates and values beyond Unicode.
bool AppendCharacter(std::vector<KeyInputEvent> &out, uint32_t cp);

// Writes the events to fd as struct input_event records, retrying short
// writes and EINTR. Returns true when every event was written.
bool WriteKeyEvents(int fd, const std::vector<KeyInputEvent> &events);

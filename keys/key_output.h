// The building blocks that send a key stroke or a character to the host.
// Every virtual key handed to keybd_event is the low 8 bits of the value
// given. None of them reports a result: a failed injection is silent.
//
// While the key test is open (AppGlobals.keyTestDialog), the blocks that
// type a key or a character post WM_KEY_TEST_CHAR to it instead, with the
// virtual key (Shift and caps lock left out) or the character; pressKey and
// releaseKey (the Ctrl shortcuts) act as always, and postBackspace (which
// erases a spacing accent or AltGr alternative) does nothing, since what it
// would erase went to the test.
#pragma once

#include <cstdint>

// keybd_event down: virtual key, scan 0, KEYEVENTF_SILENT, extra 1.
void pressKey(int32_t vk);
// keybd_event up: virtual key, scan 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT,
// extra 0xC0000001.
void releaseKey(int32_t vk);
// press, release.
void tapKey(int32_t vk);
// press VK_SHIFT, tap vk, release VK_SHIFT.
void shiftedTapKey(int32_t vk);
// tap VK_CAPITAL, tap vk, tap VK_CAPITAL: caps lock on for one key.
void capsTapKey(int32_t vk);
// PostKeybdMessage to the focus window (-1) of character c with key-state
// flags 1.
void postCharacter(uint32_t c);
// SendInput of one keyboard record (size 28): vk down, no key-up.
void sendKeyDown(int32_t vk);
// PostKeybdMessage of VK_BACK with the flags that erase one character.
void postBackspace();
// PostKeybdMessage of the euro sign U+20AC (layout code 8364).
void postEuroSign();

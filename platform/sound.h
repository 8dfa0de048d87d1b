// Sounds: the program's WAVE resources played asynchronously. A click never
// delays the key it belongs to; a new sound may cut the one playing; with no
// audio device the call is silent and still succeeds.
#pragma once

#include "platform/sounds.h"
#include "platform/wintypes.h"

#define SND_SYNC 0x0000u
#define SND_ASYNC 0x0001u
#define SND_NODEFAULT 0x0002u
#define SND_MEMORY 0x0004u
#define SND_NOSTOP 0x0010u
#define SND_NOWAIT 0x00002000u
#define SND_RESOURCE 0x00040004u
#define SND_FILENAME 0x00020000u

typedef HINSTANCE HMODULE;

// name: MAKEINTRESOURCEW(id) of one of the program's sounds, with
// SND_RESOURCE. Returns TRUE when the sound was started (or silently skipped
// for lack of an audio device), FALSE for another sound, a name that is not
// an identifier, or flags without SND_RESOURCE (files and memory images are
// not played). Unlike Win32 every sound plays asynchronously, whatever the
// flags; module is ignored.
BOOL PlaySoundW(LPCWSTR name, HMODULE module, DWORD flags);

// The key test: asks for the keys listed in "testmode.txt" one by one and
// checks what arrives. Runs once, at the first connection after a start with
// that file in InstallDir.
#pragma once

#include "platform/wintypes.h"

// Runs the key test dialog (template 132) modally, owned by owner; returns
// when it has closed. Opens nothing when the template is not present.
void runKeyTest(HWND owner);

// Windows build: the controls are Win32's own (the common controls).
#pragma once

#include "platform/window.h"

// Registers the common controls' classes; safe to call again.
void RegisterControlClasses();

// Shared between the power manager's parts.
#pragma once

// Requirements (requirements.cpp): how many backlight requirements are held.
int HeldBacklightRequirements();

// Wakes the manager's thread to work out the state again (power_manager.cpp).
void PowerManagerReevaluate();

// The desktop's keep-awake services (inhibitors.cpp). Each returns true when
// the inhibit is held afterwards; a missing service is traced and false.
bool AcquireLogindInhibitor();
void ReleaseLogindInhibitor();
bool AcquireScreensaverInhibit();
void ReleaseScreensaverInhibit();

// What the program lends the injection backends (InjectHost): a refusal of
// the desktop goes to the main window, which tells the person, and the
// portal's restore token is kept in the settings store as
// "PortalRestoreToken".
#pragma once

// Installs the host. Call before InjectSelectBackend.
void InstallInjectHost();

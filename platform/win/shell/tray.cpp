// The notification area on Windows is not used yet: the window stays the
// program's face (a start with --hidden shows it, as on a desktop without
// a tray).
#include "platform/tray.h"

bool TrayIconAvailable() { return false; }
bool TrayIconShow(HWND, UINT) { return false; }
void TrayIconUpdate(TrayIconMark, const std::u16string &, const std::vector<TrayMenuItem> &) {}
void TrayIconRemove() {}
bool TrayIconShown() { return false; }

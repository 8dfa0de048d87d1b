// For the Windows platform's own sources: Win32's calls under their own
// names again, after the platform headers have renamed them to the
// program's versions (which call these). Include it last.
#pragma once

#undef CreateFileW
#undef ReadFile
#undef WriteFile
#undef CloseHandle
#undef SetCommMask
#undef WaitCommEvent
#undef PurgeComm
#undef GetCommTimeouts
#undef SetCommTimeouts
#undef RegCreateKeyExW
#undef RegOpenKeyExW
#undef RegDeleteKeyW
#undef RegCloseKey
#undef keybd_event
#undef SendInput
#undef MessageBoxW
#undef FindWindowW
#undef SetForegroundWindow
#undef FindResourceW
#undef LoadResource
#undef SizeofResource
#undef LockResource
#undef LoadMenuW
#undef LoadStringW
#undef LoadIconW
#undef PlaySoundW
#undef SystemParametersInfoW
#undef GetVersionExW
#undef CreateProcessW

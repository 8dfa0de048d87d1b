// The least a program can do to type the keyboard's letters on Windows, as
// the baseline of the typing benchmark: it opens the port named by its
// first argument, asks for the keyboard's identity and status and for
// typing mode (which starts its keys), and types every letter key it reads
// as that letter with one SendInput (KEYEVENTF_UNICODE, down and up).
// Frames and markers are skipped by their lengths; no settings, no layout,
// no threads. Ends after the number of seconds in its second argument
// (default 60) or when the port fails.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void TypeLetter(wchar_t c) {
  INPUT in[2] = {};
  for (INPUT &i : in) {
    i.type = INPUT_KEYBOARD;
    i.ki.wScan = c;
    i.ki.dwFlags = KEYEVENTF_UNICODE;
  }
  in[1].ki.dwFlags |= KEYEVENTF_KEYUP;
  SendInput(2, in, sizeof(INPUT));
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2)
    return 2;
  const std::string name = std::string("\\\\.\\") + argv[1];
  const DWORD seconds = argc > 2 ? static_cast<DWORD>(atoi(argv[2])) : 60;
  HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    printf("cannot open %s: %lu\n", name.c_str(), GetLastError());
    return 1;
  }
  // A read of one byte returns as soon as it is there, or after a second:
  // Wine does not end a longer read at the first byte on a pseudo-terminal.
  COMMTIMEOUTS timeouts = {0, 0, 1000, 0, 1000};
  SetCommTimeouts(port, &timeouts);
  // The handshake, one status request and typing mode: the keyboard types
  // once all three have come.
  const BYTE requests[36] = {0, 0, 0, 0, 5,  0, 0, 0, 0, 0, 0, 5,
                             0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 10,
                             0, 0, 0, 0, 3,  0, 0, 0, 0, 0, 0, 3};
  DWORD n = 0;
  WriteFile(port, requests, sizeof requests, &n, nullptr);
  printf("ready\n");
  fflush(stdout);

  const ULONGLONG end = GetTickCount64() + seconds * 1000ull;
  int skip = 0;       // bytes of a frame still to pass over
  bool sync = false;  // the byte before was the sync pattern's first
  BYTE buffer[1];
  while (GetTickCount64() < end) {
    if (!ReadFile(port, buffer, 1, &n, nullptr))
      break;
    for (DWORD i = 0; i < n; ++i) {
      const BYTE b = buffer[i];
      const bool afterSync = sync;
      sync = b == 0xA5;
      if (skip > 0) {
        --skip;
      } else if (afterSync && b == 0x5A) {
        // the sync pattern's second byte, not the key Z
      } else if (b == 0xF9) {
        skip = 11; // identity frame
      } else if (b == 0x0A) {
        skip = 5; // status frame
      } else if (b >= 'A' && b <= 'Z') {
        TypeLetter(static_cast<wchar_t>(b - 'A' + 'a'));
      }
    }
  }
  CloseHandle(port);
  return 0;
}

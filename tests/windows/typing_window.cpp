// A window of another program for the Windows end-to-end test: it takes
// the foreground and keeps the text it is typed (WM_CHAR: UTF-16 joined,
// Enter a line end, Backspace taking back the last character), written
// whole in UTF-8 to the file named by its first argument after every
// change. It ends on WM_CLOSE or after the number of seconds in its second
// argument (default 120). With a third argument, every WM_CHAR also appends
// a line "TIME CODE" to that file: the system time of its arrival (100 ns
// units since 1601, as GetSystemTimePreciseAsFileTime gives it) and the
// UTF-16 unit, for the typing benchmark.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Put(FILE *out, unsigned cp);

const char *gPath = nullptr;
FILE *gTimes = nullptr;
std::u32string gText;
wchar_t gHigh = 0;

void Save() {
  FILE *out = fopen(gPath, "wb");
  if (!out)
    return;
  for (char32_t cp : gText)
    Put(out, cp);
  fclose(out);
}

void Write(unsigned cp) {
  if (cp == 8) {
    if (!gText.empty())
      gText.pop_back();
  } else {
    gText.push_back(cp);
  }
  Save();
}

void Put(FILE *out, unsigned cp) {
  char bytes[4];
  int n = 0;
  if (cp < 0x80) {
    bytes[n++] = static_cast<char>(cp);
  } else if (cp < 0x800) {
    bytes[n++] = static_cast<char>(0xC0 | (cp >> 6));
    bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    bytes[n++] = static_cast<char>(0xE0 | (cp >> 12));
    bytes[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    bytes[n++] = static_cast<char>(0xF0 | (cp >> 18));
    bytes[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  }
  fwrite(bytes, 1, n, out);
}

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_CHAR: {
    const wchar_t c = static_cast<wchar_t>(wParam);
    if (gTimes) {
      FILETIME now;
      GetSystemTimePreciseAsFileTime(&now);
      const unsigned long long t =
          (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
      fprintf(gTimes, "%llu %u\n", t, static_cast<unsigned>(c));
      fflush(gTimes);
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
      gHigh = c;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      if (gHigh)
        Write(0x10000 + ((gHigh - 0xD800) << 10) + (c - 0xDC00));
      gHigh = 0;
    } else if (c == '\r') {
      Write('\n');
    } else {
      Write(c);
    }
    return 0;
  }
  case WM_TIMER:
    DestroyWindow(hwnd);
    return 0;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2)
    return 2;
  gPath = argv[1];
  Save();
  const int seconds = argc > 2 ? atoi(argv[2]) : 120;
  if (argc > 3)
    gTimes = fopen(argv[3], "w");
  WNDCLASSW cls = {};
  cls.lpfnWndProc = Proc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"VantrelTypingTarget";
  RegisterClassW(&cls);
  HWND hwnd = CreateWindowExW(0, L"VantrelTypingTarget", L"Typing target", WS_OVERLAPPEDWINDOW,
                              50, 50, 400, 300, nullptr, nullptr, cls.hInstance, nullptr);
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  SetFocus(hwnd);
  SetTimer(hwnd, 1, static_cast<UINT>(seconds) * 1000u, nullptr);
  printf("ready\n");
  fflush(stdout);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

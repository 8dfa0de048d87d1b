#include "tests/link_protocol/link_test_support.h"

#include "common/messages.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace linktest {

Bytes ParseHex(const std::string &text) {
  Bytes out;
  size_t i = 0;
  while (i < text.size()) {
    if (isspace(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    size_t used = 0;
    out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), &used, 16)));
    i += used;
  }
  return out;
}

std::string Hex(const Bytes &bytes) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
    s += b;
  }
  return s;
}

size_t BufferSource::Read(uint8_t *out, size_t n, bool *lost) {
  ++reads;
  if (chunk_ == chunks_.size()) {
    if (thenLost_)
      *lost = true;
    return 0;
  }
  const Bytes &c = chunks_[chunk_];
  size_t got = std::min(n, c.size() - offset_);
  std::copy(c.begin() + offset_, c.begin() + offset_ + got, out);
  offset_ += got;
  if (offset_ == c.size()) {
    ++chunk_;
    offset_ = 0;
  }
  return got;
}

double MsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

FakeKeyboard::FakeKeyboard(const std::string &devicesDir, int index) {
  EXPECT_TRUE(pty_.ok());
  EXPECT_TRUE(pty_.OfferAs(devicesDir, index));
}

void FakeKeyboard::Send(const Bytes &bytes) { ASSERT_TRUE(pty_.Send(bytes)); }

namespace {

LRESULT TestWndProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

int RecordBox(HWND, LPCWSTR text, LPCWSTR caption, UINT type, void *context) {
  static_cast<std::vector<std::string> *>(context)->push_back(
      Utf16ToUtf8(text) + "|" + Utf16ToUtf8(caption) + "|" + std::to_string(type));
  return IDOK;
}

const char *MessageName(UINT m) {
  switch (m) {
  case WM_STATUS_TEXT_CHANGED:
    return "WM_STATUS_TEXT_CHANGED";
  case WM_CALIBRATION_STEP:
    return "WM_CALIBRATION_STEP";
  case WM_CALIBRATION_RESULT:
    return "WM_CALIBRATION_RESULT";
  default:
    return nullptr;
  }
}

} // namespace

void LinkTest::SetUp() {
  tempRoot = std::make_unique<testsupport::TempRoot>("link");
  root = tempRoot->path();
  devices = root + "/devices";
  setenv("VANTREL_DEVICES", devices.c_str(), 1);
  setenv("VANTREL_REGISTRY", (root + "/registry.db").c_str(), 1);
  RegistryUseDatabase(root + "/registry.db");
  ResetAppGlobals();
  traces = std::make_unique<testtrace::TraceLines>();
  SetMessageBoxPresenter(&RecordBox, &boxes);

  static bool registered = false;
  if (!registered) {
    WNDCLASSW cls{};
    cls.lpfnWndProc = TestWndProc;
    cls.lpszClassName = u"LinkTestWnd";
    RegisterClassW(&cls);
    registered = true;
  }
  mainWnd = CreateWindowExW(0, u"LinkTestWnd", u"main", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  typingWnd = CreateWindowExW(0, u"LinkTestWnd", u"typing", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  calibrationWnd = CreateWindowExW(0, u"LinkTestWnd", u"cal", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  AppGlobals.mainWindow = mainWnd;
  AppGlobals.typingWnd.store(typingWnd);
  AppGlobals.calibrationDialog.store(calibrationWnd);
  keyboard = new FakeKeyboard(devices, 3);
}

void LinkTest::TearDown() {
  ClosePort();
  delete keyboard;
  keyboard = nullptr;
  DestroyWindow(mainWnd);
  DestroyWindow(typingWnd);
  DestroyWindow(calibrationWnd);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  SetMessageBoxPresenter(nullptr, nullptr);
  traces.reset();
  RegistryUseDatabase("");
  tempRoot.reset();
}

HANDLE LinkTest::OpenPort(int index) {
  WCHAR name[6] = {u'C', u'O', u'M', static_cast<WCHAR>(u'0' + index), u':', 0};
  HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS t{120, 200, 10, 10, 100};
  EXPECT_TRUE(SetCommTimeouts(h, &t));
  AppGlobals.portHandle.store(h);
  return h;
}

void LinkTest::ClosePort() {
  HANDLE h = AppGlobals.portHandle.exchange(INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE)
    CloseHandle(h);
}

std::vector<std::string> LinkTest::TakePosted() {
  std::vector<std::string> out;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    const char *name = MessageName(msg.message);
    if (!name)
      continue;
    const char *to = msg.hwnd == mainWnd ? "main" : msg.hwnd == typingWnd ? "typing"
                                                : msg.hwnd == calibrationWnd ? "calibration" : "?";
    out.push_back(std::string(to) + " " + name);
  }
  return out;
}

std::vector<int> LinkTest::TakeScancodes() {
  std::vector<int> out;
  const std::string prefix = "Processing scancode = ";
  std::vector<std::string> lines = traces->Lines();
  for (; scancodeMark_ < lines.size(); ++scancodeMark_)
    if (lines[scancodeMark_].rfind(prefix, 0) == 0)
      out.push_back(std::stoi(lines[scancodeMark_].substr(prefix.size())));
  return out;
}

int LinkTest::CountTrace(const std::string &line) const { return traces->Count(line); }

} // namespace linktest

// Reading one block from the keyboard's port and acting on every byte of it.
//
// The stream has no framing: a byte's value alone says what it is, and a few
// markers are followed by a fixed number of data bytes. A frame that the
// block cuts short is completed by reading its missing bytes from the port,
// so its tail is never decoded as key bytes of its own. Every read stays
// inside rxBuffer.
#include "link/frame_decoder.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "keys/scancode.h"
#include "platform/files.h"
#include "platform/sound.h"
#include "platform/trace.h"
#include "platform/window.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kRxSize = sizeof(AppGlobals.rxBuffer);
constexpr uint8_t kSyncPattern[2] = {0xA5, 0x5A};

// Frame lengths from the marker on, and how many of those bytes carry data
// that is used (the last byte of each frame is a spare).
constexpr size_t kStatusFrameSize = 6;
constexpr size_t kIdentityFrameSize = 12;
constexpr size_t kIdentityFrameUsed = 11;
constexpr size_t kCalibrationFrameSize = 8;
constexpr size_t kCalibrationFrameUsed = 7;

constexpr size_t kMaxBlockSize = kRxSize - kIdentityFrameSize;

constexpr UINT kKeyClickFlags = SND_RESOURCE | SND_ASYNC | SND_NOWAIT; // 0x42005

// Reads from the port into rxBuffer[count..end) with one ReadFile, end
// capped at the buffer's size. Returns the new count of bytes held.
size_t ReadInto(size_t count, size_t end) {
  end = std::min(end, kRxSize);
  if (count >= end)
    return count;
  DWORD got = 0;
  if (!ReadFile(AppGlobals.portHandle.load(), AppGlobals.rxBuffer + count,
                static_cast<DWORD>(end - count), &got, nullptr))
    got = 0;
  return count + std::min<size_t>(got, end - count);
}

// Makes sure the frame at pos has its first `used` bytes in the buffer,
// reading the rest of the frame (up to `size` bytes from pos) when the block
// ended early. Returns false when the port did not deliver them in time.
bool CompleteFrame(size_t pos, size_t size, size_t used, size_t &count) {
  if (pos + size > count)
    count = ReadInto(count, pos + size);
  return pos + used <= count;
}

uint32_t BigEndian(const uint8_t *p, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i)
    v = (v << 8) | p[i];
  return v;
}

bool FindSyncPattern(size_t count) {
  size_t index = 0;
  for (size_t i = 0; i < count; ++i) {
    // A byte that does not match leaves the index where it is.
    if (AppGlobals.rxBuffer[i] == kSyncPattern[index] && ++index == sizeof(kSyncPattern))
      return true;
  }
  return false;
}

void StoreIdentity(const uint8_t *frame) {
  uint32_t serial = BigEndian(frame + 1, 4);
  if (static_cast<uint32_t>(SettingsStore::ReadDword(u"Serial No", 0)) != serial)
    AppGlobals.serialChanged.store(1);
  SettingsStore::WriteDword(u"Serial No", static_cast<int32_t>(serial));
  SettingsStore::WriteDword(u"Feature Set", static_cast<int32_t>(BigEndian(frame + 5, 2)));
  SettingsStore::WriteDword(u"Build No", static_cast<int32_t>(BigEndian(frame + 7, 2)));
  SettingsStore::WriteDword(u"Config Table", static_cast<int32_t>(BigEndian(frame + 9, 2)));
}

// The six values follow the marker directly, wherever it stands in the block.
void StoreCalibrationValues(const uint8_t *frame) {
  static const WCHAR *const names[6] = {u"originX", u"scaleXHigh", u"scaleXLow",
                                        u"originY", u"scaleYHigh", u"scaleYLow"};
  for (int i = 0; i < 6; ++i)
    SettingsStore::WriteDword(names[i], frame[1 + i]);
  PostToWindow(AppGlobals.calibrationDialog.load(), WM_CALIBRATION_RESULT);
}

// Click, keep-alive timers, then key translation: the key's own work comes
// last so that the click starts without waiting for it.
void HandleKeyByte(uint8_t scancode) {
  if (SettingsStore::ReadDword(u"Keyclicks", 1) != 0)
    PlaySoundW(MAKEINTRESOURCEW(kSoundKeyClick), AppGlobals.hInstance, kKeyClickFlags);
  HWND wnd = AppGlobals.typingWnd.load();
  int32_t timeout = AppGlobals.connectionTimeout.load();
  if (timeout != 0)
    SetTimer(wnd, kConnectionTimeoutTimer, static_cast<UINT>(timeout), nullptr);
  SetTimer(wnd, kHeartbeatTimer, kHeartbeatPeriodMs, nullptr);
  processScancode(scancode);
}

} // namespace

int ReceiveBlock(int blockSize) {
  uint8_t *rx = AppGlobals.rxBuffer;
  memset(rx, 0, kRxSize);
  // A block never fills the buffer so far that a frame starting in it could
  // not be completed inside it.
  size_t block = std::clamp<int>(blockSize, 0, static_cast<int>(kMaxBlockSize));
  size_t count = ReadInto(0, block);

  if (!AppGlobals.linkSynchronised) {
    if (!FindSyncPattern(count))
      return RX_NOTHING;
    AppGlobals.linkSynchronised = 1;
  }

  int result = RX_NOTHING;
  size_t pos = 0;
  while (pos < count) {
    uint8_t byte = rx[pos];
    switch (byte) {
    case 0x0A:
      // Missing bytes of a short status frame stay 0 (the buffer was cleared).
      CompleteFrame(pos, kStatusFrameSize, kStatusFrameSize, count);
      HandleStatusFrame(rx + pos);
      return RX_STATUS;
    case 0xA5:
      return RX_SYNC;
    case 0xF9:
      // The keyboard sends its identity only when asked in the handshake; a
      // stray 0xF9 at any other time must not rewrite the stored identity.
      if (AppGlobals.linkState.load() != LINK_HANDSHAKE) {
        NKDbgPrintfW(u"Identity marker outside the handshake, ignored\r\n");
        ++pos;
        break;
      }
      if (CompleteFrame(pos, kIdentityFrameSize, kIdentityFrameUsed, count)) {
        StoreIdentity(rx + pos);
        result = RX_IDENTITY;
      } else {
        // Stored zeros would read as a new keyboard; keep what we have.
        NKDbgPrintfW(u"Identity frame incomplete, ignored\r\n");
      }
      pos += kIdentityFrameSize;
      break;
    case 0xFA:
      SetTimer(AppGlobals.typingWnd.load(), kHeartbeatTimer, kHeartbeatPeriodMs, nullptr);
      result = RX_HEARTBEAT;
      ++pos;
      break;
    case 0xFB:
      PostToWindow(AppGlobals.calibrationDialog.load(), WM_CALIBRATION_STEP);
      result = RX_CALIBRATION;
      ++pos;
      break;
    case 0xFC:
      // Calibration values are only taken while calibrating; elsewhere a
      // stray 0xFC would overwrite the stored values and swallow six keys.
      if (AppGlobals.linkState.load() != LINK_CALIBRATING) {
        NKDbgPrintfW(u"Calibration values marker outside calibration, ignored\r\n");
        ++pos;
        break;
      }
      if (CompleteFrame(pos, kCalibrationFrameSize, kCalibrationFrameUsed, count)) {
        StoreCalibrationValues(rx + pos);
        result = RX_CALIBRATION;
      } else {
        NKDbgPrintfW(u"Calibration values incomplete, ignored\r\n");
      }
      pos += kCalibrationFrameSize;
      break;
    case 0xFD:
      result = RX_CALIBRATION;
      ++pos;
      break;
    case 0xFE:
      result = RX_CALIBRATION_FAILED;
      ++pos;
      break;
    case 0xFF:
      result = RX_MARKER_FF;
      ++pos;
      break;
    default:
      if (byte < 0x80)
        HandleKeyByte(byte);
      ++pos;
      break;
    }
  }
  return result;
}

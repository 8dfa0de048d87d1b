// What the keyboard's frames do: stored settings, posted messages, the link
// timers, the key click, and key bytes handed to key translation.
#include "link/frame_actions.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "keys/scancode.h"
#include "platform/registry.h"
#include "platform/sound.h"
#include "platform/trace.h"
#include "platform/window.h"

namespace {

constexpr UINT kKeyClickFlags = SND_RESOURCE | SND_ASYNC | SND_NOWAIT; // 0x42005

uint32_t BigEndian(const uint8_t *p, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i)
    v = (v << 8) | p[i];
  return v;
}

void StoreIdentity(const uint8_t *frame) {
  uint32_t serial = BigEndian(frame + 1, 4);
  if (static_cast<uint32_t>(SettingsStore::ReadNumber(Settings::kSerialNo)) != serial)
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

} // namespace

bool KeyclicksOn() {
  // Per thread: the reader thread's cache is its own (tests read keys on
  // other threads too).
  thread_local uint64_t seen = 0;
  thread_local bool on = true;
  uint64_t count = RegistryChangeCount();
  if (count != seen) {
    seen = count;
    on = SettingsStore::ReadNumber(Settings::kKeyclicks) != 0;
  }
  return on;
}

namespace {

// Click, keep-alive timers, then key translation: the key's own work comes
// last so that the click starts without waiting for it.
void HandleKeyByte(uint8_t scancode) {
  if (KeyclicksOn())
    PlaySoundW(MAKEINTRESOURCEW(kSoundKeyClick), AppGlobals.hInstance, kKeyClickFlags);
  HWND wnd = AppGlobals.typingWnd.load();
  int32_t timeout = AppGlobals.connectionTimeout.load();
  if (timeout != 0)
    SetTimer(wnd, kConnectionTimeoutTimer, static_cast<UINT>(timeout), nullptr);
  SetTimer(wnd, kHeartbeatTimer, kHeartbeatPeriodMs, nullptr);
  processScancode(scancode);
}

} // namespace

void ActOnFrame(const Frame &frame) {
  switch (frame.kind) {
  case FrameKind::Key:
    HandleKeyByte(frame.bytes[0]);
    break;
  case FrameKind::Status:
    HandleStatusFrame(frame.bytes);
    break;
  case FrameKind::Identity:
    StoreIdentity(frame.bytes);
    break;
  case FrameKind::IdentityRefused:
    NKDbgPrintfW(u"Identity marker outside the handshake, ignored\r\n");
    break;
  case FrameKind::IdentityIncomplete:
    // Stored zeros would read as a new keyboard; keep what we have.
    NKDbgPrintfW(u"Identity frame incomplete, ignored\r\n");
    break;
  case FrameKind::StatusRefused:
    NKDbgPrintfW(u"Status marker without a status code, ignored\r\n");
    break;
  case FrameKind::Heartbeat:
    SetTimer(AppGlobals.typingWnd.load(), kHeartbeatTimer, kHeartbeatPeriodMs, nullptr);
    break;
  case FrameKind::CalibrationPoint:
    PostToWindow(AppGlobals.calibrationDialog.load(), WM_CALIBRATION_STEP);
    break;
  case FrameKind::CalibrationValues:
    StoreCalibrationValues(frame.bytes);
    break;
  case FrameKind::CalibrationValuesRefused:
    NKDbgPrintfW(u"Calibration values marker outside calibration, ignored\r\n");
    break;
  case FrameKind::CalibrationValuesIncomplete:
    NKDbgPrintfW(u"Calibration values incomplete, ignored\r\n");
    break;
  case FrameKind::Sync:
  case FrameKind::Calibration:
  case FrameKind::CalibrationFailure:
  case FrameKind::MarkerFF:
    break; // the block's result says it; the reader thread acts on that
  }
}

BlockResult ReceiveBlock(ByteSource &source, int blockSize) {
  FrameDecoder decoder(source, AppGlobals.rxBuffer, sizeof AppGlobals.rxBuffer);
  BlockResult result;
  bool synchronised = AppGlobals.linkSynchronised != 0;
  bool any = decoder.StartBlock(blockSize, &synchronised);
  if (synchronised)
    AppGlobals.linkSynchronised = 1;
  Frame frame;
  while (any) {
    // The link state can change on the other thread while a block is
    // decoded; each marker is judged by the state when it is reached.
    int32_t state = AppGlobals.linkState.load();
    decoder.takeIdentity = state == LINK_HANDSHAKE;
    decoder.takeCalibrationValues = state == LINK_CALIBRATING;
    decoder.statusAwaited = state == LINK_HANDSHAKE;
    if (!decoder.NextFrame(&frame))
      break;
    ActOnFrame(frame);
    if (int code = FrameResult(frame.kind); code != RX_NOTHING)
      result.marker = code;
  }
  result.portLost = decoder.SourceLost();
  return result;
}

BlockResult ReceiveBlock(int blockSize) { return ReceiveBlock(KeyboardPort(), blockSize); }

// The frame decoder fed from a byte source: the input's bytes are what the
// keyboard sends, read through ReadFile from an in-memory port, so the
// decoder's own reads (blocks, and the top-up reads of frames cut short)
// all take their bytes from it. Key bytes reach the real key translation
// with a shipped layout and a dropping injector.
//
// Input: one control byte, then the port's bytes.
//   bit 0     the stream was synchronised before
//   bits 1-2  block sizes: 12 always; 1 always; 12 until a sync, identity or
//             status result, then 1 (as a connection goes); 12 and 1 by turns
//   bit 3     stored Build No 9095 (handshake and threshold rescaling) or 9000
//   bits 4-6  the link state the blocks arrive in (0 to 7)
//   bit 7     key clicks on
#include "tests/fuzz/fuzz_entries.h"
#include "tests/fuzz/fuzz_env.h"

#include "common/globals.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "keys/keycode_table.h"
#include "link/frame_actions.h"
#include "platform/core/kernel_object.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

// A port whose reads hand out the input's bytes in order; once they are used
// up, reads succeed with nothing (a read time-out). Writes are accepted and
// dropped.
class MemoryPort : public KernelObject {
public:
  void Load(const uint8_t *data, size_t size) {
    data_ = data;
    left_ = size;
  }
  size_t Left() const { return left_; }
  BOOL Read(void *buffer, DWORD n, DWORD *read) override {
    size_t take = std::min<size_t>(n, left_);
    if (take)
      memcpy(buffer, data_, take);
    data_ += take;
    left_ -= take;
    *read = static_cast<DWORD>(take);
    return TRUE;
  }
  BOOL Write(const void *, DWORD n, DWORD *written) override {
    *written = n;
    return TRUE;
  }

private:
  const uint8_t *data_ = nullptr;
  size_t left_ = 0;
};

struct DecoderRig {
  std::shared_ptr<MemoryPort> port = std::make_shared<MemoryPort>();
  HANDLE handle = nullptr;
  int32_t table[kScancodeCount][kLayoutColumns] = {};
  float thresholds[5] = {};
};

DecoderRig &Rig() {
  static DecoderRig *rig = [] {
    fuzz::Env();
    auto *r = new DecoderRig;
    r->handle = RegisterHandle(r->port);
    // The UI strings and the layout the program ships, loaded once.
    fuzz::ResetGlobals();
    SettingsStore::WriteString(u"language", u"English.lang");
    std::ifstream lang(VANTREL_SOURCE_DIR "/data/English.lang", std::ios::binary);
    std::string langText((std::istreambuf_iterator<char>(lang)), std::istreambuf_iterator<char>());
    fuzz::WriteInstallFile("English.lang", reinterpret_cast<const uint8_t *>(langText.data()),
                           langText.size());
    LoadUiStrings();
    std::ifstream kcod(VANTREL_SOURCE_DIR "/data/Intl English.kcod", std::ios::binary);
    std::string kcodText((std::istreambuf_iterator<char>(kcod)), std::istreambuf_iterator<char>());
    parseKeycodeText(kcodText.data(), std::min(kcodText.size(), kLayoutFileReadLimit));
    memcpy(r->table, AppGlobals.KeycodeTable, sizeof r->table);
    memcpy(r->thresholds, AppGlobals.batteryThreshold, sizeof r->thresholds);
    return r;
  }();
  return *rig;
}

} // namespace

int FuzzFrameDecoder(const uint8_t *data, size_t size) {
  DecoderRig &rig = Rig();
  if (size == 0)
    return 0;
  const uint8_t control = data[0];
  rig.port->Load(data + 1, size - 1);

  fuzz::ResetGlobals();
  memcpy(AppGlobals.KeycodeTable, rig.table, sizeof rig.table);
  memcpy(AppGlobals.batteryThreshold, rig.thresholds, sizeof rig.thresholds);
  AppGlobals.portHandle.store(rig.handle);
  AppGlobals.linkSynchronised = control & 1;
  AppGlobals.linkState.store((control >> 4) & 7);
  SettingsStore::WriteDword(u"Build No", (control & 8) ? 9095 : 9000);
  SettingsStore::WriteDword(u"Keyclicks", (control & 0x80) ? 1 : 0);

  const int scheme = (control >> 1) & 3;
  bool typing = scheme == 1;
  // Every call takes at least one byte while any are left, and one more call
  // sees the empty port.
  for (int call = 0; call < 4096; ++call) {
    const bool wasEmpty = rig.port->Left() == 0;
    int block = typing ? 1 : 12;
    if (scheme == 3)
      block = call % 2 ? 1 : 12;
    int result = ReceiveBlock(block).marker;
    fuzz::Require(result >= RX_NOTHING && result <= RX_MARKER_FF && result != 5,
                  "ReceiveBlock result is one of its codes");
    if (scheme == 2 && (result == RX_SYNC || result == RX_IDENTITY || result == RX_STATUS))
      typing = true;
    if (wasEmpty)
      break;
  }
  AppGlobals.portHandle.store(INVALID_HANDLE_VALUE);
  fuzz::DrainMessages();
  return 0;
}

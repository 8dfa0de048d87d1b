#include "calibration_test_env.h"

#include "common/globals.h"
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "dialogs/calibration_dialog.h"
#include "common/messages.h"
#include "platform/text.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/link_stand_in.h"
#include "tests/support/scripted_message_boxes.h"
#include "tests/support/thread_messages.h"
#include "tests/support/toolkit.h"

#include <cstdint>
#include <memory>

using namespace testsupport;

namespace {

std::unique_ptr<LinkStandIn> gStandIn;
std::vector<LinkScript> gScripts;
size_t gNextScript = 0;
std::vector<LinkRecord> gLinkMessages;

std::unique_ptr<ScriptedMessageBoxes> gBoxes;
std::vector<size_t> gLinkMessagesBeforeBox;
std::vector<BoxRecord> gBoxRecords;

void Play(const LinkScript &script) {
  for (LinkEvent event : script) {
    HWND dialog = AppGlobals.calibrationDialog.load();
    switch (event) {
    case LinkEvent::Step:
      PostMessageW(dialog, WM_CALIBRATION_STEP, 0, 0);
      break;
    case LinkEvent::Result:
      PostMessageW(dialog, WM_CALIBRATION_RESULT, 0, 0);
      break;
    case LinkEvent::Failed: // the reader thread leaves calibration first
      AppGlobals.linkState.store(LINK_TYPING);
      PostMessageW(dialog, WM_CALIBRATION_FAILED, 0, 0);
      break;
    case LinkEvent::Lost: // the disconnection: idle, then Done to the open dialog
      AppGlobals.linkState.store(LINK_IDLE);
      PostMessageW(AppGlobals.openDialog.load(), WM_COMMAND, IDOK, 0);
      break;
    case LinkEvent::Done:
      PostMessageW(dialog, WM_COMMAND, 40004, 0);
      break;
    case LinkEvent::Ok:
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
      break;
    }
  }
}

// What the link does with the dialog's messages.
void React(UINT msg, WPARAM, LPARAM) {
  if (msg < WM_LINK_PHASE || msg > WM_KEY_TEST_CHAR)
    return;
  gLinkMessages.push_back({msg, AppGlobals.calibrationDialog.load(), AppGlobals.calibrationStep});
  switch (msg) {
  case WM_CALIBRATE:
    AppGlobals.linkState.store(LINK_CALIBRATING);
    break;
  case WM_END_CALIBRATION:
  case WM_RESUME_WITH_SETTINGS:
    AppGlobals.linkState.store(LINK_TYPING);
    break;
  case WM_BEGIN_CALIBRATION:
    if (gNextScript < gScripts.size())
      Play(gScripts[gNextScript++]);
    break;
  }
}

} // namespace

CalibrationSandbox::CalibrationSandbox() {
  StartToolkitOnce();
  box_.CopyData("English.lang", "opt/Vantrel/English.lang");
  WStrCopyN(AppGlobals.InstallDir, MAX_PATH, u"opt\\Vantrel\\");
  SettingsStore::WriteString(u"language", u"English.lang");
  LoadUiStrings();
  AppGlobals.linkState.store(LINK_TYPING);
  gBoxes = std::make_unique<ScriptedMessageBoxes>();
  gBoxes->DispatchWhileShown(true);
  gBoxes->DuringEach([](size_t) { gLinkMessagesBeforeBox.push_back(gLinkMessages.size()); });
  gLinkMessagesBeforeBox.clear();
}

CalibrationSandbox::~CalibrationSandbox() { gBoxes.reset(); }

void CalibrationSandbox::PutPicture(const std::string &name, int width, int height, int r, int g,
                                    int b) const {
  const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  const uint32_t size = stride * static_cast<uint32_t>(height);
  std::string bytes = "BM";
  auto put32 = [&bytes](uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  auto put16 = [&bytes](uint16_t v) {
    bytes += static_cast<char>(v & 0xFF);
    bytes += static_cast<char>(v >> 8);
  };
  put32(54 + size);
  put32(0);
  put32(54);
  put32(40);
  put32(static_cast<uint32_t>(width));
  put32(static_cast<uint32_t>(height));
  put16(1);
  put16(24);
  for (uint32_t v : {0u, size, 2835u, 2835u, 0u, 0u})
    put32(v);
  for (int y = 0; y < height; ++y) {
    std::string row;
    for (int x = 0; x < width; ++x) {
      row += static_cast<char>(b);
      row += static_cast<char>(g);
      row += static_cast<char>(r);
    }
    row.resize(stride, '\0');
    bytes += row;
  }
  box_.Put("opt/Vantrel/" + name, bytes);
}

void CreateLinkStandIn(std::vector<LinkScript> scripts) {
  gScripts = std::move(scripts);
  gNextScript = 0;
  gLinkMessages.clear();
  gStandIn.reset();
  gStandIn = std::make_unique<LinkStandIn>(&React);
}

void DestroyLinkStandIn() { gStandIn.reset(); }

const std::vector<LinkRecord> &LinkMessages() { return gLinkMessages; }

size_t CountLinkMessages(UINT message) {
  size_t n = 0;
  for (const LinkRecord &r : gLinkMessages)
    n += r.message == message;
  return n;
}

void ScriptMessageBoxes(std::deque<int> answers) {
  gBoxes->Answer(std::vector<int>(answers.begin(), answers.end()));
  gLinkMessagesBeforeBox.clear();
}

void DuringMessageBox(size_t index, std::function<void()> action) {
  gBoxes->During(index, std::move(action));
}

const std::vector<BoxRecord> &MessageBoxes() {
  gBoxRecords.clear();
  const std::vector<ShownBox> shown = gBoxes->Shown();
  for (size_t i = 0; i < shown.size(); ++i)
    gBoxRecords.push_back({shown[i].text, shown[i].caption, shown[i].type, shown[i].owner,
                           i < gLinkMessagesBeforeBox.size() ? gLinkMessagesBeforeBox[i] : 0,
                           shown[i].yesVerb, shown[i].noVerb});
  return gBoxRecords;
}

bool RunCalibrationDialog() {
  const bool closed = DriveDialog([] { OpenCalibrationDialog(nullptr); }, nullptr);
  gBoxes->ForgetActions();
  // Whatever the dialog posted to the link on its way out.
  PumpMessages();
  return closed;
}

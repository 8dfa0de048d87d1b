#include "keys/scancode.h"

#include "common/globals.h"
#include "keys/key_output.h"
#include "keys/keycode_table.h"
#include "keys/special_chars.h"
#include "platform/win32.h"

namespace {

// Layout columns read here.
constexpr int kColumnNormal = 0;
constexpr int kColumnShift = 1;
constexpr int kColumnCaps = 2;

// Shifted codes carry the virtual key plus this.
constexpr int32_t kShiftedBase = 1000;
constexpr int32_t kCharacterBase = 2000;
constexpr int32_t kSendInputBase = 3000;
constexpr int32_t kNoSendFrom = 4000;

// Menu commands of the main window that Alt shortcuts post.
constexpr WPARAM kCommandHotTips = 120;
constexpr WPARAM kCommandHelp = 122;

bool isArrowKey(uint8_t scancode) { return scancode >= 20 && scancode <= 23; }

// The punctuation keys, which keep Shift under caps lock.
bool isPunctuationKey(uint8_t scancode) {
  switch (scancode) {
  case 35: case 39: case 44: case 45: case 46: case 47: case 59: case 61: case 91: case 92:
  case 93:
    return true;
  default:
    return false;
  }
}

// Toggles modifierKey between mode and NORMALMODE; any other pending
// modifier (an accent included) is replaced.
void toggleModifier(int32_t mode, const WCHAR *cancelTrace, const WCHAR *setTrace) {
  if (AppGlobals.modifierKey == mode) {
    AppGlobals.modifierKey = NORMALMODE;
    NKDbgPrintfW(cancelTrace);
  } else {
    AppGlobals.modifierKey = mode;
    NKDbgPrintfW(setTrace);
  }
}

// The key's code when no modifier applies: the caps column under caps lock.
int32_t plainCode(uint8_t scancode) {
  return lookupVirtualKey(scancode, AppGlobals.typingMode == CAPSMODE ? kColumnCaps
                                                                        : kColumnNormal);
}

void cancelShift() {
  AppGlobals.modifierKey = NORMALMODE;
  NKDbgPrintfW(u"Cancelling modifierKey from SHIFTMODE\r\n");
}

// Brings the main window and the windows it owns to the front (the lowest bit
// of the handle asks for the owned windows too).
void bringMainWindowForward() {
  SetForegroundWindow(
      reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(AppGlobals.mainWindow) | 1u));
}

// Posts a dialog command to the top-level window around the focus.
void postCommandToFocusDialog(WPARAM command) {
  PostMessageW(GetTopLevelWindow(GetFocus()), WM_COMMAND, command, static_cast<LPARAM>(command));
}

void tapSoftKey(BYTE vk) {
  keybd_event(vk, 0, 0, 0);
  keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
}

} // namespace

void processScancode(uint8_t scancode) {
  NKDbgPrintfW(u"Processing scancode = %d\r\n", scancode);

  switch (scancode) {
  case kScancodeShift:
    toggleModifier(SHIFTMODE, u"Cancelling modifierKey from SHIFTMODE\r\n",
                   u"Setting modifierKey to SHIFTMODE\r\n");
    return;
  case kScancodeCapsLock:
    if (AppGlobals.typingMode == CAPSMODE) {
      AppGlobals.typingMode = NORMALMODE;
      NKDbgPrintfW(u"Changing typingMode to NORMALMODE\r\n");
    } else {
      AppGlobals.typingMode = CAPSMODE;
      NKDbgPrintfW(u"Changing typingMode to CAPSMODE\r\n");
    }
    return;
  case kScancodeCtrl:
    toggleModifier(CTRLMODE, u"Cancelling modifierKey from CTRLMODE\r\n",
                   u"Setting modifierKey to CTRLMODE\r\n");
    return;
  case kScancodeAlt:
    toggleModifier(ALTCHMODE, u"Cancelling modifierKey from ALTCHMODE\r\n",
                   u"Setting modifierKey to ALTCHMODE\r\n");
    return;
  case kScancodeAltGr:
    // Entering or leaving AltGr always starts a fresh cycle: a cycle left
    // earlier must not erase, with its Backspace, what was typed since.
    resetAltGrCycle();
    toggleModifier(ALTGRMODE, u"Cancelling modifierKey from ALTGRMODE\r\n",
                   u"Setting modifierKey to ALTGRMODE\r\n");
    return;
  default:
    break;
  }

  int32_t code = 0;
  switch (AppGlobals.modifierKey) {
  case SHIFTMODE:
    code = lookupVirtualKey(scancode, kColumnShift);
    break;
  case CTRLMODE: {
    const bool handled = handleCtrlMode(scancode);
    NKDbgPrintfW(u"Cancelling modifierKey from CTRLMODE\r\n");
    AppGlobals.modifierKey = NORMALMODE;
    if (handled) {
      return;
    }
    code = lookupVirtualKey(scancode, kColumnNormal);
    break;
  }
  case ALTCHMODE: {
    const bool handled = handleAltChMode(scancode);
    NKDbgPrintfW(u"Cancelling modifierKey from ALTCHMODE\r\n");
    AppGlobals.modifierKey = NORMALMODE;
    if (handled) {
      return;
    }
    code = lookupVirtualKey(scancode, kColumnNormal);
    break;
  }
  case ALTGRMODE:
    if (handleAltGrMode(scancode, AppGlobals.typingMode)) {
      NKDbgPrintfW(u"Posting virtualKey = %d\r\n", 0);
      return;
    }
    NKDbgPrintfW(u"Cancelling modifierKey from ALTGRMODE\r\n");
    AppGlobals.modifierKey = NORMALMODE;
    code = plainCode(scancode);
    break;
  case ACCENTMODE:
    if (handleSpecialCharacter(scancode, 0, AppGlobals.typingMode)) {
      NKDbgPrintfW(u"Posting virtualKey = %d\r\n", 0);
      return;
    }
    NKDbgPrintfW(u"Cancelling modifierKey from ACCENTMODE\r\n");
    AppGlobals.modifierKey = NORMALMODE;
    code = plainCode(scancode);
    break;
  default:
    code = plainCode(scancode);
    break;
  }

  if (code >= kDeadKeyFirst && code <= kDeadKeyLast) {
    handleSpecialCharacter(scancode, code, AppGlobals.typingMode);
    return;
  }
  NKDbgPrintfW(u"Posting virtualKey = %d\r\n", code);
  if (code == 0) {
    return;
  }
  AppGlobals.modifierKey = postVirtualKey(scancode, code, AppGlobals.typingMode);
}

int32_t postVirtualKey(uint8_t scancode, int32_t code, int32_t typingMode) {
  const bool shift = AppGlobals.modifierKey == SHIFTMODE;
  const bool caps = typingMode == CAPSMODE;
  if (shift) {
    NKDbgPrintfW(caps ? u"Handling CAPSMODE, applying SHIFT\r\n"
                      : u"Handling NORMALMODE, applying SHIFT\r\n");
  }

  // Codes from 4000 up and negative codes have no meaning here: nothing is
  // sent and a pending Shift waits for the next key.
  if (code < 0 || code >= kNoSendFrom) {
    return AppGlobals.modifierKey;
  }
  if (code >= kSendInputBase) {
    sendKeyDown(code - kSendInputBase);
    return AppGlobals.modifierKey;
  }
  if (code >= kCharacterBase) {
    postCharacter(static_cast<uint32_t>(code - kCharacterBase));
    if (shift) {
      cancelShift();
    } else {
      NKDbgPrintfW(u"Handling NORMALMODE with PostkbMessage()\r\n");
    }
    return AppGlobals.modifierKey;
  }

  if (!shift) {
    if (caps) {
      NKDbgPrintfW(u"Handling CAPSMODE\r\n");
      capsTapKey(code);
    } else {
      NKDbgPrintfW(u"Handling NORMALMODE with keybd_event\r\n");
      tapKey(code);
    }
    return AppGlobals.modifierKey;
  }

  // Shift column codes carry the virtual key + 1000; a plain virtual key
  // found there is taken as it is rather than turned negative.
  const int32_t vk = code >= kShiftedBase ? code - kShiftedBase : code;
  if (caps && !isArrowKey(scancode) && !isPunctuationKey(scancode)) {
    tapKey(vk); // caps lock and Shift cancel out
  } else {
    shiftedTapKey(vk);
  }
  // Shift stays on for the arrow keys, so that a selection can grow.
  if (!isArrowKey(scancode)) {
    cancelShift();
  }
  return AppGlobals.modifierKey;
}

bool handleCtrlMode(uint8_t scancode) {
  switch (scancode) {
  case 'C': case 'V': case 'X': case 'Z':
    pressKey(VK_CONTROL);
    pressKey(scancode);
    releaseKey(scancode);
    releaseKey(VK_CONTROL);
    return true;
  default:
    return false;
  }
}

bool handleAltChMode(uint8_t scancode) {
  switch (scancode) {
  case 13:
    postCommandToFocusDialog(IDOK);
    return true;
  case 20:
  case 83:
    tapKey(VK_LWIN);
    return true;
  case 22:
    tapSoftKey(VK_F1);
    return true;
  case 23:
    tapSoftKey(VK_F2);
    return true;
  case 27:
    bringMainWindowForward();
    PostMessageW(AppGlobals.mainWindow, WM_COMMAND, kCommandHotTips,
                 reinterpret_cast<LPARAM>(GetFocus()));
    ShowWindow(GetFocus(), SW_SHOW);
    return true;
  case 45:
    tapKey(VK_F7);
    return true;
  case 61:
    tapKey(VK_F6);
    return true;
  case 72:
    PostMessageW(AppGlobals.mainWindow, WM_COMMAND, kCommandHelp, 0);
    return true;
  case 75:
    bringMainWindowForward();
    ShowWindow(GetFocus(), SW_SHOW);
    return true;
  case 88:
    postCommandToFocusDialog(IDCANCEL);
    postCommandToFocusDialog(IDOK);
    return true;
  case kScancodeAlt:
    return true;
  default:
    return false;
  }
}

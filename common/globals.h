// AppGlobals: the one process-wide record shared by the windows, the dialogs
// and the reader thread. It lives for the whole process and is zero at start
// except where a field says otherwise.
//
// Fields that both threads touch are std::atomic with relaxed order: each is
// one aligned 8- or 32-bit variable written with one store, and no field is
// used to publish another, so no stronger ordering is needed. Fields used by
// one thread only are plain.
#pragma once

#include "platform/wintypes.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

class SuspendKiller;
struct LinkController;

// One entry of a typing-setting option list (sensitivity, repeat rate,
// repeat delay): the list text and the value stored and sent to the keyboard.
struct SettingChoice {
  WCHAR label[10];
  int32_t value;
};

// Typing modes (typingMode: NORMALMODE or CAPSMODE; modifierKey: the others).
enum : int32_t {
  NORMALMODE = 0,
  SHIFTMODE = 1,
  CAPSMODE = 2,
  CTRLMODE = 3,
  ALTCHMODE = 4,
  ALTGRMODE = 5,
  ACCENTMODE = 19,
};

// One key of the key test: its name as read from "testmode.txt" (8-bit text,
// at most 24 characters, terminated) and the low 8 bits of its expected code.
struct KeyTestEntry {
  char name[25];
  uint8_t code;
};
constexpr int kKeyTestEntryCount = 100;

constexpr int kScancodeCount = 128;
constexpr int kLayoutColumns = 30;

struct AppGlobalsRecord {
  // The shell.
  HINSTANCE hInstance = nullptr;
  HWND mainWindow = nullptr;
  HWND menuBar = nullptr;
  int32_t isSmartphone = 0;
  int32_t osMajorVersion = 0;
  WCHAR InstallDir[MAX_PATH] = {};
  WCHAR statusLine[100] = {};
  std::atomic<uint8_t> testMode{0};
  HMENU optionsMenu = nullptr;
  uint8_t optionsMenuPending = 1;
  uint8_t selectionMode = 0;

  // The link.
  LinkController *link = nullptr;
  std::atomic<HWND> typingWnd{nullptr};
  std::atomic<int32_t> linkState{0};
  std::atomic<HANDLE> connectionEvent{INVALID_HANDLE_VALUE};
  std::atomic<uint8_t> connectRequested{0};
  std::atomic<HANDLE> portHandle{INVALID_HANDLE_VALUE};
  WCHAR portName[10] = {};
  std::atomic<uint8_t> portAutoDetect{0};
  int32_t portProbeIndex = 9;
  // Written and read through WriteStatusText / ReadStatusText only: the
  // reader thread writes it while the user interface thread reads it.
  WCHAR statusText[256] = {};
  std::atomic<int32_t> connectionTimeout{0};
  int32_t syncAttempts = 0;
  std::atomic<uint8_t> serialChanged{0};
  std::atomic<uint8_t> disconnectNoticePending{0};
  SuspendKiller *suspendKiller = nullptr;
  // Connecting again after a resume (link/resume_reconnect.h): 1 while the
  // machine sleeps with the link connected; 1 from the resume until the link
  // is connected again, the person opens or closes it, or the window passes.
  std::atomic<uint8_t> connectedAtSleep{0};
  std::atomic<uint8_t> reconnectAfterResume{0};
  // 1 once the program is ending (StopLink): the reader thread closes a
  // connection without its pauses and messages, and ends.
  std::atomic<uint8_t> linkStopping{0};
  uint8_t rxBuffer[255] = {};
  uint8_t linkSynchronised = 0;
  uint8_t handshakeReference = 0;
  uint8_t txPacket[12] = {};
  std::atomic<float> batteryLevel{0.0f};

  // Key translation (reader thread only, apart from the option tables and
  // battery thresholds, which dialogs read after loading).
  int32_t KeycodeTable[kScancodeCount][kLayoutColumns] = {};
  float batteryThreshold[5] = {}; // batteryThreshold 1..5 are [0]..[4]
  SettingChoice SensitivityChoices[5] = {};
  SettingChoice RepeatRateChoices[4] = {};
  SettingChoice RepeatDelayChoices[4] = {};
  int32_t typingMode = NORMALMODE;
  int32_t modifierKey = NORMALMODE;
  int32_t offset = 0;
  int32_t specialCharacter = 0;
  uint8_t lastAltGrScancode = 0;
  int32_t altGrIndex = 0;
  uint8_t altGrFresh = 1;

  // Dialogs.
  std::atomic<HWND> openDialog{nullptr};
  std::atomic<HWND> calibrationDialog{nullptr};
  // The calibration step the dialog shows: 0 before the keyboard's first
  // calibration point, then 1, 2, 3 (and on, without bound). UI thread only.
  int32_t calibrationStep = 0;

  // Typing settings dialog (UI thread): the values read when it opened, and
  // whether a choice has been stored and sent since.
  int32_t openingSensitivity = 0;
  int32_t openingRepeatRate = 0;
  int32_t openingRepeatDelay = 0;
  int32_t settingsChanged = 0;

  // The key test's window while it is open, else null: key translation (on
  // the reader thread) hands it each typed character instead of the desktop.
  std::atomic<HWND> keyTestDialog{nullptr};
  // Key test (UI thread). Not reset between runs: the test runs once.
  KeyTestEntry keyTestEntries[kKeyTestEntryCount] = {};
  int8_t keyTestLast = 0;
  int8_t keyTestPosition = 0;
  uint8_t keyTestChar = 0;
  uint8_t keyTestCharPending = 0;
  uint8_t keyTestCompleted = 0;
  // The selection dialog's radio buttons of its current opening (button i has
  // id 500 + i; empty slots are null) and the entry its Done stores.
  HWND layoutButtons[10] = {};
  HWND languageButtons[10] = {};
  int32_t selectedIndex = 0;
  // The text pages (UI thread only): the help page's file, and the hot tips
  // page's open flag and the window it shows again when it closes.
  WCHAR helpPagePath[256] = {};
  uint8_t hotTipsOpen = 0;
  HWND hotTipsReturnWindow = nullptr;
};

extern AppGlobalsRecord AppGlobals;

// The link's status text, shared between the reader thread, TypingWnd and
// the main window, under a lock so that a reader never sees half a text.
// WriteStatusText copies text (cut to 255 units, always terminated);
// ReadStatusText copies the current text into out (units long, terminated).
void WriteStatusText(const WCHAR *text);
void ReadStatusText(WCHAR *out, size_t units);

// Tests: puts every field back to its start value.
void ResetAppGlobals();

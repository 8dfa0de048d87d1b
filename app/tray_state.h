// What the tray icon and the desktop notifications make of the link's
// notifications to the main window: the icon's mark, its tooltip, whether
// its Connect/Disconnect item can be chosen, and which moments call for a
// notification. Plain data and functions, tested without a desktop.
#pragma once

#include <string>
#include <vector>

enum class TrayPhase { NotConnected, Busy, Connected };
enum class TrayNotice { None, Connected, ConnectionLost, BatteryLow };

struct TrayState {
  TrayPhase phase = TrayPhase::NotConnected;
  bool buttonEnabled = true;  // the connect button (and so the tray's item) can be pressed
  std::u16string caption;     // the connect button's text
  std::u16string lastStatus;  // the link's last status text while connected
  int batteryPercent = -1;    // -1 until the keyboard has reported its level
  bool batteryLowTold = false;
  bool disconnectAsked = false; // the person asked for the end of this connection
};

// A link phase change (0 not connected, 1 connecting, 2 connected; other
// phases change nothing but the button state) with the connect button's
// state (0 disabled, 1 enabled, else unchanged) and its caption afterwards.
// Returns Connected when a connection has been made, ConnectionLost when
// one ended that the person did not end, else None.
TrayNotice TrayOnLinkPhase(TrayState &state, unsigned buttonState, long phase,
                           const std::u16string &caption);

// A status text shown on the connect button: while not connected the link
// is at work (Busy); while connected the text is kept to say how a lost
// connection went.
void TrayOnStatusText(TrayState &state, unsigned buttonState, const std::u16string &text);

// The person asked for the end of the connection (Disconnect, Quit).
void TrayOnDisconnectAsked(TrayState &state);

// The keyboard's battery while connected: the charge in percent and whether
// it is low. Returns BatteryLow the first time in a connection that it is
// low, else None. Ignored while not connected.
TrayNotice TrayOnBattery(TrayState &state, int percent, bool low);

// The tray menu's items: the connect button's command (captioned as the
// phase has it, enabled with the button), the window's Show and its Quit.
struct TrayTexts {
  std::u16string connect, connecting, disconnect, show, quit;
};
struct TrayMenuEntry {
  unsigned command;
  std::u16string text;
  bool enabled;
};
std::vector<TrayMenuEntry> TrayMenu(const TrayState &state, const TrayTexts &texts);

// The tooltip: the program's name, the connect button's text and, once
// known, the battery's charge after the word battery ("Battery 80%").
std::u16string TrayTooltip(const TrayState &state, const std::u16string &battery = u"Battery");

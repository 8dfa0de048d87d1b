// The keyboard layout of the person's session, as XKB names (rules, model,
// layout, variant, options), so that the uinput backend can type by the
// layout the desktop applies to its virtual keyboard.
//
// Where the names come from, first match wins:
//   1. the XKB_DEFAULT_* variables of the environment, when XKB_DEFAULT_LAYOUT
//      is set: the person's own setting for this session, and what wlroots
//      compositors (sway, river, ...) and xkbcommon itself read;
//   2. the desktop's own keyboard settings (desktop_layout.h: GNOME's input
//      sources, KDE's kxkbrc), which those desktops apply to every keyboard;
//   3. systemd-localed (org.freedesktop.locale1 on the system bus:
//      X11Layout, X11Model, X11Variant, X11Options), when X11Layout is not
//      empty: the machine's keyboard setting, which GNOME, KDE and the login
//      screen start from;
//   4. xkbcommon's defaults (the US layout).
// The names are taken whole from one source, never mixed.
#pragma once

#include <string>

struct XkbNames {
  std::string rules, model, layout, variant, options;
  // "environment", "GNOME input sources", "KDE kxkbrc", "locale1" or
  // "default", for the trace.
  std::string source;
};

// The names the environment's XKB_DEFAULT_* variables give (layout empty
// when XKB_DEFAULT_LAYOUT is unset).
XkbNames XkbNamesFromEnvironment();
// Reads the names from org.freedesktop.locale1 on the system bus, waiting
// at most one second. Returns false, with why set, when the bus or the
// service does not answer.
bool XkbNamesFromLocale1(XkbNames &out, std::string &why);
// A reader of one source: true with out set, or false with why set.
using XkbNamesReader = bool (*)(XkbNames &out, std::string &why);
// The choice between the sources in the order above; the desktop and
// locale1 are read only through their readers, each only when the sources
// before it name no layout.
XkbNames ChooseXkbNames(const XkbNames &environment, XkbNamesReader readDesktop,
                        XkbNamesReader readLocale1);
// The session's names, with a trace line saying which source gave them.
XkbNames HostXkbNames();

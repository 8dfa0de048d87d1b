// The keyboard layout of the person's session, as XKB names (rules, model,
// layout, variant, options), so that the uinput backend can type by the
// layout the desktop applies to its virtual keyboard.
//
// Where the names come from, first match wins:
//   1. the XKB_DEFAULT_* variables of the environment, when XKB_DEFAULT_LAYOUT
//      is set: the person's own setting for this session, and what wlroots
//      compositors (sway, river, ...) and xkbcommon itself read;
//   2. systemd-localed (org.freedesktop.locale1 on the system bus:
//      X11Layout, X11Model, X11Variant, X11Options), when X11Layout is not
//      empty: the machine's keyboard setting, which GNOME, KDE and the login
//      screen start from;
//   3. xkbcommon's defaults (the US layout).
// The names are taken whole from one source, never mixed.
#pragma once

#include <string>

struct XkbNames {
  std::string rules, model, layout, variant, options;
  std::string source; // "environment", "locale1" or "default", for the trace
};

// The names the environment's XKB_DEFAULT_* variables give (layout empty
// when XKB_DEFAULT_LAYOUT is unset).
XkbNames XkbNamesFromEnvironment();
// Reads the names from org.freedesktop.locale1 on the system bus, waiting
// at most one second. Returns false, with why set, when the bus or the
// service does not answer.
bool XkbNamesFromLocale1(XkbNames &out, std::string &why);
// The choice between the two sources in the order above; locale1 is read
// only through readLocale1, and only when the environment names no layout.
XkbNames ChooseXkbNames(const XkbNames &environment,
                        bool (*readLocale1)(XkbNames &out, std::string &why));
// The session's names, with a trace line saying which source gave them.
XkbNames HostXkbNames();

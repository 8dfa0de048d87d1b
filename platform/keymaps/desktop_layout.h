// The keyboard layout the person chose in their desktop's own settings, for
// the uinput backend: GNOME's input sources and KDE Plasma's keyboard
// layouts. These desktops build the keymap of every keyboard, a virtual one
// included, from these settings, which may differ from the machine's
// setting in systemd-localed.
//
// Only the first layout is taken, with its variant (GNOME: the input source
// used most recently, else the first one; KDE: the first of the list), as
// the uinput backend types by one layout.
#pragma once

#include "platform/keymaps/host_layout.h"

#include <string>

// Parses GNOME's settings as `gsettings get` prints them: `sources` (or
// `mru-sources`), a list such as "[('xkb', 'de+nodeadkeys'), ('ibus',
// 'anthy')]", and `xkb-options`, such as "['compose:ralt']". The first
// 'xkb' source gives layout and variant (sources of input methods are not
// layouts and are passed over). Returns false when no xkb source is there.
bool XkbNamesFromGnomeSettings(const std::string &sources, const std::string &options,
                               XkbNames &out);
// Parses the text of KDE's kxkbrc: its [Layout] group, used only when it
// says Use=true; the first of LayoutList and of VariantList, Model and
// Options. Returns false when the file does not set a layout.
bool XkbNamesFromKxkbrc(const std::string &text, XkbNames &out);
// Reads the settings of the desktop XDG_CURRENT_DESKTOP names: GNOME
// through the gsettings program (at most a second each, output and exit
// together; one still running then is killed), KDE from kxkbrc in
// XDG_CONFIG_HOME or ~/.config (only a regular file, its first 64 KiB; a
// FIFO or anything else there is not read). Returns false, with why set,
// for another desktop or when nothing readable sets a layout.
bool XkbNamesFromDesktop(XkbNames &out, std::string &why);

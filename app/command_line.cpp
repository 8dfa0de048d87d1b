#include "app/command_line.h"

#include "common/product_info.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kHelp[] = R"(Usage: vantrel [--connect] [--hidden] | --quit

Vantrel is the companion of the textile keyboard: it connects to the keyboard
over its Bluetooth serial port and types what you press on it into the window
that has the focus. It shows a small window with a picture of the keyboard, a
connect button that also shows the state of the link, and an Options menu.
Only one Vantrel runs per user (and per settings database): starting it again
brings the running one to the front.

Options:
  --connect   connect to the keyboard as soon as the link is ready, as if the
              connect button were pressed (nothing happens when it is already
              connected). When Vantrel is already running, the running one is
              asked to connect. Meant for starting at login.
  --hidden    start in the desktop's system tray without showing the window
              (the tray icon's Show brings it); without a system tray the
              window shows as usual. "Start at login" in the Options menu
              starts Vantrel with --connect --hidden.
  --quit      ask the running Vantrel to quit as Quit in its Options menu
              does (the keyboard is disconnected first); starts nothing
  --help      show this text and end
  --version   show the version and end

Environment (each optional):
  VANTREL_ROOT      the root folder (default /). The data files (language and
                    layout files, pictures, help) are read from usr/share/vantrel
                    below it when that folder exists (the package's place),
                    else from a folder named Vantrel found below it,
                    breadth-first (for example /opt/Vantrel).
  VANTREL_REGISTRY  the settings database (default
                    $XDG_CONFIG_HOME/vantrel/registry.db)
  VANTREL_DEVICES   folder of COM0 ... COM9 links to serial ports, looked at
                    before /dev/rfcommN (default $XDG_RUNTIME_DIR/vantrel/devices,
                    else /tmp/vantrel-<uid>/devices, or
                    ~/.cache/vantrel/run/devices when /tmp/vantrel-<uid> is
                    not yours). Links are used only from a folder of yours
                    that nobody else can write to (in /tmp: private, 0700)
  VANTREL_BLUETOOTH stored: the Bluetooth devices and ports are keys of the
                    settings database only; unset: BlueZ's paired devices
                    (and their serial ports COM10 and up) when BlueZ
                    answers on the system bus
  VANTREL_INJECT    how keys are typed: wayland (the compositor's virtual
                    keyboard: sway, Hyprland, river), portal (the desktop's
                    RemoteDesktop portal: GNOME, KDE Plasma; the desktop asks
                    you to allow it at each connection), uinput (kernel
                    virtual keyboard, by the session's layout), xtest (X11),
                    log (one JSON line per key on stdout) or log:PATH (the
                    same into a file). Default: the first that works of
                    wayland, portal (Wayland sessions only), uinput, xtest
                    (X11 sessions only), log. A named one that cannot work is
                    said on stderr.
  VANTREL_TRACE     where debug trace lines go: stderr or a file path (off
                    when unset)
  VANTREL_PLATFORM  Smartphone selects the small-screen behaviour (status line
                    painted in the window); anything else, or unset, the
                    usual window

Without a display, set QT_QPA_PLATFORM=offscreen to run with no window shown.

Settings are kept in the settings database under HKLM\Software\Vantrel; the
vantrel-reg tool reads and changes them.

Exit status: 0 (also when another Vantrel was already running); 1 for --quit
when no Vantrel runs, or when Vantrel's data files are missing (stderr says
where it looked); 2 for a mistake on the command line.
)";

} // namespace

const char *HelpText() { return kHelp; }

const char *VersionText() {
  static const std::string text = std::string("vantrel ") + ProductVersion() + "\nCopyright " +
                                  ProductCopyright() + "\nLicence: " + ProductLicence() + "\n";
  return text.c_str();
}

int ParseCommandLine(int argc, char **argv, CommandLine &options) {
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      options.help = true;
    } else if (strcmp(arg, "--version") == 0) {
      options.version = true;
    } else if (strcmp(arg, "--hidden") == 0) {
      options.hidden = true;
    } else if (strcmp(arg, "--connect") == 0) {
      options.connect = true;
    } else if (strcmp(arg, "--quit") == 0) {
      options.quit = true;
    } else {
      fprintf(stderr, "vantrel: unknown option '%s'\nTry 'vantrel --help'.\n", arg);
      return 2;
    }
  }
  if ((options.connect || options.hidden) && options.quit) {
    fprintf(stderr, "vantrel: --quit goes with no other option\nTry 'vantrel --help'.\n");
    return 2;
  }
  return 0;
}

// The program's command line: --help, --version, --connect, --hidden and --quit.
#pragma once

struct CommandLine {
  bool help = false;
  bool version = false;
  // Start without showing the main window when the desktop has a system
  // tray (the window is then one click on the tray icon away).
  bool hidden = false;
  bool connect = false;
  bool quit = false;
};

// Reads argv. Returns 0 when the options are good, 2 after writing a short
// complaint to stderr for anything else.
int ParseCommandLine(int argc, char **argv, CommandLine &options);

// The text of --help.
const char *HelpText();
// What --version prints: "vantrel VERSION", then the copyright and the
// licence, each line ended by a newline. The text is static.
const char *VersionText();

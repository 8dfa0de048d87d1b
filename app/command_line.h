// The program's command line: --help, --connect and --quit.
#pragma once

struct CommandLine {
  bool help = false;
  bool connect = false;
  bool quit = false;
};

// Reads argv. Returns 0 when the options are good, 2 after writing a short
// complaint to stderr for anything else.
int ParseCommandLine(int argc, char **argv, CommandLine &options);

// The text of --help.
const char *HelpText();

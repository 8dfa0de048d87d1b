// vantrel-reg: reads and changes the settings store of Vantrel from the
// command line, safely while the program runs.
#include "platform/registry.h"
#include "platform/registry_export.h"
#include "tools/vantrel-reg/commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kHelp[] =
    "Usage: vantrel-reg [--db PATH] [--wait SECONDS] COMMAND ...\n"
    "\n"
    "Reads and changes Vantrel's settings store. Safe to use while Vantrel runs.\n"
    "\n"
    "Commands:\n"
    "  list KEY                     the values of KEY, then its subkeys\n"
    "  get KEY NAME                 one value\n"
    "  set KEY NAME --dword N       write a number (decimal or 0x hex; creates KEY)\n"
    "  set KEY NAME --sz TEXT       write a text (creates KEY)\n"
    "  delete KEY NAME              delete one value\n"
    "  delete KEY                   delete KEY with everything below it\n"
    "  export [KEY]                 the whole tree below KEY (default: the settings)\n"
    "\n"
    "KEY is written HKLM\\Software\\Vantrel (or HKEY_LOCAL_MACHINE\\...); quote it\n"
    "in the shell. Names compare without regard to case.\n"
    "\n"
    "Output: one value a line, NAME<TAB>TYPE<TAB>DATA. REG_DWORD data is decimal,\n"
    "REG_SZ data is the text, other types are hex bytes (\"01 0a ff\"). Control\n"
    "characters in names and texts are written \\xNN. `list` prints each subkey\n"
    "as KEY<TAB>name after the values. `export` prints, for KEY and then each key\n"
    "below it (depth first, in creation order), a line [HKLM\\path], its value\n"
    "lines, and an empty line.\n"
    "\n"
    "Database: --db PATH, else $VANTREL_REGISTRY, else\n"
    "$XDG_CONFIG_HOME/vantrel/registry.db ($HOME/.config when unset). A file that\n"
    "is not a Vantrel settings database is never changed: every command fails.\n"
    "list, get and export only read: they never create, move or write the file.\n"
    "On a damaged one they show what can still be read and stderr says it is\n"
    "damaged; set and delete keep it aside as PATH.damaged-DATE-TIME and make a\n"
    "fresh one with what could still be read from it, and stderr says so.\n"
    "\n"
    "--version: show the version and end.\n"
    "\n"
    "--wait SECONDS: how long a change waits while another process holds the\n"
    "database (default 10); after that the change is not made and the exit\n"
    "status is 3.\n"
    "\n"
    "Exit status: 0 done; 1 the key or value does not exist; 2 usage error;\n"
    "3 the settings store failed or could not keep the change.\n";

int Usage(const char *message) {
  fprintf(stderr, "vantrel-reg: %s (see vantrel-reg --help)\n", message);
  return kExitUsage;
}

using Command = int (*)(const std::vector<std::string> &args);

int RunList(const std::vector<std::string> &a) { return CommandList(a[1]); }
int RunGet(const std::vector<std::string> &a) { return CommandGet(a[1], a[2]); }
int RunSetDword(const std::vector<std::string> &a) { return CommandSetDword(a[1], a[2], a[4]); }
int RunSetText(const std::vector<std::string> &a) { return CommandSetText(a[1], a[2], a[4]); }
int RunDelete(const std::vector<std::string> &a) {
  return CommandDelete(a[1], a.size() == 3 ? &a[2] : nullptr);
}
int RunExport(const std::vector<std::string> &a) {
  return CommandExport(a.size() == 2 ? a[1] : kRegistryExportRoot);
}

// The command named by the arguments, or null for a usage error.
Command Pick(const std::vector<std::string> &args) {
  const std::string &cmd = args[0];
  size_t n = args.size();
  if (cmd == "list" && n == 2)
    return RunList;
  if (cmd == "get" && n == 3)
    return RunGet;
  if (cmd == "set" && n == 5 && args[3] == "--dword")
    return RunSetDword;
  if (cmd == "set" && n == 5 && args[3] == "--sz")
    return RunSetText;
  if (cmd == "delete" && (n == 2 || n == 3))
    return RunDelete;
  if (cmd == "export" && n <= 2)
    return RunExport;
  return nullptr;
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args;
  int waitMs = 10000;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      fputs(kHelp, stdout);
      return kExitOk;
    }
    if (arg == "--version") {
      puts("vantrel-reg " VANTREL_VERSION);
      return kExitOk;
    }
    if (arg == "--db" && args.empty()) {
      if (i + 1 >= argc || !*argv[i + 1])
        return Usage("--db needs a path");
      RegistryUseDatabase(argv[++i]);
      continue;
    }
    if (arg == "--wait" && args.empty()) {
      char *end = nullptr;
      double seconds = i + 1 < argc ? strtod(argv[i + 1], &end) : -1;
      if (i + 1 >= argc || !*argv[i + 1] || *end || !(seconds >= 0 && seconds <= 3600))
        return Usage("--wait needs a number of seconds (0 to 3600)");
      waitMs = static_cast<int>(seconds * 1000);
      ++i;
      continue;
    }
    args.push_back(arg);
  }
  if (args.empty())
    return Usage("no command given");
  const std::string &cmd = args[0];
  if (auto run = Pick(args)) {
    // A change is made in the file or not at all: nothing is kept in
    // memory for later, since this process ends right after.
    RegistryConfigureWrites(waitMs, false);
    RegistryReadOnly(cmd == "list" || cmd == "get" || cmd == "export");
    RegistryStatus status = RegistryGetStatus();
    if (status.refused) {
      fprintf(stderr, "vantrel-reg: the settings database cannot be used: %s\n",
              status.problem.c_str());
      return kExitStore;
    }
    return run(args);
  }
  if (cmd == "list" || cmd == "get" || cmd == "set" || cmd == "delete" || cmd == "export")
    return Usage(("wrong arguments for " + cmd).c_str());
  return Usage(("unknown command: " + cmd).c_str());
}

// vantrel-reg: reads and changes the settings store of Vantrel from the
// command line, safely while the program runs.
#include "platform/registry.h"
#include "tools/vantrel-reg/commands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kHelp[] =
    "Usage: vantrel-reg [--db PATH] COMMAND ...\n"
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
    "  export [KEY]                 the whole tree below KEY (default HKLM)\n"
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
    "$XDG_CONFIG_HOME/vantrel/registry.db ($HOME/.config when unset).\n"
    "\n"
    "Exit status: 0 done; 1 the key or value does not exist; 2 usage error;\n"
    "3 the settings store failed or could not keep the change.\n";

int Usage(const char *message) {
  fprintf(stderr, "vantrel-reg: %s (see vantrel-reg --help)\n", message);
  return kExitUsage;
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      fputs(kHelp, stdout);
      return kExitOk;
    }
    if (arg == "--db" && args.empty()) {
      if (i + 1 >= argc || !*argv[i + 1])
        return Usage("--db needs a path");
      RegistryUseDatabase(argv[++i]);
      continue;
    }
    args.push_back(arg);
  }
  if (args.empty())
    return Usage("no command given");
  const std::string &cmd = args[0];
  size_t n = args.size();
  if (cmd == "list" && n == 2)
    return CommandList(args[1]);
  if (cmd == "get" && n == 3)
    return CommandGet(args[1], args[2]);
  if (cmd == "set" && n == 5 && args[3] == "--dword")
    return CommandSetDword(args[1], args[2], args[4]);
  if (cmd == "set" && n == 5 && args[3] == "--sz")
    return CommandSetText(args[1], args[2], args[4]);
  if (cmd == "delete" && (n == 2 || n == 3))
    return CommandDelete(args[1], n == 3 ? &args[2] : nullptr);
  if (cmd == "export" && n <= 2)
    return CommandExport(n == 2 ? args[1] : "HKLM");
  if (cmd == "list" || cmd == "get" || cmd == "set" || cmd == "delete" || cmd == "export")
    return Usage(("wrong arguments for " + cmd).c_str());
  return Usage(("unknown command: " + cmd).c_str());
}

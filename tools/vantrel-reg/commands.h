// The commands of vantrel-reg. Each prints its answer on stdout, a one-line
// message on stderr when it fails, and returns the exit status: 0 done,
// 1 the key or value does not exist, 2 usage error, 3 the settings store
// failed (or could not keep a change).
#pragma once

#include <string>

enum ExitStatus { kExitOk = 0, kExitMissing = 1, kExitUsage = 2, kExitStore = 3 };

// keyPath is as typed: HKLM\... or HKEY_LOCAL_MACHINE\... (or the root alone).
int CommandList(const std::string &keyPath);
int CommandGet(const std::string &keyPath, const std::string &name);
int CommandSetDword(const std::string &keyPath, const std::string &name, const std::string &number);
int CommandSetText(const std::string &keyPath, const std::string &name, const std::string &text);
// name empty: delete the key with everything below it.
int CommandDelete(const std::string &keyPath, const std::string *name);
int CommandExport(const std::string &keyPath);

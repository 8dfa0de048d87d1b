// The POSIX environment calls the shared tests use, on the Windows C library
// (force-included into those tests' Windows builds).
#pragma once

#include <cstdlib>

inline int setenv(const char *name, const char *value, int overwrite) {
  if (!overwrite && getenv(name))
    return 0;
  return _putenv_s(name, value);
}
// An empty value removes the variable.
inline int unsetenv(const char *name) { return _putenv_s(name, ""); }

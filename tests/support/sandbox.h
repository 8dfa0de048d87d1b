// The program's state in a test: a temporary root that its device paths,
// settings database and runtime folder point into, with AppGlobals and the
// UI strings fresh. Nothing here needs the desktop toolkit.
#pragma once

#include "tests/support/temp_root.h"

#include <string>

namespace testsupport {

// The object owns its root (see TempRoot). Made, it points `use` (RootUse
// bits) into the root, resets AppGlobals and the UI strings and drops the
// messages an earlier test left queued on the calling thread; destroyed, it
// resets the UI strings again and removes the root.
class ProgramSandbox : public TempRoot {
public:
  explicit ProgramSandbox(const std::string &name = "app",
                          unsigned use = kDeviceRoot | kSettings | kRuntime);
  ~ProgramSandbox();
};

} // namespace testsupport

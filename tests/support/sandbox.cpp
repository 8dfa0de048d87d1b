#include "tests/support/sandbox.h"

#include "common/globals.h"
#include "common/ui_strings.h"
#include "tests/support/thread_messages.h"

namespace testsupport {

ProgramSandbox::ProgramSandbox(const std::string &name, unsigned use) : TempRoot(name) {
  Use(use);
  ResetAppGlobals();
  ResetUiStrings();
  DiscardMessages();
}

ProgramSandbox::~ProgramSandbox() { ResetUiStrings(); }

} // namespace testsupport

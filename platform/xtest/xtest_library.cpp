// Loading libXtst on demand (see xtest_library.h).
#include "platform/xtest/xtest_library.h"

#include "platform/core/shared_library.h"

namespace {

constexpr const char *kXTestSoname = "libXtst.so.6";

bool FindXTestCalls(void *handle, XTestLibrary *l, std::string *why) {
  return FindSharedCall(handle, kXTestSoname, "XTestQueryExtension", &l->queryExtension, why) &&
         FindSharedCall(handle, kXTestSoname, "XTestFakeKeyEvent", &l->fakeKeyEvent, why) &&
         FindSharedCall(handle, kXTestSoname, "XTestGrabControl", &l->grabControl, why);
}

SharedLibraryLoad gXTestLoad;
XTestLibrary gXTestLibrary{};

} // namespace

const XTestLibrary *LoadXTestLibrary(std::string *why) {
  return LoadSharedOnce(gXTestLoad, kXTestSoname, "inject", &gXTestLibrary, FindXTestCalls, why);
}

// Loading libXtst on demand (see xtest_library.h).
#include "platform/xtest/xtest_library.h"

#include "platform/core/shared_library.h"

namespace {

constexpr const char *kSoname = "libXtst.so.6";

bool Find(void *handle, XTestLibrary *l, std::string *why) {
  return FindSharedCall(handle, kSoname, "XTestQueryExtension", &l->queryExtension, why) &&
         FindSharedCall(handle, kSoname, "XTestFakeKeyEvent", &l->fakeKeyEvent, why) &&
         FindSharedCall(handle, kSoname, "XTestGrabControl", &l->grabControl, why);
}

SharedLibraryLoad gLoad;
XTestLibrary gLibrary{};

} // namespace

const XTestLibrary *LoadXTestLibrary(std::string *why) {
  return LoadSharedOnce(gLoad, kSoname, "inject", &gLibrary, Find, why);
}

// What the program lends the injection backends (see InjectHost in
// platform/inject.h): set once at start-up, read by backends' threads.
#include "platform/inject.h"
#include "platform/trace.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex gHostMutex;
InjectHost gHost{};

const char *NoticeText(InjectNotice notice) {
  switch (notice) {
  case InjectNotice::kConsentRefused:
    return "the desktop did not allow Vantrel to type: keys typed on the keyboard are "
           "dropped. Connect again and allow the desktop's request";
  case InjectNotice::kSessionClosed:
    return "the desktop ended Vantrel's leave to type: keys typed on the keyboard are "
           "dropped. Connect again and allow the desktop's request";
  case InjectNotice::kPortalFailed:
    return "the desktop's portal could not give Vantrel leave to type: keys typed on the "
           "keyboard are dropped";
  }
  return "";
}

} // namespace

void InjectSetHost(const InjectHost &host) {
  std::lock_guard<std::mutex> lock(gHostMutex);
  gHost = host;
}

InjectHost InjectGetHost() {
  std::lock_guard<std::mutex> lock(gHostMutex);
  return gHost;
}

void InjectTell(InjectNotice notice) {
  PlatformTrace("inject: telling the person: %s", NoticeText(notice));
  const InjectHost host = InjectGetHost();
  if (host.tell)
    host.tell(notice);
  else
    fprintf(stderr, "vantrel: %s\n", NoticeText(notice));
}

// Choosing the injection backend on Windows: VANTREL_INJECT "sendinput"
// (the default), "log" or "log:PATH". The choice never waits on a desktop
// service, so it is made on the calling thread. The three calls, the guard
// and the host are the ones every build shares (platform/inject/).
#include "platform/inject.h"

#include "platform/inject/chosen.h"
#include "platform/trace.h"
#include "platform/win/inject/key_log.h"
#include "platform/win/inject/send_input.h"

#include <cstdlib>
#include <mutex>
#include <string>

namespace {

std::mutex gChoiceMutex;
const InjectOps *gSelected = nullptr; // the backend InjectSelectBackend chose
bool gNamed = false;

} // namespace

const char *InjectSelectBackend() {
  std::lock_guard<std::mutex> lock(gChoiceMutex);
  if (gSelected)
    return gSelected->name;
  const char *asked = getenv("VANTREL_INJECT");
  const std::string choice = asked ? asked : "";
  gNamed = !choice.empty();
  if (choice.rfind("log", 0) == 0) {
    const std::string path = choice.size() > 4 && choice[3] == ':' ? choice.substr(4) : "";
    gSelected = KeyLogOpen(path.c_str());
    if (!gSelected) {
      PlatformWarning("typing: the key log %s cannot be opened", path.c_str());
      PlatformTrace("inject: no backend");
      gNamed = false;
      return "none";
    }
  } else {
    if (gNamed && choice != "sendinput")
      PlatformWarning("typing: VANTREL_INJECT=%s is not known here; using sendinput",
                      choice.c_str());
    gNamed = gNamed && choice == "sendinput";
    gSelected = SendInputBackend();
  }
  PlatformTrace("inject: backend %s", gSelected->name);
  InjectInstallChosen(gSelected);
  return gSelected->name;
}

void InjectSelectBackendInBackground(void (*chosen)(const char *name)) {
  const char *name = InjectSelectBackend();
  if (chosen)
    chosen(name);
}

void InjectWaitForBackend() {}

InjectReach InjectBackendReach() {
  std::lock_guard<std::mutex> lock(gChoiceMutex);
  if (!gSelected)
    return InjectReach::kWindows;
  return gSelected == SendInputBackend() ? InjectReach::kWindows : InjectReach::kNowhere;
}

bool InjectBackendNamed() {
  std::lock_guard<std::mutex> lock(gChoiceMutex);
  return gSelected && gNamed;
}

void InjectShutdown() {
  std::lock_guard<std::mutex> lock(gChoiceMutex);
  InjectCloseChosen(gSelected);
  gSelected = nullptr;
  gNamed = false;
}

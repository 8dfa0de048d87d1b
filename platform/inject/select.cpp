// Choosing the injection backend from VANTREL_INJECT. Every candidate checks
// that it can work when it opens; one that cannot leaves a trace line and the
// next along uinput -> xtest -> log is tried, so a misconfigured host still
// gets the log rather than keys silently dropped.
#include "platform/inject.h"
#include "platform/inject/log_backend.h"
#include "platform/trace.h"
#include "platform/uinput/uinput_backend.h"
#include "platform/xtest/xtest_backend.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

enum class Candidate { Uinput, XTest, Log };

std::mutex gMutex;
bool gSelected = false;
bool gAtExitSet = false;
const InjectOps *gChosen = nullptr;
void (*gClose)(const InjectOps *) = nullptr;

const InjectOps *TryOpen(Candidate c, const std::string &logPath) {
  switch (c) {
  case Candidate::Uinput:
    gClose = UinputInjectClose;
    return UinputInjectOpen(nullptr);
  case Candidate::XTest: {
    const char *display = getenv("DISPLAY");
    if (!display || !*display) {
      PlatformTrace("inject: xtest not usable: DISPLAY is not set");
      return nullptr;
    }
    gClose = XTestInjectClose;
    return XTestInjectOpen(display);
  }
  case Candidate::Log:
    gClose = LogInjectClose;
    return LogInjectOpen(logPath.c_str());
  }
  return nullptr;
}

const char *CandidateName(Candidate c) {
  return c == Candidate::Uinput ? "uinput" : c == Candidate::XTest ? "xtest" : "log";
}

void ShutdownAtExit() { InjectShutdown(); }

} // namespace

const char *InjectSelectBackend() {
  std::lock_guard<std::mutex> lock(gMutex);
  if (gSelected)
    return gChosen ? gChosen->name : "none";
  gSelected = true;

  const char *env = getenv("VANTREL_INJECT");
  std::string request = env ? env : "";
  std::string logPath;
  std::vector<Candidate> chain;
  if (request == "uinput") {
    chain = {Candidate::Uinput, Candidate::XTest, Candidate::Log};
  } else if (request == "xtest") {
    chain = {Candidate::XTest, Candidate::Log};
  } else if (request == "log") {
    chain = {Candidate::Log};
  } else if (request.rfind("log:", 0) == 0) {
    logPath = request.substr(4);
    chain = {Candidate::Log};
  } else {
    if (!request.empty())
      PlatformTrace("inject: VANTREL_INJECT=%s is not known; choosing by default", request.c_str());
    chain = {Candidate::Uinput, Candidate::XTest, Candidate::Log};
  }

  for (size_t i = 0; i < chain.size() && !gChosen; ++i) {
    gChosen = TryOpen(chain[i], logPath);
    if (!gChosen)
      PlatformTrace("inject: backend %s failed, falling back", CandidateName(chain[i]));
  }
  if (!gChosen && !logPath.empty()) {
    // The log file could not be opened: the log still goes to stdout.
    logPath.clear();
    gChosen = TryOpen(Candidate::Log, logPath);
  }
  if (!gChosen) {
    PlatformTrace("inject: no backend could be opened; keys are dropped");
    return "none";
  }
  PlatformTrace("inject: using backend %s%s%s", gChosen->name, logPath.empty() ? "" : " to ",
                logPath.c_str());
  InjectSetBackend(gChosen);
  if (!gAtExitSet) {
    gAtExitSet = true;
    atexit(ShutdownAtExit);
  }
  return gChosen->name;
}

void InjectShutdown() {
  std::lock_guard<std::mutex> lock(gMutex);
  gSelected = false; // a later InjectSelectBackend chooses afresh
  if (!gChosen)
    return;
  if (InjectGetBackend() == gChosen)
    InjectSetBackend(nullptr);
  if (gClose)
    gClose(gChosen);
  gChosen = nullptr;
}

// Between a chooser of the injection backend and the three calls
// (dispatch.cpp): each build's chooser tells the calls of its choice here.
#pragma once

#include "platform/inject.h"

// A choice is under way (true) or over (false): presses meanwhile are
// dropped, the first of them with a trace line.
void InjectNoteChoosing(bool choosing);
// Installs the chosen backend (InjectSetBackend; nullptr uninstalls) and,
// when the link is up, tells it so through its linkChanged, in order with
// InjectLinkChanged.
void InjectInstallChosen(const InjectOps *ops);
// Ends a chosen backend: uninstalls it when it is the one installed (a
// test's may have taken its place), then closes it through its close
// operation. Nothing for null.
void InjectCloseChosen(const InjectOps *ops);

// Everything the program's logic calls of the platform, in one include.
#pragma once

#include "platform/files.h"
#include "platform/inject.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "platform/wintypes.h"

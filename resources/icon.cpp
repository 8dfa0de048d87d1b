// Icon 145: the keyboard drawn small, made by tools/pictures/make_pictures.py.
#include "platform/resource_formats.h"
#include "resources/resources.h"

namespace {
#include "resources/icon/icon_data.inc"

const IMAGERESOURCE kIcon{kIcon145, sizeof kIcon145};
} // namespace

void RegisterIcon() { RegisterResource(RT_ICON, kIconApp, &kIcon, sizeof kIcon); }

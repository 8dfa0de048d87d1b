// The version comes from the build as VANTREL_VERSION (CMake's project
// version), so About, --version and the packages cannot disagree.
#include "common/product_info.h"

const char *ProductVersion() { return VANTREL_VERSION; }

const char *ProductLicence() { return "MIT"; }

const char *ProductCopyright() { return "The Vantrel developers"; }

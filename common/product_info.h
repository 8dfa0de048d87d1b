// What the program says about itself: its version, taken from the build (the
// project version, the same that --version prints and the packages carry),
// and its licence. The texts are static and live for the whole process.
#pragma once

// The version, e.g. "0.1".
const char *ProductVersion();
// The licence's short name: "MIT".
const char *ProductLicence();
// Who holds the copyright: "The Vantrel developers".
const char *ProductCopyright();

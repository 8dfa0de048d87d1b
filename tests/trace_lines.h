// Moved to tests/support/trace_lines.h; this line keeps the link tests'
// include working until they take the new path.
#pragma once
#include "tests/support/trace_lines.h"

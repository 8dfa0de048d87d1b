// The libFuzzer entry of one fuzz target: FUZZ_ENTRY names the function of
// fuzz_entries.h it runs.
#include "tests/fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return FUZZ_ENTRY(data, size);
}

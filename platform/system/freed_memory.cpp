// Giving freed memory back to the system. The C library keeps what the
// program frees in its heaps, spread between blocks still in use, so it
// stays in the program's resident memory for as long as the program runs:
// the start-up's files, settings and pictures, and a picture decoded for
// every paint, whose block the library would stop handing back to the
// system once one such block has been freed (its threshold for blocks of
// their own rises to their size).
#include "platform/system.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void ReleaseFreedMemory() {
#if defined(__GLIBC__)
  // Large blocks (a decoded picture) get pages of their own from now on,
  // handed back as soon as they are freed.
  constexpr int kOwnPagesFrom = 128 * 1024;
  mallopt(M_MMAP_THRESHOLD, kOwnPagesFrom);
  // Fixing that threshold also fixes the one for the heap's free end at
  // whatever the library had raised it to (twice the largest block freed
  // so far, a window-sized picture): set it back to its usual relation, so
  // that what a later burst frees at the end goes back without a trim.
  mallopt(M_TRIM_THRESHOLD, 2 * kOwnPagesFrom);
  malloc_trim(0);
#endif
}

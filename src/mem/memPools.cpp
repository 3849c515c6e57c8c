// STAND-IN for the pool system: see memPools.h. No pool can be created yet, so starting and
// destroying all pools have nothing to do.
#include "pisnp/pools.h"

void mpPoolInit() {}

int mpDestroyAll() {
    return 0;
}

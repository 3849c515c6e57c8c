// Memory pools: many small pieces freed together when their pool is destroyed.
//
// STAND-IN: until the pools exist, only the start and the tear-down of the pool system are here,
// with their final interface, so that callers do not change when the pools replace this.
#pragma once

#include "pisnp_export.h"

// Starts the pool system; does nothing when it is running.
PISNP_API void mpPoolInit();
// Destroys every pool and stops the pool system. 0 on success.
PISNP_API int mpDestroyAll();

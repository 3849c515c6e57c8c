// Threads: creation with a registry of live threads, ending and stopping them, delays.
#pragma once

#include "pisnp_export.h"

// Sleeps ms milliseconds (a signal may end the sleep early).
PISNP_API void psThreadDelay(int ms);

// Internal side of the plug-in entry points: the snapshot attribute record and the library's
// name, which the registry and the start-up read.
#pragma once

#include "piPlugin.h"
#include "pisnp_export.h"

// All zero until piQueryApp has filled it through getSnapAttrib.
PISNP_API extern piSnapAttrib_t gSnapAttrib;

// "libPiSNP.so".
PISNP_API const char* getSnapLibName();
// Fills gSnapAttrib with the provider's attributes and returns its address.
PISNP_API piSnapAttrib_t* getSnapAttrib();

// Internal side of the plug-in entry points: the snapshot attribute record and the library's
// name, which the registry and the start-up read.
#pragma once

#include "piPlugin.h"

// All zero until piQueryApp has filled it through getSnapAttrib.
extern piSnapAttrib_t gSnapAttrib;

// "libPiSNP.so".
const char* getSnapLibName();
// Fills gSnapAttrib with the provider's attributes and returns its address.
piSnapAttrib_t* getSnapAttrib();

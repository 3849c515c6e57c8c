// What the plug-in keeps of its host, and its own attributes, for hosts written in C++.
//
// The C entry points and records are in piPlugin.h and bkpSnapshot.h. These globals are written
// by the plug-in's entry points, which the host calls from one thread at a time.
#pragma once

#include "piPlugin.h"
#include "pisnp_export.h"

// The host services object; null until piSnapshotInit, never cleared afterwards.
PISNP_API extern piHostServices_t* sharedUtilP;

// All zero until piQueryApp has filled it through getSnapAttrib.
PISNP_API extern piSnapAttrib_t gSnapAttrib;

// "libPiSNP.so".
PISNP_API const char* getSnapLibName();
// Fills gSnapAttrib with the provider's attributes and returns its address.
PISNP_API piSnapAttrib_t* getSnapAttrib();

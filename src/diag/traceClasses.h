// Trace class flag bytes: one global byte per class, read without locks.
#pragma once

#include "pisnp_export.h"

PISNP_API extern unsigned char TR_ERROR;
PISNP_API extern unsigned char TR_GENERAL;
PISNP_API extern unsigned char TR_MEMORY;
PISNP_API extern unsigned char TR_ENTER;
PISNP_API extern unsigned char TR_EXIT;
PISNP_API extern unsigned char TR_THREAD;
PISNP_API extern unsigned char TR_FILEOPS;

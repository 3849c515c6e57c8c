// Date records and the local time.
//
// nfDate keeps its year most significant byte first so that records compare byte by byte and
// can be written to files as they are. All functions may be called from any thread.
#pragma once

#include <ctime>

#include "pisnp_export.h"

struct nfDate {
    unsigned char year[2];  // big-endian
    unsigned char month;
    unsigned char day;
    unsigned char hour;
    unsigned char minute;
    unsigned char second;
};
static_assert(sizeof(nfDate) == 7);

// localtime_r of *t into out; when that fails, of 172800 (two days after the epoch) instead, so
// that callers always get a usable date. Returns what the last localtime_r returned. The
// parameter types are those the date functions and the host link against.
PISNP_API tm* psLocalTime(time_t* t, tm& out);

// What the message logging shares with the log files inside the library.
#pragma once

#include <cstddef>

#include "pisnp/logs.h"

namespace logfile {

// Writes one finished line (date stamp, text, newline) of n bytes to the open log in a single
// write, after the wrap check, and records the next write behind it. A wrapping log gets at most
// what fits below its maximum. 0, or the errno of the failed write (nothing of the line was
// written then, as far as the stream can tell).
int writeLine(DLogFile& log, const char* line, size_t n);

// Formats the present local time (also stored in *now when given) into date and time texts
// (16 bytes each).
void stampNow(char* date, char* time, nfDate* now = nullptr);

}  // namespace logfile

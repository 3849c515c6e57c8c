// What the diagnostics layer's hooks use of the message logging.
#pragma once

#include "pisnp/logs.h"

// A message text for the schedule log, while the process runs in schedule mode and the schedule
// log is on; always 0.
int scheduleLine(char* text);

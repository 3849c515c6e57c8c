// Error, schedule and audit logs.
#pragma once

#include "pisnp_export.h"

// One error-log line. 0 when logging is off.
PISNP_API int LogMsg(char* text);

// Error, schedule and audit logs.
#pragma once

#include <cstdarg>

#include "pisnp_export.h"

// One error-log line. 0 when logging is off.
PISNP_API int LogMsg(char* text);

// Compose message msgNum into a new text in out (owned by the caller) and log it when its
// severity calls for it. nlLogvsprintf returns the length (0 when there is no text),
// nlLogMessage returns out.
int nlLogvsprintf(char*& out, int msgNum, va_list args);
char* nlLogMessage(char*& out, int msgNum, ...);

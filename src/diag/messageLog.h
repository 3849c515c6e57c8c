// Numbered messages that are logged by their severity.
#pragma once

#include <cstdarg>

#include "pisnp/logs.h"

// Compose message msgNum into a new text in out (owned by the caller) and log it when its
// severity calls for it. nlLogvsprintf returns the length (0 when there is no text),
// nlLogMessage returns out.
int nlLogvsprintf(char*& out, int msgNum, va_list args);
char* nlLogMessage(char*& out, int msgNum, ...);

// What the layers above use of the message API beside its public functions.
#pragma once

#include <cstdarg>

#include "pisnp/messages.h"

// Composes message msgNum into a new text in out (owned by the caller); *sev gets its severity,
// 0 when there is no message. Returns out.
char* nlVmessageSev(char*& out, int msgNum, va_list args, unsigned char* sev);

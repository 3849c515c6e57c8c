// Numbered messages: composition into heap texts (owned by the caller, released with arcFree)
// and printing.
#pragma once

#include <cstdarg>

// Severity codes of catalog messages; codes from kSevWarning up are logged.
enum {
    kSevZ = 0,
    kSevTrace = 1,
    kSevR = 2,
    kSevK = 3,
    kSevInfo = 4,
    kSevWarning = 5,
    kSevError = 6,
    kSevSevere = 7,
    kSevL = 8,
};

char* nlMessage(char*& out, int msgNum, ...);
// The length of the composed text, 0 when there is none. sev (when given) gets the severity.
int nlvsprintf(char*& out, int msgNum, va_list args);
int nlVmessageSev(char*& out, int msgNum, va_list args, unsigned char* sev);
int nlprintf(int msgNum, ...);
// 255 when there is no such message.
int nlGetMsgSev(int msgNum);

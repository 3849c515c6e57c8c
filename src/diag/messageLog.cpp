// Until the error log can be opened, logging is off: LogMsg writes nothing and answers 0,
// as it does in logging mode 0.
#include "diag/messageLog.h"

#include <cstring>

#include "pisnp/globalRC.h"
#include "nls/nlsMessageApi.h"

int LogMsg(char*) {
    return 0;
}

int nlLogvsprintf(char*& out, int msgNum, va_list args) {
    if (gRC != nullptr) gRC->set(msgNum);
    unsigned char sev = 0;
    nlVmessageSev(out, msgNum, args, &sev);
    if (out == nullptr) return 0;
    if (sev >= nlsSevWarning) LogMsg(out);
    return static_cast<int>(std::strlen(out));
}

char* nlLogMessage(char*& out, int msgNum, ...) {
    unsigned char sev = 0;
    va_list args;
    va_start(args, msgNum);
    nlVmessageSev(out, msgNum, args, &sev);
    va_end(args);
    if (out != nullptr && sev >= nlsSevWarning) LogMsg(out);
    return out;
}

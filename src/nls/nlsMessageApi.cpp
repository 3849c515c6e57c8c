// Until the message catalogs can be read, the few messages the runtime issues itself come from
// this table, in the catalog's layout: identifier and blank, then a printf-style body.
#include "nls/nlsMessageApi.h"

#include <cstdio>
#include <cstring>

#include "base/report.h"
#include "mem/checkedAlloc.h"

namespace {

struct BuiltinMsg {
    int number;
    unsigned char severity;
    const char* text;
};

const BuiltinMsg kMessages[] = {
    {361, kSevInfo, "ANS0361I DIAG: "},
    {1190, kSevWarning, "ANS1190W Symbolic link '%s' to '%s' was deleted.\n"},
    {1191, kSevError, "ANS1191E Error deleting symbolic link '%s'.\n"},
    {1193, kSevError, "ANS1193E Unable to use the file '%s': it is a symbolic link.\n"},
    {1824, kSevError, "ANS1824E The trace file name is not valid.\n"},
    {9293, kSevError, "ANS9293E The error program '%s' failed: %s\n"},
    {9999, kSevSevere, "ANS9999E %s(%u): %s\n"},
    {11230, kSevTrace, "Enabled trace classes:\n"},
    {11231, kSevTrace, "Disabled trace classes:\n"},
    {11232, kSevTrace, "Trace classes:\n"},
};

const BuiltinMsg* find(int msgNum) {
    for (const BuiltinMsg& m : kMessages)
        if (m.number == msgNum) return &m;
    return nullptr;
}

}  // namespace

int nlVmessageSev(char*& out, int msgNum, va_list args, unsigned char* sev) {
    out = nullptr;
    if (sev != nullptr) *sev = 0;
    const BuiltinMsg* m = find(msgNum);
    if (m == nullptr) return 0;
    va_list copy;
    va_copy(copy, args);
    int len = std::vsnprintf(nullptr, 0, m->text, copy);
    va_end(copy);
    if (len < 0) return 0;
    out = static_cast<char*>(ARC_MALLOC(static_cast<size_t>(len) + 10));
    if (out == nullptr) return 0;
    std::vsnprintf(out, static_cast<size_t>(len) + 1, m->text, args);
    if (sev != nullptr) *sev = m->severity;
    return len;
}

int nlvsprintf(char*& out, int msgNum, va_list args) {
    return nlVmessageSev(out, msgNum, args, nullptr);
}

char* nlMessage(char*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    nlVmessageSev(out, msgNum, args, nullptr);
    va_end(args);
    return out;
}

int nlprintf(int msgNum, ...) {
    char* text = nullptr;
    va_list args;
    va_start(args, msgNum);
    nlVmessageSev(text, msgNum, args, nullptr);
    va_end(args);
    if (text == nullptr) return 0;
    pisnp::report::messageIssued(msgNum);
    std::fputs(text, stdout);
    ARC_FREE(text);
    return 0;
}

int nlGetMsgSev(int msgNum) {
    const BuiltinMsg* m = find(msgNum);
    return m != nullptr ? m->severity : 255;
}

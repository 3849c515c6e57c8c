// Class lists and test-flag lists as users type them. The first byte chooses the parser; the
// rest is the list. Flags set by one input are cleared before the next.
#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "pisnp/trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    new_TraceObject(ctCLBackup, static_cast<unsigned long>(pthread_self()), nullptr);
    std::string list(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
        case 0:
            trEnable(list.data(), 1);
            break;
        case 1:
            trProcTestFlags(list.data());
            break;
        default: {
            // Against a small table whose aggregates name each other.
            static unsigned char a = 0;
            static unsigned char b = 0;
            static const TrClass classes[] = {{"A", &a, 1}, {"B", &b, 0}, {nullptr, nullptr, 0}};
            static const TrAggrClass aggregates[] = {
                {"X", "A -Y"}, {"Y", "B X ALL"}, {"Z", "-ALL A"}, {nullptr, nullptr}};
            trEnable(list.data(), 1, classes, aggregates);
            break;
        }
    }
    delete_TraceObject();
    return 0;
}

// Catalog entries as catgets could hand them over from a damaged or hostile catalog: decoded into
// a record, and when the record is kept, its body formatted and its template made.
#include <cstddef>
#include <cstdint>
#include <string>

#include "nls/nlsInternal.h"
#include "pisnp/alloc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string entry(reinterpret_cast<const char*>(data), size);  // catgets texts end at a NUL
    EntryStatus status;
    nlsMsg* m = nlsDecodeEntry(entry.c_str(), 1, &status);
    if (m == nullptr) return 0;
    // A kept record's body must be one the engine formats within the record.
    char* body = m->text + nlsBodyOffset(m);
    if (body[0] == 0) {
        BodyLayout layout;
        if (!nlsParseCompiledBody(body, SIZE_MAX, &layout)) __builtin_trap();
    }
    arcFree(m, "fuzz", 0);
    return 0;
}

// Compiled message bodies of any bytes, formatted with one fixed argument list into every kind of
// output: whatever a body announces, nothing is read beyond it or the arguments.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "nls/nlsInternal.h"

namespace {

// Serves each type from a fixed value; strings are valid as narrow and as wide text.
class FixedArgs final : public InsertArgs {
  public:
    int nextInt() override { return 7; }
    long long nextLong() override { return -1234567890123LL; }
    double nextDouble() override { return 2.5; }
    void* nextPtr() override { return text_; }

  private:
    wchar_t text_[3] = {L'a', L'b', 0};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> body(data, data + size);
    if (body.empty()) return 0;
    body[0] = 0;  // a compiled body
    BodyLayout layout;
    if (!nlsParseCompiledBody(body.data(), body.size(), &layout)) return 0;
    nlsObject_t& obj = *getNlsGlobalObjectHandle();
    FixedArgs a1, a2;
    nlsCharBuffer chars(8);
    nlsInsertCompiled(obj, layout, a1, &chars);
    nlsWcharBuffer wide(8);
    nlsInsertCompiled(obj, layout, a2, &wide);
    return 0;
}

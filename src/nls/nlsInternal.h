// What the parts of the message system share inside the library.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstring>

#include "pisnp/messages.h"
#include "pisnp/threads.h"

// The one message object (also getNlsGlobalObjectHandle).
extern nlsObject_t gNlsObject;

// Holds nls_mutex for a scope; held() is false when there is no mutex or it cannot be taken.
// Inline: every message call takes it, and the calls around it would cost as much as the lock.
class NlsLock {
  public:
    NlsLock() : held_(nls_mutex != nullptr && psMutexLock(nls_mutex, 0) == 0) {}
    ~NlsLock() { release(); }
    NlsLock(const NlsLock&) = delete;
    NlsLock& operator=(const NlsLock&) = delete;
    bool held() const { return held_; }
    // Releases early; the pthread result (0 when nothing was held).
    int release() {
        if (!held_) return 0;
        held_ = false;
        return psMutexUnlock(nls_mutex);
    }

  private:
    bool held_;
};

// Copies text into a fixed field, cut to fit.
template <size_t N>
void nlsCopy(char (&field)[N], const char* text) {
    size_t n = strnlen(text, N - 1);
    std::memcpy(field, text, n);
    field[n] = '\0';
}

// Outcome of decoding one catalog entry.
enum class EntryStatus { ok, noRecord, corrupted, noMemory };

// Decodes a catalog entry (as catgets returns it) into a new record for msgNum: identifier and
// severity, response string, text converted to the local code set when a converter is open, cut
// at its last 0x12, zero bytes restored. Null unless the status is ok.
nlsMsg* nlsDecodeEntry(const char* entry, unsigned int msgNum, EntryStatus* status);

// Where a record's body starts: after the 9-byte identifier and blank for severities K to S.
size_t nlsBodyOffset(const nlsMsg* m);

// thousand_sep, decimal_sep and subsecond_sep from the current locale ("," and "." where it has
// none).
void nlsLocaleSeparators();

// ---- The insert engine ----------------------------------------------------------------------

// The parts of a compiled body (kind 0): per slot, in text order, its star count, value type and
// conversion; the order table (argument k fills slot order[k]); the literal segments around them.
struct InsertDesc {
    int stars;
    int type;  // 0 pointer or string, 1 int, 2 64-bit integer, 3 double
    const char* format;
};
struct BodyLayout {
    int slots;
    unsigned char order[kNlsMaxSlots];
    InsertDesc desc[kNlsMaxSlots];
    const char* segment[kNlsMaxSlots + 1];
};

// Reads a compiled body of at most len bytes. False when it is not one the engine can format
// safely: more than 12 slots, an order table that is no permutation, a conversion that does not
// match its type and star count, or a part running past len.
bool nlsParseCompiledBody(const char* body, size_t len, BodyLayout* out);
// A body the catalog reader may cache: a printf body, a valid compiled body, or a body of another
// kind (which yields no text).
bool nlsBodyAcceptable(const char* body, size_t len);

// Where the insert engine takes its values from: the caller's va_list, or a fixed list.
class InsertArgs {
  public:
    virtual int nextInt() = 0;
    virtual long long nextLong() = 0;
    virtual double nextDouble() = 0;
    virtual void* nextPtr() = 0;

  protected:
    ~InsertArgs() = default;
};

// Formats a parsed compiled body into the four kinds of output; the results are those of
// nlOrderInsert.
int nlsInsertCompiled(nlsObject_t& obj, const BodyLayout& b, InsertArgs& args, nlsCharBuffer* out);
int nlsInsertCompiled(nlsObject_t& obj, const BodyLayout& b, InsertArgs& args, nlsWcharBuffer* out);
int nlsInsertCompiled(nlsObject_t& obj, const BodyLayout& b, InsertArgs& args, char* out);
int nlsInsertCompiled(nlsObject_t& obj, const BodyLayout& b, InsertArgs& args, wchar_t* out);

// The common printf body by hand: a format whose conversions are all plain %s, %d, %i, %u or %%
// is written into out with its terminator, and its length returned. -1 when the format has any
// other conversion or the text and its terminator would need more than room bytes; the caller
// then formats it the general way. args is walked on a copy.
long nlsFormatPlain(const char* fmt, va_list args, char* out, size_t room);

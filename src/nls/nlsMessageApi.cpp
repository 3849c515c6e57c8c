// The message API: a message number and its inserts become a heap text, console output, an event
// record, or the message's template, severity or response string.
#include "nls/nlsMessageApi.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <type_traits>

#include "base/report.h"
#include "pisnp/dates.h"
#include "mem/checkedAlloc.h"
#include "nls/nlsInternal.h"
#include "pisnp/traceFlags.h"

namespace {

constexpr char kConversionLetters[] = "cdeEfgGiopsuxX";

// A buffer object of the library's own heap, destroyed with it.
template <typename Buffer>
struct HeapBuffer {
    Buffer* buffer;
    HeapBuffer() {
        void* raw = ARC_CALLOC(1, sizeof(Buffer));
        buffer = raw != nullptr ? new (raw) Buffer(nlsBuffer::INIT_SIZE_KB) : nullptr;
    }
    ~HeapBuffer() {
        if (buffer == nullptr) return;
        buffer->~Buffer();
        ARC_FREE(buffer);
    }
};

// Room on the stack for a message composed by composePlain; longer ones take the general way.
constexpr size_t kPlainRoom = 2048;

// The caller's block for a composed text of len bytes (terminator excluded), zero-filled past it.
// Only the bytes behind the terminator need zeros: the text is copied over the rest at once.
template <typename Char>
Char* handOut(const void* text, size_t len) {
    size_t size = len + 10 * sizeof(Char);
    auto* out = static_cast<Char*>(ARC_MALLOC(size));
    if (out == nullptr) return nullptr;
    std::memcpy(out, text, len + sizeof(Char));
    std::memset(reinterpret_cast<char*>(out) + len + sizeof(Char), 0, size - len - sizeof(Char));
    return out;
}

// The usual message: a printf body of plain %s and %d inserts, composed on the stack and copied
// once into the caller's block. The general way builds the same bytes in an 8 KB zero-filled
// output buffer and a 17 KB printf block; both are freed before the caller sees anything, and
// neither their size nor their zeros reach the text, which is only ever read up to its
// terminator. So the text, its length and the block handed out are the same. False when the
// message is not of that kind or does not fit; nothing has been taken from args then.
bool composePlain(const nlsMsg* m, char*& out, va_list args) {
    size_t body = nlsBodyOffset(m);
    if (m->text[body] != 1) return false;
    char text[kPlainRoom];
    size_t head = strnlen(m->text, body);
    std::memcpy(text, m->text, head);
    long n = nlsFormatPlain(m->text + body + 1, args, text + head, sizeof text - head);
    if (n < 0) return false;
    size_t len = head + static_cast<size_t>(n);
    REPORT_TRACE(TR_NLS, "return from nlOrderInsert (char), msgLen %d:\n", static_cast<int>(len));
    if (len != 0) out = handOut<char>(text, len);
    return true;
}

// The composed text, or null. english: read the American English catalog this once.
template <typename Char, typename Buffer>
Char* compose(int msgNum, Char*& out, va_list args, unsigned char* sev, bool english) {
    out = nullptr;
    if (sev != nullptr) *sev = 0;
    NlsLock lock;
    if (!lock.held()) return nullptr;
    nlsObject_t& obj = gNlsObject;
    if (english) obj.englishFlag = 1;
    nlsMsg* m = obj.GetMsg(static_cast<unsigned int>(msgNum));
    if (m == nullptr) return nullptr;
    if (sev != nullptr) *sev = m->severity;
    if constexpr (std::is_same_v<Char, char>) {
        if (composePlain(m, out, args)) return out;
    }
    HeapBuffer<Buffer> buf;
    if (buf.buffer != nullptr) {
        size_t body = nlsBodyOffset(m);
        if (body != 0) buf.buffer->addToBuffer(m->text, body);
        obj.nlOrderInsert(buf.buffer, m->text + body, args);
        unsigned long len = buf.buffer->getMsgLen();
        if (len != 0) out = handOut<Char>(buf.buffer->getBuffer(), len);
    }
    return out;
}

int lengthOf(const char* s) {
    return s != nullptr ? static_cast<int>(std::strlen(s)) : 0;
}

int bytesOf(const wchar_t* s) {
    return s != nullptr ? static_cast<int>(std::wcslen(s) * sizeof(wchar_t)) : 0;
}

int charsOf(const wchar_t* s) {
    return s != nullptr ? static_cast<int>(std::wcslen(s)) : 0;
}

// The error log for W and above, and the date and time in front of console output when asked.
void logAndStamp(FILE* stream, char* text, unsigned char sev) {
    if (sev <= nlsSevInfo) return;
    pisnp::report::logLine(text);
    if (gNlsObject.consoleTimeStamp == 1 && (stream == stdout || stream == stderr)) {
        // The error log has just taken this text, so its time is the present one too.
        nfDate now;
        dateLocal(&now);
        char date[16] = "", time[16] = "";
        dateFmt(&now, date, time);
        std::fprintf(stream, "%s %s ", date, time);
    }
}

bool console(FILE* stream) {
    return stream == stdout || stream == stderr;
}

}  // namespace

char* nlsObject_t::nlVmessage(int msgNum, char*& out, va_list args, unsigned char* sev) {
    return compose<char, nlsCharBuffer>(msgNum, out, args, sev, false);
}

wchar_t* nlsObject_t::nlVmessage(int msgNum, wchar_t*& out, va_list args, unsigned char* sev) {
    return compose<wchar_t, nlsWcharBuffer>(msgNum, out, args, sev, false);
}

char* nlVmessageSev(char*& out, int msgNum, va_list args, unsigned char* sev) {
    return gNlsObject.nlVmessage(msgNum, out, args, sev);
}

char* nlMessage(char*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    compose<char, nlsCharBuffer>(msgNum, out, args, nullptr, false);
    va_end(args);
    return out;
}

wchar_t* nlMessage(wchar_t*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    compose<wchar_t, nlsWcharBuffer>(msgNum, out, args, nullptr, false);
    va_end(args);
    return out;
}

char* nlEngMessage(char*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    compose<char, nlsCharBuffer>(msgNum, out, args, nullptr, true);
    va_end(args);
    return out;
}

wchar_t* nlEngMessage(wchar_t*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    compose<wchar_t, nlsWcharBuffer>(msgNum, out, args, nullptr, true);
    va_end(args);
    return out;
}

int nlvsprintf(char*& out, int msgNum, va_list args) {
    return lengthOf(compose<char, nlsCharBuffer>(msgNum, out, args, nullptr, false));
}

int nlvsprintf(wchar_t*& out, int msgNum, va_list args) {
    return bytesOf(compose<wchar_t, nlsWcharBuffer>(msgNum, out, args, nullptr, false));
}

int nlsprintf(char*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    int n = nlvsprintf(out, msgNum, args);
    va_end(args);
    return n;
}

int nlsprintf(wchar_t*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    int n = nlvsprintf(out, msgNum, args);
    va_end(args);
    return n;
}

int nlEngvsprintf(char*& out, int msgNum, va_list args) {
    return lengthOf(compose<char, nlsCharBuffer>(msgNum, out, args, nullptr, true));
}

int nlEngvsprintf(wchar_t*& out, int msgNum, va_list args) {
    return charsOf(compose<wchar_t, nlsWcharBuffer>(msgNum, out, args, nullptr, true));
}

int nlEngsprintf(char*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    int n = nlEngvsprintf(out, msgNum, args);
    va_end(args);
    return n;
}

int nlEngsprintf(wchar_t*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    int n = nlEngvsprintf(out, msgNum, args);
    va_end(args);
    return n;
}

int nlvfprintf(FILE* stream, int msgNum, va_list args) {
    char* text = nullptr;
    unsigned char sev = 0;
    gNlsObject.nlVmessage(msgNum, text, args, &sev);
    if (text == nullptr) return 0;
    pisnp::report::messageIssued(msgNum);
    pisnp::report::schedLine(text);
    logAndStamp(stream, text, sev);
    if (gNlsObject.clientType != ctCLAPI) msgOut(sev, text);
    ARC_FREE(text);
    return 0;
}

int nlprintf(int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    nlvfprintf(stdout, msgNum, args);
    va_end(args);
    return 0;
}

int nlfprintf(FILE* stream, int msgNum, ...) {
    pisnp::report::messageIssued(msgNum);
    char* text = nullptr;
    unsigned char sev = 0;
    va_list args;
    va_start(args, msgNum);
    gNlsObject.nlVmessage(msgNum, text, args, &sev);
    va_end(args);
    if (text == nullptr) return 0;
    pisnp::report::schedLine(text);
    logAndStamp(stream, text, sev);
    if (gNlsObject.clientType != ctCLAPI || !console(stream)) std::fputs(text, stream);
    ARC_FREE(text);
    return 0;
}

int nlGetMsgSev(int msgNum) {
    if (TR_NLS != 0 || TR_EXTRC_DETAIL != 0)
        pisnp::report::trace(__FILE_NAME__, __LINE__, "Getting severity for message %d\n", msgNum);
    NlsLock lock;
    if (!lock.held()) {
        REPORT_TRACE(TR_NLS, "Unable to acquire NLS mutex\n");
        return nlsSevError;
    }
    nlsMsg* m = gNlsObject.GetMsg(static_cast<unsigned int>(msgNum));
    int sev = m != nullptr ? m->severity : 255;
    if (lock.release() != 0) {
        REPORT_TRACE(TR_NLS, "Unable to release NLS mutex\n");
        nlprintf(9999, __FILE_NAME__, __LINE__, "Unable to release NLS mutex");
        return 255;
    }
    if (m == nullptr) return 255;
    REPORT_TRACE(TR_NLS, "Severity is %d\n", sev);
    return sev;
}

int nlresponse(int msgNum, char* out) {
    NlsLock lock;
    if (!lock.held()) return -1;
    nlsMsg* m = gNlsObject.GetMsg(static_cast<unsigned int>(msgNum));
    if (m == nullptr) return -1;
    std::memcpy(out, m->response, sizeof m->response);
    return 0;
}

int nlapimsg(int msgNum, char* out, unsigned char english) {
    NlsLock lock;
    if (!lock.held()) return 0;
    nlsObject_t& obj = gNlsObject;
    if (english == 1) obj.englishFlag = 1;
    nlsMsg* m = obj.GetMsg(static_cast<unsigned int>(msgNum));
    if (m == nullptr) return 0;
    size_t bodyAt = nlsBodyOffset(m);
    char* work = obj.workBuf;
    char* end = work + sizeof obj.workBuf - 1;
    char* w = work;
    auto put = [&](const char* s, size_t n) {
        n = std::min<size_t>(n, static_cast<size_t>(end - w));
        std::memcpy(w, s, n);
        w += n;
    };
    put(m->text, bodyAt);
    const char* body = m->text + bodyAt;
    if (BodyLayout b; body[0] == 0 && nlsParseCompiledBody(body, SIZE_MAX, &b)) {
        put(b.segment[0], std::strlen(b.segment[0]));
        for (int i = 0; i < b.slots; ++i) {
            put("*", 1);
            put(b.segment[i + 1], std::strlen(b.segment[i + 1]));
        }
    } else if (body[0] == 1) {
        for (const char* p = body + 1; *p != '\0';) {
            const char* pct = std::strchr(p, '%');
            if (pct == nullptr) {
                put(p, std::strlen(p));
                break;
            }
            put(p, static_cast<size_t>(pct - p));
            if (pct[1] == '%') {
                put("%%", 2);
                p = pct + 2;
                continue;
            }
            put("*", 1);
            const char* letter = std::strpbrk(pct + 1, kConversionLetters);
            p = letter != nullptr ? letter + 1 : pct + std::strlen(pct);
        }
    }
    *w = '\0';
    std::strcpy(out, work);
    return 0;
}

int nlsObject_t::nlEventMessage(eventLog_t* ev, char** cursor, va_list args) {
    NlsLock lock;
    if (!lock.held()) {
        std::strcpy(*cursor, "??????");
        return 0;
    }
    nlsMsg* m = GetMsg(ev->msgNum);
    if (m == nullptr) {
        lock.release();
        std::strcpy(*cursor, "?????");
        return 0;
    }
    char* body = m->text + nlsBodyOffset(m);
    ev->insertCount = 0;
    switch (m->severity) {
        case nlsSevTrace:
            ev->eventType = 7;
            break;
        case nlsSevInfo:
            ev->eventType = 2;
            break;
        case nlsSevWarning:
            ev->eventType = 3;
            break;
        case nlsSevError:
            ev->eventType = 4;
            break;
        case nlsSevSevere:
            ev->eventType = 5;
            break;
        default:
            ev->eventType = 0;
            break;
    }
    va_list ap;
    va_copy(ap, args);
    auto item16 = [&](short type, long long value) {
        auto v = static_cast<unsigned short>(value);
        nlInsertItem(cursor, type, 0, &v);
    };
    if (BodyLayout b; body[0] == 0 && nlsParseCompiledBody(body, SIZE_MAX, &b)) {
        ev->insertCount = static_cast<unsigned char>(b.slots);
        for (int k = 0; k < b.slots; ++k) {
            const InsertDesc& d = b.desc[b.order[k]];
            for (int s = 0; s < d.stars; ++s) va_arg(ap, int);
            switch (d.type) {
                case 0: {
                    char* text = va_arg(ap, char*);
                    nlInsertItem(cursor, 5, 0, text != nullptr ? text : const_cast<char*>(""));
                    break;
                }
                case 1:
                    item16(3, va_arg(ap, int));
                    break;
                case 2:
                    item16(3, va_arg(ap, long long));
                    break;
                default:
                    va_arg(ap, double);
                    break;
            }
        }
    } else if (body[0] == 1) {
        if (TR_ENTER != 0 && TR_DEBUG != 0)
            pisnp::report::trace(__FILE_NAME__, __LINE__, "fastpath\n");
        for (const char* p = std::strchr(body + 1, '%'); p != nullptr; p = std::strchr(p, '%')) {
            if (p[1] == '%') {
                p += 2;
                continue;
            }
            const char* letter = std::strpbrk(p + 1, kConversionLetters);
            if (letter == nullptr) break;
            p = letter + 1;
            switch (*letter) {
                case 'd':
                case 'i':
                case 'o':
                case 'x':
                case 'X': {
                    int v = va_arg(ap, int);
                    REPORT_TRACE(TR_EVENT, "   found int '%d'\n", v);
                    item16(3, v);
                    break;
                }
                case 'u': {
                    unsigned v = va_arg(ap, unsigned);
                    REPORT_TRACE(TR_EVENT, "   found unsigned '%u'\n", v);
                    item16(2, v);
                    break;
                }
                case 'p': {
                    void* v = va_arg(ap, void*);
                    REPORT_TRACE(TR_EVENT, "   found pointer '%p'\n", v);
                    nlInsertItem(cursor, 5, 0, v != nullptr ? v : const_cast<char*>(""));
                    break;
                }
                default:
                    continue;
            }
            ++ev->insertCount;
        }
    }
    va_end(ap);
    return 1;
}

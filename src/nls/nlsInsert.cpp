// The insert engine: a message body and the caller's arguments become text, with the inserts
// placed where the translation put them. Also the wide field formatter, the scrubber of wide
// text and the items of event records.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <cwchar>
#include <string_view>

#include "base/report.h"
#include "mem/checkedAlloc.h"
#include "nls/nlsInternal.h"
#include "pisnp/codesets.h"
#include "pisnp/strings.h"
#include "pisnp/traceFlags.h"

namespace {

constexpr size_t kWorkSize = 8767;
constexpr size_t kPrintfBlock = 17469;
constexpr size_t kScratchChars = kNlsScratchSize / sizeof(wchar_t);

// A conversion fits its descriptor when it is one printf conversion, "%" through the letter,
// whose "*" count and value type agree with the descriptor: the engine hands it exactly the
// values the descriptor announces, so anything else could read what was never passed.
bool conversionFits(const char* f, int stars, int type) {
    if (*f++ != '%') return false;
    while (*f != '\0' && std::strchr("-+ #0'", *f) != nullptr) ++f;
    int starsSeen = 0;
    auto number = [&] {
        if (*f == '*') {
            ++starsSeen;
            ++f;
        } else {
            while (*f >= '0' && *f <= '9') ++f;
        }
    };
    number();
    if (*f == '.') {
        ++f;
        number();
    }
    const char* length = f;
    while (*f != '\0' && std::strchr("hljzt", *f) != nullptr) ++f;
    std::string_view mod(length, static_cast<size_t>(f - length));
    char conv = *f;
    if (conv == '\0' || f[1] != '\0' || starsSeen != stars) return false;
    bool integer = conv != '\0' && std::strchr("diouxX", conv) != nullptr;
    switch (type) {
        case 0:
            return (conv == 's' && (mod.empty() || mod == "l")) || (conv == 'p' && mod.empty());
        case 1:
            return (integer && (mod.empty() || mod == "h" || mod == "hh")) ||
                   (conv == 'c' && (mod.empty() || mod == "l"));
        case 2:
            return integer && (mod == "l" || mod == "ll" || mod == "j" || mod == "z" || mod == "t");
        case 3:
            return std::strchr("fFeEgGaA", conv) != nullptr && (mod.empty() || mod == "l");
        default:
            return false;
    }
}

bool endsWith(const char* s, const char* tail) {
    size_t n = std::strlen(s), k = std::strlen(tail);
    return n >= k && std::strcmp(s + n - k, tail) == 0;
}

// The caller's va_list, walked on a copy of its own.
class VaArgs final : public InsertArgs {
  public:
    explicit VaArgs(va_list args) { va_copy(ap_, args); }
    ~VaArgs() { va_end(ap_); }
    int nextInt() override { return va_arg(ap_, int); }
    long long nextLong() override { return va_arg(ap_, long long); }
    double nextDouble() override { return va_arg(ap_, double); }
    void* nextPtr() override { return va_arg(ap_, void*); }

  private:
    va_list ap_;
};

struct Stars {
    int n = 0;
    int value[2] = {0, 0};
};

Stars takeStars(const InsertDesc& d, InsertArgs& args) {
    Stars s;
    s.n = d.stars;
    for (int i = 0; i < d.stars; ++i) s.value[i] = args.nextInt();
    return s;
}

// snprintf with the star values in front of the value; the count of bytes written (at most
// room - 1).
template <typename T>
size_t emit(char* out, size_t room, const char* fmt, const Stars& s, T value) {
    int n;
    if (s.n == 0)
        n = std::snprintf(out, room, fmt, value);
    else if (s.n == 1)
        n = std::snprintf(out, room, fmt, s.value[0], value);
    else
        n = std::snprintf(out, room, fmt, s.value[0], s.value[1], value);
    if (n < 0) {
        *out = '\0';
        return 0;
    }
    return std::min(static_cast<size_t>(n), room - 1);
}

// One value of the 8-bit variants into out, taking it (and its star values) from args.
size_t formatValue8(const InsertDesc& d, InsertArgs& args, char* out, size_t room) {
    Stars s = takeStars(d, args);
    switch (d.type) {
        case 0: {
            void* p = args.nextPtr();
            if (std::strstr(d.format, "ls") == nullptr || p == nullptr)
                return emit(out, room, d.format, s, p);
            // A wide text prints only as far as its characters have a multibyte form.
            wchar_t* copy = StrDup(static_cast<const wchar_t*>(p));
            if (copy == nullptr) {
                *out = '\0';
                return 0;
            }
            scrubChars(copy);
            size_t n = emit(out, room, d.format, s, copy);
            ARC_FREE(copy);
            return n;
        }
        case 1:
            return emit(out, room, d.format, s, args.nextInt());
        case 2:
            return emit(out, room, d.format, s, args.nextLong());
        default:
            return emit(out, room, d.format, s, args.nextDouble());
    }
}

// One value of the wide variants into out (room characters).
size_t formatValueW(const InsertDesc& d, InsertArgs& args, wchar_t* out, size_t room) {
    Stars s = takeStars(d, args);
    bool wideText = endsWith(d.format, "ls");
    bool wideChar = endsWith(d.format, "lc");
    if (wideText || wideChar) {
        // One star is the precision when it follows the point, else the width.
        bool starIsPrecision = s.n == 1 && std::strstr(d.format, ".*") != nullptr;
        int width = s.n == 2 || (s.n == 1 && !starIsPrecision) ? s.value[0] : 0;
        int precision = s.n == 2 ? s.value[1] : starIsPrecision ? s.value[0] : 0;
        wchar_t one[2] = {0, 0};
        wchar_t* text;
        if (wideChar) {
            one[0] = static_cast<wchar_t>(args.nextInt());
            text = one;
        } else {
            text = static_cast<wchar_t*>(args.nextPtr());
            if (text == nullptr) text = const_cast<wchar_t*>(L"(null)");
        }
        // The field must fit the scratch area with its terminator.
        auto limit = static_cast<int>(room - 1);
        width = std::clamp(width, 0, limit);
        if (!wideChar && std::wcslen(text) > static_cast<size_t>(limit) &&
            (precision <= 0 || precision > limit))
            precision = limit;
        ParseFmt(const_cast<char*>(d.format), out, static_cast<unsigned>(width),
                 static_cast<unsigned>(std::max(precision, 0)), text);
        return std::wcslen(out);
    }
    char work[kWorkSize];
    switch (d.type) {
        case 0:
            emit(work, sizeof work, d.format, s, args.nextPtr());
            break;
        case 1:
            emit(work, sizeof work, d.format, s, args.nextInt());
            break;
        case 2:
            emit(work, sizeof work, d.format, s, args.nextLong());
            break;
        default:
            emit(work, sizeof work, d.format, s, args.nextDouble());
            break;
    }
    size_t n = std::mbstowcs(out, work, room - 1);
    if (n == static_cast<size_t>(-1)) n = 0;
    out[n] = L'\0';
    return n;
}

// Formats every insert into the scratch area, in the caller's order, and points each slot at
// its text.
void formatInserts(nlsObject_t& obj, const BodyLayout& b, InsertArgs& args, const char** slot) {
    char* pos = obj.insertScratch;
    size_t room = sizeof obj.insertScratch;
    for (int k = 0; k < b.slots; ++k) {
        int i = b.order[k];
        slot[i] = pos;
        size_t n = room > 1 ? formatValue8(b.desc[i], args, pos, room) : 0;
        if (room <= 1) *pos = '\0';
        pos += n + 1;
        room -= std::min(room, n + 1);
        if (room == 0) {  // the last insert keeps its terminator in the area
            --pos;
            room = 1;
        }
    }
}

void formatInserts(nlsObject_t& obj, const BodyLayout& b, InsertArgs& args, const wchar_t** slot) {
    auto* pos = reinterpret_cast<wchar_t*>(obj.insertScratch);
    size_t room = kScratchChars;
    for (int k = 0; k < b.slots; ++k) {
        int i = b.order[k];
        slot[i] = pos;
        size_t n = room > 1 ? formatValueW(b.desc[i], args, pos, room) : 0;
        if (room <= 1) *pos = L'\0';
        pos += n + 1;
        room -= std::min(room, n + 1);
        if (room == 0) {
            --pos;
            room = 1;
        }
    }
}

}  // namespace

bool nlsParseCompiledBody(const char* body, size_t len, BodyLayout* out) {
    if (len < 6 || body[0] != 0) return false;
    int n = static_cast<unsigned char>(body[5]);
    if (n > kNlsMaxSlots || len < 6 + static_cast<size_t>(n)) return false;
    out->slots = n;
    bool seen[kNlsMaxSlots] = {};
    for (int k = 0; k < n; ++k) {
        auto slot = static_cast<unsigned char>(body[6 + k]);
        if (slot >= n || seen[slot]) return false;
        seen[slot] = true;
        out->order[k] = slot;
    }
    size_t pos = 6 + static_cast<size_t>(n);
    auto text = [&](const char** at) {
        const void* end = pos < len ? std::memchr(body + pos, '\0', len - pos) : nullptr;
        if (end == nullptr) return false;
        *at = body + pos;
        pos = static_cast<size_t>(static_cast<const char*>(end) - body) + 1;
        return true;
    };
    for (int i = 0; i < n; ++i) {
        if (pos + 2 > len) return false;
        InsertDesc& d = out->desc[i];
        d.stars = static_cast<unsigned char>(body[pos]);
        d.type = static_cast<unsigned char>(body[pos + 1]);
        pos += 2;
        if (d.stars > 2 || !text(&d.format) || !conversionFits(d.format, d.stars, d.type))
            return false;
    }
    for (int i = 0; i <= n; ++i)
        if (!text(&out->segment[i])) return false;
    return true;
}

bool nlsBodyAcceptable(const char* body, size_t len) {
    if (len == 0) return false;
    if (body[0] != 0) return true;
    BodyLayout layout;
    return nlsParseCompiledBody(body, len, &layout);
}

int nlsInsertCompiled(nlsObject_t& obj, const BodyLayout& b, InsertArgs& args, nlsCharBuffer* out) {
    const char* slot[kNlsMaxSlots];
    formatInserts(obj, b, args, slot);
    auto literal = [&](const char* seg) {
        psInputCPToAnsi(const_cast<char*>(seg), cpLocal);
        out->addToBuffer(const_cast<char*>(seg), strnlen(seg, kWorkSize));
    };
    if (*b.segment[0] != '\0')
        literal(b.segment[0]);
    else
        out->addToBuffer(const_cast<char*>(""), 0);
    for (int i = 0; i < b.slots; ++i) {
        out->addToBuffer(const_cast<char*>(slot[i]), 0);
        if (*b.segment[i + 1] != '\0') literal(b.segment[i + 1]);
    }
    return static_cast<int>(out->getMsgLen());
}

int nlsInsertCompiled(nlsObject_t& obj, const BodyLayout& b, InsertArgs& args,
                      nlsWcharBuffer* out) {
    const wchar_t* slot[kNlsMaxSlots];
    formatInserts(obj, b, args, slot);
    auto literal = [&](const char* seg) {
        psInputCPToAnsi(const_cast<char*>(seg), cpLocal);
        out->addToBuffer(const_cast<char*>(seg), strnlen(seg, kWorkSize));
    };
    if (*b.segment[0] != '\0')
        literal(b.segment[0]);
    else
        out->addToBuffer(const_cast<char*>(""), 0);
    for (int i = 0; i < b.slots; ++i) {
        out->addToBuffer(const_cast<wchar_t*>(slot[i]), 0);
        if (*b.segment[i + 1] != '\0') literal(b.segment[i + 1]);
    }
    return static_cast<int>(out->getMsgLen());
}

int nlsInsertCompiled(nlsObject_t& obj, const BodyLayout& b, InsertArgs& args, char* out) {
    const char* slot[kNlsMaxSlots];
    formatInserts(obj, b, args, slot);
    StrCpy(out, b.segment[0]);
    for (int i = 0; i < b.slots; ++i) {
        StrCat(out, slot[i]);
        StrCat(out, b.segment[i + 1]);
    }
    return static_cast<int>(std::strlen(out));
}

int nlsInsertCompiled(nlsObject_t& obj, const BodyLayout& b, InsertArgs& args, wchar_t* out) {
    const wchar_t* slot[kNlsMaxSlots];
    formatInserts(obj, b, args, slot);
    *out = L'\0';
    auto literal = [&](const char* seg) {
        wchar_t work[kWorkSize + 1];
        size_t n = std::mbstowcs(work, seg, kWorkSize);
        if (n == static_cast<size_t>(-1)) n = 0;
        work[n] = L'\0';
        std::wcscat(out, work);
    };
    literal(b.segment[0]);
    for (int i = 0; i < b.slots; ++i) {
        std::wcscat(out, slot[i]);
        literal(b.segment[i + 1]);
    }
    return static_cast<int>(std::wcslen(out));
}

long nlsFormatPlain(const char* fmt, va_list args, char* out, size_t room) {
    va_list ap;
    va_copy(ap, args);
    char* w = out;
    char* const end = out + room;  // w < end keeps a byte for the terminator
    auto put = [&](const char* text, size_t n) {
        if (n >= static_cast<size_t>(end - w)) return false;
        std::memcpy(w, text, n);
        w += n;
        return true;
    };
    char digits[16];
    auto decimal = [&](auto value) {
        return put(digits, static_cast<size_t>(
                               std::to_chars(digits, digits + sizeof digits, value).ptr - digits));
    };
    long result = -1;
    for (bool fits = true; fits;) {
        const char* pct = strchrnul(fmt, '%');
        if (!put(fmt, static_cast<size_t>(pct - fmt))) break;
        if (*pct == '\0') {
            *w = '\0';
            result = w - out;
            break;
        }
        fmt = pct + 2;
        switch (pct[1]) {
            case '%':
                fits = put("%", 1);
                break;
            case 's': {
                const char* text = va_arg(ap, const char*);
                if (text == nullptr) text = "(null)";  // what the C library prints
                fits = put(text, std::strlen(text));
                break;
            }
            case 'd':
            case 'i':
                fits = decimal(va_arg(ap, int));
                break;
            case 'u':
                fits = decimal(va_arg(ap, unsigned int));
                break;
            default:
                fits = false;
                break;
        }
    }
    va_end(ap);
    return result;
}

int nlsObject_t::nlOrderInsert(nlsCharBuffer* out, char* body, va_list args) {
    if (body[0] == 1) {
        auto* block = static_cast<char*>(ARC_MALLOC(kPrintfBlock));
        if (block != nullptr) {
            va_list ap;
            va_copy(ap, args);
            std::vsnprintf(block, kPrintfBlock, body + 1, ap);
            va_end(ap);
            out->addToBuffer(block, 0);
            ARC_FREE(block);
        }
    } else if (BodyLayout b; body[0] == 0 && nlsParseCompiledBody(body, SIZE_MAX, &b)) {
        VaArgs va(args);
        nlsInsertCompiled(*this, b, va, out);
    }
    REPORT_TRACE(TR_NLS, "return from nlOrderInsert (char), msgLen %d:\n",
                 static_cast<int>(out->getMsgLen()));
    return static_cast<int>(out->getMsgLen());
}

int nlsObject_t::nlOrderInsert(nlsWcharBuffer* out, char* body, va_list args) {
    if (body[0] == 1) {
        auto* block = static_cast<char*>(ARC_MALLOC(kWorkSize));
        if (block != nullptr) {
            va_list ap;
            va_copy(ap, args);
            std::vsnprintf(block, kWorkSize, body + 1, ap);
            va_end(ap);
            out->addToBuffer(block, 0);
            ARC_FREE(block);
        }
    } else if (BodyLayout b; body[0] == 0 && nlsParseCompiledBody(body, SIZE_MAX, &b)) {
        VaArgs va(args);
        nlsInsertCompiled(*this, b, va, out);
    }
    REPORT_TRACE(TR_NLS, "return from nlOrderInsert(wchar), msgLen %d:\n",
                 static_cast<int>(out->getMsgLen()));
    return static_cast<int>(out->getMsgLen());
}

int nlsObject_t::nlOrderInsert(char* out, char* body, va_list args) {
    *out = '\0';
    if (body[0] == 1) {
        va_list ap;
        va_copy(ap, args);
        std::vsprintf(out, body + 1, ap);
        va_end(ap);
        return static_cast<int>(std::strlen(out));
    }
    BodyLayout b;
    if (body[0] != 0 || !nlsParseCompiledBody(body, SIZE_MAX, &b)) return 0;
    VaArgs va(args);
    return nlsInsertCompiled(*this, b, va, out);
}

int nlsObject_t::nlOrderInsert(wchar_t* out, char* body, va_list args) {
    *out = L'\0';
    if (body[0] == 1) {
        auto* block = static_cast<char*>(ARC_MALLOC(kPrintfBlock));
        if (block == nullptr) return 0;
        va_list ap;
        va_copy(ap, args);
        std::vsnprintf(block, kPrintfBlock, body + 1, ap);
        va_end(ap);
        size_t n = std::mbstowcs(out, block, kPrintfBlock);
        ARC_FREE(block);
        if (n == static_cast<size_t>(-1)) {
            *out = L'\0';
            return 0;
        }
        return static_cast<int>(n);
    }
    BodyLayout b;
    if (body[0] != 0 || !nlsParseCompiledBody(body, SIZE_MAX, &b)) return 0;
    VaArgs va(args);
    return nlsInsertCompiled(*this, b, va, out);
}

void ParseFmt(char* fmt, wchar_t* out, unsigned int width, unsigned int precision, wchar_t* s) {
    std::wmemset(out, L' ', width);
    out[width] = L'\0';
    size_t len = std::wcslen(s);
    size_t n = endsWith(fmt, "c") ? 1 : precision > 0 && precision < len ? precision : len;
    wchar_t* start = fmt[1] != '-' && width > 0 && width >= n ? out + (width - n) : out;
    std::wmemcpy(start, s, n);
    if (n > width) start[n] = L'\0';
}

void scrubChars(wchar_t* s) {
    char one[MB_LEN_MAX];
    for (; *s != L'\0'; ++s) {
        std::mbstate_t state{};
        if (std::wcrtomb(one, *s, &state) == static_cast<size_t>(-1)) *s = L'_';
    }
}

void nlInsertItem(char** cursor, short type, int wide, void* value) {
    auto* item = reinterpret_cast<unsigned char*>(*cursor);
    unsigned char* payload = item + 4;
    size_t len = 0;
    switch (type) {
        case 1:
            if (wide != 0) {
                std::mbstate_t state{};
                size_t k = std::wcrtomb(reinterpret_cast<char*>(payload),
                                        *static_cast<wchar_t*>(value), &state);
                if (k == static_cast<size_t>(-1)) {
                    REPORT_TRACE(TR_NLS,
                                 "nlInsertItem: item could not be converted to multibyte\n");
                    payload[0] = '?';
                    k = 1;
                }
                len = k;
            } else {
                payload[0] = *static_cast<unsigned char*>(value);
                len = 1;
            }
            break;
        case 2:
        case 3: {
            unsigned short v;
            std::memcpy(&v, value, sizeof v);
            if (type == 3) {
                payload[0] = payload[1] = 0;
                payload += 2;
            }
            payload[0] = static_cast<unsigned char>(v >> 8);
            payload[1] = static_cast<unsigned char>(v);
            len = type == 3 ? 4 : 2;
            break;
        }
        case 5:
            if (wide != 0) {
                size_t n = std::wcstombs(reinterpret_cast<char*>(payload),
                                         static_cast<wchar_t*>(value), 0xFFFF);
                len = n == static_cast<size_t>(-1) ? 0 : n;
            } else {
                len = std::strlen(static_cast<char*>(value));
                std::memcpy(payload, value, len);
            }
            payload[len] = '\0';
            len &= 0xFFFF;
            break;
        default:
            REPORT_TRACE(TR_EVENT, "nlInsertItem: unsupported type %d\n", type);
            break;
    }
    size_t total = len + 4;
    item[0] = static_cast<unsigned char>(total >> 8);
    item[1] = static_cast<unsigned char>(total);
    item[2] = static_cast<unsigned char>(static_cast<unsigned short>(type) >> 8);
    item[3] = static_cast<unsigned char>(type);
    *cursor += total;
}

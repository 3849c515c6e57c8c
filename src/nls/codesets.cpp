// The process's code-set converters and the conversions built on them and on the code-page tables.
#include "pisnp/codesets.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "base/report.h"
#include "mem/checkedAlloc.h"
#include "nls/codePageTables.h"
#include "pisnp/messages.h"
#include "pisnp/traceFlags.h"
#include "text/textAssert.h"

psNlsInfo_t* psNlsInfo = nullptr;

namespace {

const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);

bool usable(iconv_t cd) {
    return cd != nullptr && cd != kInvalid;
}

bool isUtf8Name(const char* name) {
    return std::strcmp(name, "UTF-8") == 0 || std::strcmp(name, "utf-8") == 0 ||
           std::strcmp(name, "utf8") == 0;
}

}  // namespace

int psNlsInit() {
    if (psNlsInfo != nullptr) return 0;
    auto* info = static_cast<psNlsInfo_t*>(ARC_MALLOC(sizeof(psNlsInfo_t)));
    if (info == nullptr) return -1;
    info->toUcs2 = iconv_open("UCS-2", CodePage);
    info->fromUcs2 = iconv_open(CodePage, "UCS-2");
    info->spare1 = kInvalid;
    info->spare2 = kInvalid;
    // Catalog texts are UTF-8: only other code sets need them converted.
    info->utf8ToLocal = nullptr;
    if (!isUtf8Name(CodePage) && std::strcmp(Language, "en_US") != 0)
        info->utf8ToLocal = iconv_open(CodePage, "UTF-8");
    if (std::strcmp(CodePage, "ISO8859-1") == 0)
        CodePageId = 819;
    else if (std::strcmp(CodePage, "IBM850") == 0)
        CodePageId = 850;
    else
        CodePageId = 367;
    psNlsInfo = info;
    return 0;
}

int psNlsTerm() {
    if (psNlsInfo == nullptr) return 0;
    for (iconv_t cd : {psNlsInfo->toUcs2, psNlsInfo->fromUcs2, psNlsInfo->spare1, psNlsInfo->spare2,
                       psNlsInfo->utf8ToLocal})
        if (usable(cd)) iconv_close(cd);
    ARC_FREE(psNlsInfo);
    psNlsInfo = nullptr;
    return 0;
}

int psUTF8ToLocal(char* in, unsigned long inLen, char* out, unsigned long outLen,
                  unsigned long* written) {
    *written = 0;
    if (outLen == 0) return -1;
    iconv_t cd = psNlsInfo != nullptr ? psNlsInfo->utf8ToLocal : kInvalid;
    char* inPtr = in;
    size_t inLeft = inLen;
    char* outPtr = out;
    size_t outLeft = outLen - 1;  // room for the terminator
    if (usable(cd)) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state for every text
        iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    }
    *outPtr = '\0';
    *written = static_cast<unsigned long>(outPtr - out);
    REPORT_TRACE(TR_NLS, " In remainder %d Out count %d \n   InBuf '%s', \n  outBuf '%s'\n",
                 static_cast<int>(inLeft), static_cast<int>(*written), "", out);
    if (inLeft != 0 || !usable(cd)) {
        REPORT_TRACE(TR_NLS, " inBuf is not completely consumed\n");
        return -1;
    }
    return 0;
}

int psLocalToUcs(char* in, unsigned long, wchar_t* out, unsigned long outLen,
                 unsigned long* outBytes) {
    size_t n = std::mbstowcs(out, in, outLen);
    if (n == static_cast<size_t>(-1)) {
        *outBytes = 0;
        return -1;
    }
    *outBytes = n * sizeof(wchar_t);
    return 0;
}

int psLocalToUcs(wchar_t* in, unsigned long inLen, wchar_t* out, unsigned long,
                 unsigned long* outBytes) {
    std::wmemcpy(out, in, inLen);
    out[inLen] = L'\0';
    *outBytes = std::wcslen(out) * sizeof(wchar_t);
    return 0;
}

int psUcsToLocal(wchar_t* in, unsigned long, char* out, unsigned long outLen) {
    std::wcstombs(out, in, outLen);
    return 0;
}

int psUcsToLocal(wchar_t* in, unsigned long inLen, wchar_t* out, unsigned long) {
    std::wmemcpy(out, in, inLen);
    out[inLen] = L'\0';
    return 0;
}

int psUcsToLocal(wchar_t* in, char* out, unsigned long outLen) {
    std::wcstombs(out, in, outLen);
    return 0;
}

int psUcsToLocal(wchar_t* in, wchar_t* out, unsigned long outLen) {
    if (outLen == 0) return 0;
    std::wmemcpy(out, in, outLen - 1);
    out[outLen - 1] = L'\0';
    return 0;
}

int psDoesWcsMapToMbs(wchar_t*) {
    return 1;
}

void psInputCPToAnsi(char*, supportedCodepages_t) {}

int psUcsToLocalIconv() {
    return 0;
}

int psLocalToUcsIconv() {
    return 0;
}

int psNlsInitOldConverters() {
    return 0;
}

const unsigned short* nlsGetUCSTable(int cp) {
    return ucsTableOf(cp);
}

int nlsLocalToUcs(int cp, char* in, unsigned long inLen, char* out, unsigned long,
                  unsigned long* outBytes) {
    *outBytes = 0;
    const unsigned short* table = ucsTableOf(cp);
    if (table == nullptr) return -1;
    for (unsigned long i = 0; i < inLen; ++i) {
        unsigned short u = table[static_cast<unsigned char>(in[i])];
        if (u == 0xFFFF) return -2;
        std::memcpy(out + *outBytes, &u, sizeof u);  // native order; out need not be aligned
        *outBytes += 2;
    }
    return 0;
}

int nlsUcsToLocal(int cp, char* in, unsigned long inBytes, char* out, unsigned long,
                  unsigned long* outCount) {
    *outCount = 0;
    const unsigned short* table = ucsTableOf(cp);
    if (table == nullptr) return -1;
    for (unsigned long i = 0; i + 1 < inBytes; i += 2) {
        unsigned short u;
        std::memcpy(&u, in + i, sizeof u);
        int byte = -1;
        if (u == 0xFFFF || u < 32 || u == 127) {
            byte = -1;
        } else if (cp == 367) {
            if (u <= 126) byte = u;
        } else if (cp == 819) {
            if (u < 127 || (u > 159 && u <= 255)) byte = u;
        } else if (u <= 126) {
            byte = u;
        } else {
            for (int b = 128; b < 256 && byte < 0; ++b)
                if (table[b] == u) byte = b;
        }
        if (byte < 0) return -2;
        out[(*outCount)++] = static_cast<char>(byte);
    }
    out[*outCount] = '\0';
    return 0;
}

void Cvt2ClientCS(int cs, unsigned char* buf, unsigned long n) {
    if (cs != kServerCodeSetEbcdic) return;
    for (unsigned long i = 0; i < n; ++i)
        if (buf[i] != 0x18 && buf[i] != 0x19) buf[i] = ebcdictoascii[buf[i]];
}

void Cvt2ServerCS(int cs, unsigned char* buf, unsigned long n) {
    if (cs != kServerCodeSetEbcdic) return;
    for (unsigned long i = 0; i < n; ++i)
        if (buf[i] != 0x18 && buf[i] != 0x19) buf[i] = asciitoebcdic[buf[i]];
}

void Cvt2LocalUcs(wchar_t* s) {
    for (; *s != 0; ++s) {
        auto c = static_cast<unsigned int>(*s);
        *s = static_cast<wchar_t>((c & 0xFFFF0000u) | ((c & 0xFFu) << 8) | ((c >> 8) & 0xFFu));
    }
}

void Cvt2NfUcs(wchar_t* s, unsigned short* work) {
    TEXT_ASSERT(s != nullptr, "buf != __null");
    size_t n = std::wcslen(s) + 1;
    for (size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned int>(s[i]);
        auto* bytes = reinterpret_cast<unsigned char*>(&work[i]);
        bytes[0] = static_cast<unsigned char>(c >> 8);
        bytes[1] = static_cast<unsigned char>(c);
    }
    std::memcpy(s, work, n * sizeof(unsigned short));
}

void Cvt2NfUcs(wchar_t* s) {
    TEXT_ASSERT(s != nullptr, "buf != __null");
    auto* work =
        static_cast<unsigned short*>(ARC_MALLOC((std::wcslen(s) + 1) * sizeof(unsigned short)));
    if (work == nullptr) return;
    Cvt2NfUcs(s, work);
    ARC_FREE(work);
}

wchar_t* Cvt2PsUcs(wchar_t* s) {
    TEXT_ASSERT(s != nullptr, "buf != __null");
    const auto* bytes = reinterpret_cast<const unsigned char*>(s);
    size_t n = 0;
    while (bytes[2 * n] != 0 || bytes[2 * n + 1] != 0) ++n;
    // Backwards: each unit's wide character lies at or after the unit itself.
    for (size_t i = n + 1; i-- > 0;) {
        unsigned int u = (bytes[2 * i] << 8) | bytes[2 * i + 1];
        s[i] = static_cast<wchar_t>(u);
    }
    return s;
}

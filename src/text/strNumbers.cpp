#include <cstdlib>
#include <cwchar>

#include "pisnp/strings.h"

namespace {

// A null text reads as no number at all: 0, with the end pointer at the (null) start.
template <typename R, typename C>
R noNumber(C** end) {
    if (end != nullptr) *end = nullptr;
    return 0;
}

}  // namespace

unsigned long psStrToUl(const char* s, char** end, int base) {
    return s != nullptr ? std::strtoul(s, end, base) : noNumber<unsigned long>(end);
}
unsigned long psStrToUl(const wchar_t* s, wchar_t** end, int base) {
    return s != nullptr ? std::wcstoul(s, end, base) : noNumber<unsigned long>(end);
}
long long psStrToLL(const char* s, char** end, int base) {
    return s != nullptr ? std::strtoll(s, end, base) : noNumber<long long>(end);
}
long long psStrToLL(const wchar_t* s, wchar_t** end, int base) {
    return s != nullptr ? std::wcstoll(s, end, base) : noNumber<long long>(end);
}
unsigned long long psStrToUll(const char* s, char** end, int base) {
    return s != nullptr ? std::strtoull(s, end, base) : noNumber<unsigned long long>(end);
}
unsigned long long psStrToUll(const wchar_t* s, wchar_t** end, int base) {
    return s != nullptr ? std::wcstoull(s, end, base) : noNumber<unsigned long long>(end);
}

long StrToL(const char* s, char** end, int base) {
    return s != nullptr ? std::strtol(s, end, base) : noNumber<long>(end);
}
long StrToL(const wchar_t* s, wchar_t** end, int base) {
    return s != nullptr ? std::wcstol(s, end, base) : noNumber<long>(end);
}
unsigned long StrToUl(const char* s, char** end, int base) {
    return psStrToUl(s, end, base);
}
unsigned long StrToUl(const wchar_t* s, wchar_t** end, int base) {
    return psStrToUl(s, end, base);
}
long long StrToLL(const char* s, char** end, int base) {
    return psStrToLL(s, end, base);
}
long long StrToLL(const wchar_t* s, wchar_t** end, int base) {
    return psStrToLL(s, end, base);
}
unsigned long long StrToUll(const char* s, char** end, int base) {
    return psStrToUll(s, end, base);
}
unsigned long long StrToUll(const wchar_t* s, wchar_t** end, int base) {
    return psStrToUll(s, end, base);
}
double StrToD(const char* s, char** end) {
    return s != nullptr ? std::strtod(s, end) : noNumber<double>(end);
}
double StrToD(const wchar_t* s, wchar_t** end) {
    return s != nullptr ? std::wcstod(s, end) : noNumber<double>(end);
}

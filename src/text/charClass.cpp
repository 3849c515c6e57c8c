#include <cctype>
#include <cwctype>

#include "pisnp/strings.h"

namespace {

// The locale's table is indexed by the byte value, whatever the signedness of char.
int byte(char c) {
    return static_cast<unsigned char>(c);
}
wint_t wide(wchar_t c) {
    return static_cast<wint_t>(c);
}

}  // namespace

int IsSpace(char c) {
    return std::isspace(byte(c)) != 0;
}
int IsSpace(wchar_t c) {
    return std::iswspace(wide(c)) != 0;
}
int IsAlpha(char c) {
    return std::isalpha(byte(c)) != 0;
}
int IsAlpha(wchar_t c) {
    return std::iswalpha(wide(c)) != 0;
}
int IsLower(char c) {
    return std::islower(byte(c)) != 0;
}
int IsLower(wchar_t c) {
    return std::iswlower(wide(c)) != 0;
}
int IsUpper(char c) {
    return std::isupper(byte(c)) != 0;
}
int IsUpper(wchar_t c) {
    return std::iswupper(wide(c)) != 0;
}
int IsPrint(char c) {
    return std::isprint(byte(c)) != 0;
}
int IsPrint(wchar_t c) {
    return std::iswprint(wide(c)) != 0;
}
int IsAlnum(char c) {
    return std::isalnum(byte(c)) != 0;
}
int IsAlnum(wchar_t c) {
    return std::iswalnum(wide(c)) != 0;
}
int IsCntrl(char c) {
    return std::iscntrl(byte(c)) != 0;
}
int IsCntrl(wchar_t c) {
    return std::iswcntrl(wide(c)) != 0;
}
int IsGraph(char c) {
    return std::isgraph(byte(c)) != 0;
}
int IsGraph(wchar_t c) {
    return std::iswgraph(wide(c)) != 0;
}
// Digits in numbers and dates are ASCII whatever the locale claims.
int IsDigit(char c) {
    return c >= '0' && c <= '9';
}
int IsDigit(wchar_t c) {
    return std::iswdigit(wide(c)) != 0;
}

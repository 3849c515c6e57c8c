// Wide names into the locale's multibyte form for the calls that take `char` paths.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cwchar>

namespace pisnp::os {

// Converts name into out (size bytes, terminator included). A name that does not fit, or that
// has no multibyte form, is refused (errno ENAMETOOLONG or EILSEQ): a path cut short could name
// another file.
inline bool narrowPath(const wchar_t* name, char* out, size_t size) {
    if (name == nullptr || size == 0) {
        errno = EINVAL;
        return false;
    }
    std::mbstate_t state{};
    const wchar_t* src = name;
    size_t n = std::wcsrtombs(out, &src, size, &state);
    if (n == static_cast<size_t>(-1)) return false;
    if (src != nullptr) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

}  // namespace pisnp::os

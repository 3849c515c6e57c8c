// TransErrno for the library's own callers, which name their operation with a literal.
#pragma once

#include "pisnp/errors.h"

namespace pisnp::os {

inline int transErrno(int err, const char* opName) {
    // The exported form takes a modifiable text for the hosts' sake; it never writes to it.
    return TransErrno(err, const_cast<char*>(opName));
}

}  // namespace pisnp::os

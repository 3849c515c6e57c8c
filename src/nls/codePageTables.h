// The code-page tables behind nlsGetUCSTable, nlsLocalToUcs and nlsUcsToLocal.
#pragma once

#include "pisnp/codesets.h"

// 256 UCS-2 values for code page 367, 437, 819 or 850; null for any other.
const unsigned short* ucsTableOf(int cp);

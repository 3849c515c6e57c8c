// Translation of errno values into the library's return codes.
#pragma once

#include "pisnp_export.h"

PISNP_API int TransErrno(int err, const char* function);

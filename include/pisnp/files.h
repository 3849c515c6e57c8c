// File names, existence and symbolic links.
#pragma once

#include <cwchar>

#include "pisnp_export.h"

// Makes a bare name (no slash) a full path below the working directory; a name holding a
// slash leaves `out` untouched. Always 0.
PISNP_API int psBuildCurrentPath(char* out, char* name);
// 0 when path is a symbolic link (target, when given, receives where it points), 104 when it
// is not one, otherwise the translated errno.
PISNP_API int psIsFileSymLink(char* path, char* target);
PISNP_API int psDeleteSymLink(char* path);
// 1 exactly when the file exists; 0 for a null or empty name.
PISNP_API int psFileExists(const char* name);
PISNP_API int psFileExists(const wchar_t* name);

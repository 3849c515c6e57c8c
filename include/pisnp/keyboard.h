// Single key presses from the terminal.
#pragma once

#include "pisnp_export.h"

// 1 with the byte in *key when a key has been pressed, without waiting and without echo. 0 when
// nothing was pressed, or when the process is not in the foreground of a terminal on its
// standard input. The terminal's modes are restored afterwards.
PISNP_API int psKeyhit(unsigned char* key);
// Waits, checking once a second, for a key press and returns its byte.
PISNP_API int psGetkey();

#include "diag/traceClasses.h"

unsigned char TR_ERROR = 0;
unsigned char TR_GENERAL = 0;
unsigned char TR_MEMORY = 0;
unsigned char TR_ENTER = 0;
unsigned char TR_EXIT = 0;
unsigned char TR_THREAD = 0;
unsigned char TR_FILEOPS = 0;

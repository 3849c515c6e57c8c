// Date functions that the library uses before they join the public interface.
#pragma once

#include "pisnp/dates.h"

// The current local time.
void dateLocal(nfDate* date);
// The current local time, and the microseconds of the present second.
void GetTimeOfDay(nfDate* date, long* microseconds);
// Date and time texts in the locale's formats; each buffer needs 15 bytes. Either may be null.
int dateFmt(nfDate* date, char* dateText, char* timeText);

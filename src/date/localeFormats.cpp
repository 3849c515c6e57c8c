// Storage of the locale's formats; the message system's start-up fills them from the locale.
#include "pisnp/dates.h"

unsigned int date_fmt = 0;
unsigned int time_fmt = 0;
unsigned int number_fmt = 0;
char date_fmt_str[12] = "%m/%d/%Y";
char time_fmt_str[12] = "%H:%M:%S";
char am_str[6] = "";
char pm_str[6] = "";
char date_sep = 0;
char time_sep = 0;
wchar_t thousand_sep = 0;
char decimal_sep = 0;
char subsecond_sep = 0;

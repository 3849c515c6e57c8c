// The flag bytes live in the lowest layer because every layer tests them; their names, tables
// and parsing belong to the trace facility.
#include "pisnp/traceFlags.h"

#define TRACE_CLASS(keyword, flag, comm) unsigned char flag = 0;
#include "pisnp/traceClassList.def"
#undef TRACE_CLASS

#define TEST_FLAG(keyword, record) TestFlag record = {0, 0, nullptr};
#include "pisnp/testFlagList.def"
#undef TEST_FLAG

// Translation of errno values into the library's return codes (resultCodes.h) and into text.
//
// psTransErrno and TransErrno keep no state and may be called from any thread; the operation
// name only changes the answer for "read" and "write" and appears in the trace. An errno
// without a code of its own gives PISNP_RC_UNEXPECTED and a line in the diagnostic log.
// An OSStringError object belongs to one thread at a time.
#pragma once

#include "pisnp_export.h"

// The code for err after the operation opName (for example "read", "write", "unlink").
PISNP_API int psTransErrno(int err, char* opName);
// As psTransErrno, except that the codes for an unknown error are remapped where the caller
// can go on: to PISNP_RC_ACCESS_DENIED with the test flag CONTINUEWITHUNKNOWNRC, to
// PISNP_RC_VALUE_OVERFLOW for EOVERFLOW.
PISNP_API int TransErrno(int err, char* opName);

// Keeps the text of the last errno it translated.
class PISNP_API OSStringError {
  public:
    OSStringError() = default;
    ~OSStringError();
    OSStringError(const OSStringError&) = delete;
    OSStringError& operator=(const OSStringError&) = delete;

    // The C library's text for err, owned by this object until the next call or its end;
    // null when memory runs out. The second argument is not used.
    char* psGetErrorTranslation(unsigned int err, void* unused);

  private:
    char* text_ = nullptr;
};

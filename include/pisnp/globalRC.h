// The process's return code: 0 success, 4 warnings, 8 errors, 12 severe errors, derived from the
// numbers of the messages the program issued.
//
// Every function of the library that issues a numbered message passes the number to gRC->set
// when the host has published an instance in gRC; with gRC null, messages change no code. The
// host creates the instance (GlobalRC::Instance) before it starts threads; afterwards any thread
// may call the operations, which are serialised.
#pragma once

#include "pisnp/pkMutex.h"
#include "pisnp_export.h"
#include "pisnp_layout.h"

class PISNP_API GlobalRC {
  public:
    // The instance, made on the first call (all codes 0); null when no memory could be had.
    static GlobalRC* Instance();

    GlobalRC();   // all codes 0, a mutex
    ~GlobalRC();  // instanceP becomes null
    GlobalRC(const GlobalRC&) = delete;
    GlobalRC& operator=(const GlobalRC&) = delete;

    // Maps the message to a code (4 for the warning list, 12 for 9999 and for 2046, the audit
    // log's failure, else by catalog severity: W 8; K, E, S 12; others 0) and raises the three
    // maxima to it. 1 when a code rose; 0 when nothing changed or the mutex failed.
    int set(int msgNum);
    int get();          // highest since the last clear of any kind
    int getMacroMax();  // highest since clearMacroRC or clearAllRC
    int getMax();       // highest since clearAllRC
    // Each clears its code and those below it (rc < rcMacroMax < rcMax); 1.
    int clearRC();
    int clearMacroRC();
    int clearAllRC();
    // All three codes become value, downwards too; 1, or 0 when the mutex failed.
    int overrideMaxRCs(int value);

    static GlobalRC* instanceP;

    int rc;
    int rcMacroMax;
    int rcMax;
    MutexDesc* mutex;  // null when none could be made: every operation then reports it
};

PISNP_AT(GlobalRC, rc, 0);
PISNP_AT(GlobalRC, rcMacroMax, 4);
PISNP_AT(GlobalRC, rcMax, 8);
PISNP_AT(GlobalRC, mutex, 16);
PISNP_SIZE(GlobalRC, 24);

// The instance the host published; null while there is none.
PISNP_API extern GlobalRC* gRC;

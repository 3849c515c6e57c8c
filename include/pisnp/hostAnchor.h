// The host's anchor object, through which the runtime learns the name and number the host gave
// to the current thread. The objects belong to the host; the library only calls them.
#pragma once

#include "pisnp_export.h"

// A thread as the host describes it. Slot order is part of the host contract.
class HostThreadDesc {
  public:
    virtual const char* getName() = 0;  // may be null or empty: the runtime then says "New"
    virtual int getNumber() = 0;

  protected:
    ~HostThreadDesc() = default;
};

class HostAnchor {
  public:
    virtual void anchorSlot0() = 0;
    virtual void anchorSlot1() = 0;
    // With argument 0: the descriptor of the calling thread, or null.
    virtual HostThreadDesc* getThreadDesc(int which) = 0;

  protected:
    ~HostAnchor() = default;
};

// Set by the host; null when it has none.
PISNP_API extern HostAnchor* GAnchorP;

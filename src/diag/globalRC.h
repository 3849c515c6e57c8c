// The process's running return codes, raised by the numbers of the messages it issues.
#pragma once

#include <mutex>

class GlobalRC {
  public:
    GlobalRC() = default;
    // Maps the message to a code and raises the running maxima; 1 when a code rose.
    int set(int msgNum);
    int get();
    int getMax();
    int clearAllRC();

  private:
    std::mutex mutex_;
    int rc_ = 0;
    int rcMacroMax_ = 0;
    int rcMax_ = 0;
};

// The instance the host published; null while there is none.
extern GlobalRC* gRC;

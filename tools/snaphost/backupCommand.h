// The backup command: started in a process group of its own (with the terminal, when snaphost
// has it), watched while it runs, and ended with everything it started when snaphost is
// interrupted, when the snapshot overflows, or when snaphost itself dies.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace snaphost {

class Report;

// How long a command may take to end after SIGTERM before it is killed: long enough for a
// clean exit, short enough that the snapshot does not linger.
inline constexpr int kGraceSeconds = 10;

// SIGINT, SIGTERM, SIGHUP and SIGQUIT only mark the run as interrupted; it stops at the next
// step, and the snapshot is removed all the same.
void catchInterrupts();
int interruptSignal();  // 0 while there was none
void noteInterrupt(int sig);

struct BackupOutcome {
    bool started = false;
    int status = 0;          // its wait status
    std::string startError;  // why it did not start
    bool endedByUs = false;  // ended because tick asked for it
};

// Called once the delay it last returned has passed (the first after firstDelay); returns the
// next delay in seconds, or a negative number to end the command.
using Tick = std::function<double()>;

BackupOutcome runBackupCommand(const std::vector<std::string>& argv, double firstDelay,
                               const Tick& tick, Report& report);

// The wait status in words: "exited with status 3", "was ended by signal 2 (Interrupt)".
std::string describeStatus(int status);

}  // namespace snaphost

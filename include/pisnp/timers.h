// Coarse interval timers (one-second resolution), a sleep that its caller's callback drives and
// can cancel, and elapsed wall-clock time between two gettimeofday readings.
//
// Timers are handed out as untyped pointers; each belongs to one user at a time (no locking).
#pragma once

#include <sys/time.h>
#include <cstdint>
#include <ctime>

#include "pisnp_export.h"

// Packed date record: big-endian 16-bit year, then month, day, hour, minute, second (7 bytes).
struct nfDate;

// What a timer handle points to.
struct dsTimer_t {
    double duration;   // seconds after which the timer pops; 0 until started
    time_t startTime;  // when created, started or last popped
    int32_t running;   // 1 after dsStartTimer, 0 after creation and dsStopTimer
};

// Events passed to an arcSleep callback.
enum : short {
    SLEEP_EVENT_BEGIN = 0,      // once, before the timer starts
    SLEEP_EVENT_POLL = 1,       // each round while time remains; answer SLEEP_CANCEL to stop
    SLEEP_EVENT_CHECKED = 2,    // after the check of each round
    SLEEP_EVENT_CANCELLED = 3,  // once, when the callback cancelled the wait
    SLEEP_EVENT_EXPIRED = 4,    // once, when the time has run out
    SLEEP_EVENT_NEXT = 5,       // at the end of each round that goes on
};
inline constexpr int SLEEP_CANCEL = 101;

// A new stopped timer started now, or null when memory runs out.
PISNP_API void* dsCreateTimer();
PISNP_API void dsDestroyTimer(void* timer);
PISNP_API void dsStartTimer(void* timer, unsigned int seconds);
PISNP_API void dsStopTimer(void* timer);
// Seconds since the timer was created, started or last popped; 0 for null.
PISNP_API double dsElapsedTime(void* timer);
// True once every duration seconds while running: a pop restarts the timer.
PISNP_API bool dsHasTimerPopped(void* timer);
// Seconds left until the next pop, never below 0; 0 for a stopped timer.
PISNP_API double dsTimeRemaining(void* timer);
// Whole seconds (fraction dropped) as hours (unlimited), minutes and seconds.
PISNP_API void dsFormatTime(double seconds, unsigned int* hours, unsigned int* minutes,
                            unsigned int* secs);

// Waits until `seconds` have passed (result 1) or the callback answers SLEEP_CANCEL to a poll
// (result 0). The loop never pauses by itself: the callback is expected to wait a little on one
// of its events. A wait of 0 seconds lasts until it is cancelled.
PISNP_API int arcSleep(unsigned int seconds,
                       int (*callback)(short event, void* timer, void* userData), void* userData);

PISNP_API int GetTod(timeval* tv);
// Microseconds from start to now. A now earlier than start is taken to be past midnight: a
// day is added to now's seconds, in the caller's record.
PISNP_API double SubTod(timeval* now, timeval* start);
// Reads the time into now and stores the hours (modulo 256), minutes and seconds since start in
// the time bytes of out; its date bytes are left alone.
PISNP_API void dsTimerCalcElapsedTime(nfDate* out, timeval* now, timeval* start);

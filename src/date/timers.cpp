#include "pisnp/timers.h"

#include <unistd.h>

#include "base/sysCalls.h"
#include "mem/checkedAlloc.h"

namespace {

constexpr long kSecondsPerDay = 86400;
constexpr double kMicrosPerSecond = 1000000.0;

// Offsets of the time bytes in a packed date record.
constexpr int kHourByte = 4;
constexpr int kMinuteByte = 5;
constexpr int kSecondByte = 6;

dsTimer_t* timerOf(void* handle) {
    return static_cast<dsTimer_t*>(handle);
}

// Whole seconds of a non-negative duration; anything else counts as none.
unsigned long long wholeSeconds(double seconds) {
    if (!(seconds > 0)) return 0;  // also NaN
    if (seconds >= 18446744073709551615.0) return ~0ull;
    return static_cast<unsigned long long>(seconds);
}

}  // namespace

void* dsCreateTimer() {
    auto* timer = static_cast<dsTimer_t*>(ARC_MALLOC(sizeof(dsTimer_t)));
    if (timer == nullptr) return nullptr;
    timer->duration = 0;
    timer->startTime = pisnp::sys::time(nullptr);
    timer->running = 0;
    return timer;
}

void dsDestroyTimer(void* timer) {
    if (timer != nullptr) ARC_FREE(timer);
}

void dsStartTimer(void* handle, unsigned int seconds) {
    dsTimer_t* timer = timerOf(handle);
    if (timer == nullptr) return;
    timer->startTime = pisnp::sys::time(nullptr);
    timer->duration = seconds;
    timer->running = 1;
}

void dsStopTimer(void* handle) {
    if (handle != nullptr) timerOf(handle)->running = 0;
}

double dsElapsedTime(void* handle) {
    if (handle == nullptr) return 0;
    return difftime(pisnp::sys::time(nullptr), timerOf(handle)->startTime);
}

bool dsHasTimerPopped(void* handle) {
    dsTimer_t* timer = timerOf(handle);
    if (timer == nullptr || timer->duration <= 0 || timer->running == 0) return false;
    time_t now = pisnp::sys::time(nullptr);
    if (difftime(now, timer->startTime) < timer->duration) return false;
    timer->startTime = now;
    return true;
}

double dsTimeRemaining(void* handle) {
    dsTimer_t* timer = timerOf(handle);
    if (timer == nullptr || timer->running == 0) return 0;
    double left = timer->duration - dsElapsedTime(timer);
    return left > 0 ? left : 0;
}

void dsFormatTime(double seconds, unsigned int* hours, unsigned int* minutes, unsigned int* secs) {
    unsigned long long whole = wholeSeconds(seconds);
    if (hours != nullptr) *hours = static_cast<unsigned int>(whole / 3600);
    if (minutes != nullptr) *minutes = static_cast<unsigned int>(whole % 3600 / 60);
    if (secs != nullptr) *secs = static_cast<unsigned int>(whole % 60);
}

int arcSleep(unsigned int seconds, int (*callback)(short event, void* timer, void* userData),
             void* userData) {
    // Nobody to drive the wait or to cancel it: it becomes a plain sleep that runs out.
    if (callback == nullptr) {
        pisnp::sys::sleep(seconds);
        return 1;
    }
    // Without memory for the timer the wait goes on: a null timer never pops, so only the
    // callback's cancel ends it, as it would end a wait of 0 seconds.
    void* timer = dsCreateTimer();
    callback(SLEEP_EVENT_BEGIN, timer, userData);
    dsStartTimer(timer, seconds);
    for (;;) {
        bool popped = dsHasTimerPopped(timer);
        if (!popped && callback(SLEEP_EVENT_POLL, timer, userData) == SLEEP_CANCEL) {
            callback(SLEEP_EVENT_CANCELLED, timer, userData);
            dsDestroyTimer(timer);
            return 0;
        }
        callback(SLEEP_EVENT_CHECKED, timer, userData);
        if (popped) {
            callback(SLEEP_EVENT_EXPIRED, timer, userData);
            dsDestroyTimer(timer);
            return 1;
        }
        callback(SLEEP_EVENT_NEXT, timer, userData);
    }
}

int GetTod(timeval* tv) {
    return pisnp::sys::gettimeofday(tv);
}

double SubTod(timeval* now, timeval* start) {
    if (now->tv_sec < start->tv_sec) now->tv_sec += kSecondsPerDay;
    return static_cast<double>(now->tv_sec - start->tv_sec) * kMicrosPerSecond +
           static_cast<double>(now->tv_usec - start->tv_usec);
}

void dsTimerCalcElapsedTime(nfDate* out, timeval* now, timeval* start) {
    GetTod(now);
    double micros = SubTod(now, start);
    auto elapsed = static_cast<uint32_t>(wholeSeconds(micros / kMicrosPerSecond));
    auto* bytes = reinterpret_cast<unsigned char*>(out);
    bytes[kHourByte] = static_cast<unsigned char>(elapsed / 3600);
    bytes[kMinuteByte] = static_cast<unsigned char>(elapsed % 3600 / 60);
    bytes[kSecondByte] = static_cast<unsigned char>(elapsed % 60);
}

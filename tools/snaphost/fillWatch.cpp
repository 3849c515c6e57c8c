#include "fillWatch.h"

#include <algorithm>

namespace snaphost {

double FillWatch::record(double now, double percent) {
    percent = std::clamp(percent, 0.0, 100.0);
    if (samples_ > 0 && now > lastTime_) {
        double rate = (percent - last_) / (now - lastTime_);  // percent per second
        if (rate > 0) {
            // A quarter of the time left until full at the present rate: several readings
            // before an overflow, however fast it comes.
            delay_ = (100.0 - percent) / rate / 4;
        } else {
            delay_ *= 1.5;
        }
    }
    delay_ = std::clamp(delay_, kShortestDelay, kLongestDelay);
    ++samples_;
    lastTime_ = now;
    last_ = percent;
    peak_ = std::max(peak_, percent);
    return delay_;
}

}  // namespace snaphost

// How full the snapshot is while the backup runs, and when to look again: the faster it fills,
// the sooner, so that an overflow is seen soon after it happens without asking the volume
// manager many times a second while nothing changes.
#pragma once

namespace snaphost {

class FillWatch {
  public:
    static constexpr double kFirstDelay = 0.5;
    static constexpr double kShortestDelay = 0.25;
    static constexpr double kLongestDelay = 5.0;

    // Records the fill level (percent) read at time now (seconds); returns the seconds until
    // the next reading.
    double record(double now, double percent);

    bool sampled() const { return samples_ > 0; }
    double last() const { return last_; }
    double peak() const { return peak_; }
    // The highest multiple of 10 % reached so far, for plain progress lines.
    int tenthsReached() const { return static_cast<int>(peak_ / 10); }

  private:
    int samples_ = 0;
    double lastTime_ = 0;
    double last_ = 0;
    double peak_ = 0;
    double delay_ = kFirstDelay;
};

}  // namespace snaphost

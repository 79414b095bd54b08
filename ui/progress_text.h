// What a front-end shows of a run's progress: the share done as a whole
// percentage and the time left, guessed from the time the share done took.
#pragma once

#include <chrono>
#include <string>

namespace vesk {

// 0 ... 100, rounded down: 100 only for a finished run.
int progress_percent(double fraction);

// "time left 0:42" (minutes and seconds, or hours too from an hour on),
// rounded up to the next second; "time left --:--" while there is nothing to
// go by (no share done yet, or no time taken).
std::string time_left_text(double fraction, double elapsed_seconds);

// Whether a time left can be guessed after `reports` reports and
// `elapsed_seconds` of a run.  The first moments of a run (opening the
// files, setting up) go at no pace the rest will keep: a guess resting on
// fewer than two reports or less than half a second would say minutes for a
// run of seconds.
bool time_left_settled(int reports, double elapsed_seconds);

// The clock of one run: started when the run starts, read at each report.
class ProgressClock {
public:
    void start()
    {
        started_ = std::chrono::steady_clock::now();
        reports_ = 0;
    }
    double elapsed_seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    }
    void count_report() { ++reports_; }
    // Enough of the run is behind it for a time left (time_left_settled).
    bool settled() const { return time_left_settled(reports_, elapsed_seconds()); }

private:
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    int reports_ = 0;
};

} // namespace vesk

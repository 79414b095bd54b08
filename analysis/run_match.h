// How a run rendered in parts (a preview's span, a long file's segments)
// matches the same stretch of the whole run.  The parts' clocks and bins
// are their own, so samples differ where the sound does not: the spectra
// are compared, and the steps from one sample to the next at a join.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vesk::analysis {

struct SpectrumMatch {
    double worst_db = 0; // the largest difference at a bin within 40 dB of the reference's peak
    double mean_db = 0;  // the mean difference over the bins within 60 dB of it
    double worst_hz = 0; // where worst_db is
};

// The Welch spectra of `part` and of `reference` (full scale, at `rate`),
// each relative to its own peak, bin by bin.
SpectrumMatch spectrum_match(const std::vector<double>& part, const std::vector<double>& reference, double rate);

// Samples this close to a join count as the join's; the rest of the
// neighbourhood, as far as join_context on each side, is what the join is
// measured against.
constexpr std::size_t join_reach = 2, join_context = 2000;

struct JoinSteps {
    int32_t at_join = 0; // the largest step |x[i] - x[i-1]| for i within join_reach of the join
    int32_t around = 0;  // the largest step elsewhere within join_context of it
};

// The steps of `samples` around the join whose first sample is `at`; the
// neighbourhood is cut short at the ends of the samples.
JoinSteps join_steps(const std::vector<int32_t>& samples, std::size_t at);

} // namespace vesk::analysis

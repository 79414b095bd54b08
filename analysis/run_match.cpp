#include "analysis/run_match.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "analysis/spectra.h"

namespace vesk::analysis {

namespace {

std::vector<double> relative_to_peak(const Spectrum& s)
{
    const double peak = *std::max_element(s.dbfs.begin(), s.dbfs.end());
    std::vector<double> v;
    v.reserve(s.dbfs.size());
    for (double level : s.dbfs)
        v.push_back(level - peak);
    return v;
}

} // namespace

SpectrumMatch spectrum_match(const std::vector<double>& part, const std::vector<double>& reference, double rate)
{
    const std::vector<double> p = relative_to_peak(welch_spectrum(part, rate));
    const Spectrum reference_spectrum = welch_spectrum(reference, rate);
    const std::vector<double> r = relative_to_peak(reference_spectrum);
    SpectrumMatch match;
    double sum = 0;
    int counted = 0;
    for (std::size_t k = 0; k < r.size(); ++k) {
        const double difference = std::fabs(p[k] - r[k]);
        if (r[k] >= -40 && difference > match.worst_db)
            match.worst_db = difference, match.worst_hz = k * reference_spectrum.bin_hz;
        if (r[k] >= -60)
            sum += difference, ++counted;
    }
    match.mean_db = counted ? sum / counted : 0;
    return match;
}

JoinSteps join_steps(const std::vector<int32_t>& samples, std::size_t at)
{
    JoinSteps steps;
    const std::size_t first = std::max<std::size_t>(at, join_context) - join_context;
    const std::size_t end = std::min(at + join_context, samples.size());
    for (std::size_t i = std::max<std::size_t>(first, 1); i < end; ++i) {
        const int32_t step = std::abs(samples[i] - samples[i - 1]);
        int32_t& kept = i + join_reach < at || i > at + join_reach ? steps.around : steps.at_join;
        kept = std::max(kept, step);
    }
    return steps;
}

} // namespace vesk::analysis

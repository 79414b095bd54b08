// Reads at stepped positions, the rate conversion (output i is the input at i *
// fsinp / fs: raised, lowered, the same rate) and the walk under it read directly
// (two sequences, zeros from some index on, long steps): each output against the
// direct kernel sum at the exact position, 0 beyond the taps, the same bits for
// every thread count and vector build.  Tolerance: output i lies within i (1 + 2
// ratio) eps of the exact position (each accumulating addition rounds by (1 +
// ratio) eps / 2, the step by ratio eps / 2) and the kernel's slope is below pi,
// so pi times that times the taps' |values| adds to tap_tolerance.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numbers>
#include <tuple>

#include "engine/interpolator.h"
#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace {

using namespace vesk::test;

constexpr uint32_t n = 1u << 14, half = n / 2; // 2 blocks of the threaded walk

struct Row {
    uint32_t fsinp, fs, len, zeros_from; // step fsinp / fs, taps 1 - len .. len - 1
    bool direct;                         // read_stepped of two sequences, else src_resample
};

const Row rows[] = {{44100, 48000, 6000, 0, false}, {48000, 44100, 8000, 0, false}, {44100, 44100, 8000, 0, false},
                    {1000, 2700, half, 3000, true}, {27100, 10000, half, 0, true}};

// Random everywhere (the circular continuation below index 0 included) but
// where the row says zeros.
std::vector<double> source(const Row& row, uint64_t seed)
{
    std::vector<double> values = random_values(n, seed);
    if (row.zeros_from != 0)
        std::fill(values.begin() + row.zeros_from, values.begin() + row.len, 0.0);
    return values;
}

// (real outputs, second outputs, how many were read)
std::tuple<std::vector<double>, std::vector<double>, uint32_t> run(const Row& row, unsigned threads)
{
    ScratchRig rig(n, 7.0);
    std::ranges::copy(source(row, 1), rig.re.begin());
    rig.engine.threads = threads;
    if (row.direct) {
        const uint32_t end = rig.seam.read_stepped(half + 1, double(row.fsinp) / row.fs, int(row.len),
                                                     source(row, 2).data(), rig.scratch_im.data(), row.zeros_from);
        return {rig.scratch_re, rig.scratch_im, end};
    }
    std::tie(rig.engine.params.fs, rig.seam.shape().fsinp, rig.seam.shape().sampnuminp) = std::tuple(row.fs, row.fsinp, row.len);
    // The same-rate row starts from the spectrum: the conversion must go back to time first.
    EXPECT_TRUE(row.fs != row.fsinp || (rig.seam.fft_init() && (rig.seam.switch_domain(), rig.seam.timedomain() == 0)));
    rig.seam.src_resample();
    return {{rig.seam.sigre(), rig.seam.sigre() + n}, {rig.seam.sigim(), rig.seam.sigim() + n}, half};
}

class SteppedReads : public testing::TestWithParam<Row> {};

TEST_P(SteppedReads, MatchTheDirectSumAtExactPositionsAndAreZeroBeyondForAnyThreadsAndBuild)
{
    const Row& row = GetParam();
    const auto single = run(row, 1);
    const auto& [re, im, end] = single;
    const std::vector<double> sources[] = {source(row, 1), source(row, 2)};
    ASSERT_LE(end, half + row.direct);
    for (uint32_t i = 0; i < half + row.direct; ++i) {
        const uint64_t p = uint64_t{i} * row.fsinp;
        const double drift = std::numbers::pi * i * (1 + 2.0 * row.fsinp / row.fs) * std::numeric_limits<double>::epsilon();
        for (int s = 0; s <= int(row.direct); ++s) {
            const KernelSum expected = kernel_sum(sources[s], row.len, p / row.fs, (long double)(p % row.fs) / row.fs);
            if (i >= end) // not read, left for the caller to clear: must be 0
                ASSERT_EQ(expected.value, 0.0L) << "output " << i << " was not read";
            else
                ASSERT_NEAR((s ? im : re)[i], double(expected.value), tap_tolerance(expected) + drift * expected.magnitude)
                    << "output " << i << " of sequence " << s;
        }
    }
    // After a rate conversion the upper half is the zero extension.
    EXPECT_TRUE(row.direct || same_bits(&re[half], &std::vector<double>(n)[0], half));
    for (int lanes = vesk::limit_interpolator_lanes(8); lanes >= 2; lanes /= 2)
        for (unsigned threads : {1u, 2u, 3u}) {
            vesk::limit_interpolator_lanes(lanes);
            const auto other = run(row, threads);
            EXPECT_TRUE(same_bits(std::get<0>(other), re) && same_bits(std::get<1>(other), im) && std::get<2>(other) == end)
                << lanes << " lanes, " << threads << " threads";
        }
    vesk::limit_interpolator_lanes(8);
}

INSTANTIATE_TEST_SUITE_P(RaisedLoweredSameDirectZerosLongSteps, SteppedReads, testing::ValuesIn(rows));

} // namespace

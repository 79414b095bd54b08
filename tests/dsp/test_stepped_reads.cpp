// Reads at stepped positions: the rate conversion (output i is the input at
// i * fsinp / fs, raising and lowering the rate, and at the same rate) and the
// stepped walk underneath it read directly (two sequences at once, a source
// known to hold zeros from some index, long steps).  Each output against the
// direct kernel sum at the exact position, up to where the taps run out; the
// outputs beyond are zero; every thread count and vector build gives the
// same bits.
//
// Tolerance.  The engine accumulates the position step by step, so output i
// stands within i (1 + 2 ratio) eps of the exact position (each addition
// rounds by at most (1 + ratio) eps / 2, the step itself by ratio eps / 2).
// The kernel's slope is below pi, so the sum moves by at most pi * that
// distance * the taps' |values|, on top of tap_tolerance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "engine/interpolator.h"
#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace {

using namespace vesk::test;

constexpr uint32_t n = 1u << 14, half = n / 2;

struct Row {
    const char* name;
    uint32_t fsinp, fs; // the step is fsinp / fs
    uint32_t len;       // taps from 1 - len to len - 1
    uint32_t zeros_from;
    bool direct;        // read_stepped with two sequences, else src_resample
};

const Row rows[] = {
    {"rate raised 44.1k to 48k", 44100, 48000, 6000, 0, false},
    {"rate lowered 48k to 44.1k", 48000, 44100, 8000, 0, false},
    {"same rate", 44100, 44100, 8000, 0, false},
    {"two sequences with zeros from 3000", 1000, 2700, half, 3000, true},
    {"two sequences, long steps", 27100, 10000, half, 0, true},
};

struct Result {
    std::vector<double> re, im;
    uint32_t end; // outputs read
};

// Both sources random everywhere (the circular continuation below index 0
// included) except where the row says they hold zeros.
std::vector<double> source(const Row& row, uint64_t seed)
{
    std::vector<double> values = random_values(n, seed);
    if (row.zeros_from != 0)
        std::fill(values.begin() + row.zeros_from, values.begin() + row.len, 0.0);
    return values;
}

Result run(const Row& row, unsigned threads)
{
    ScratchRig rig(n, 7.0);
    std::ranges::copy(source(row, 1), rig.re.begin());
    rig.engine.threads = threads;
    if (row.direct) {
        const std::vector<double> second = source(row, 2);
        const uint32_t end = rig.engine.read_stepped(half + 1, double(row.fsinp) / row.fs, int(row.len),
                                                     second.data(), rig.scratch_im.data(), row.zeros_from);
        return {rig.scratch_re, rig.scratch_im, end};
    }
    rig.engine.params.fs = row.fs;
    rig.engine.fsinp = row.fsinp;
    rig.engine.sampnuminp = row.len;
    rig.engine.src_resample();
    EXPECT_EQ(rig.engine.timedomain, 1);
    return {std::vector<double>(rig.engine.sigre, rig.engine.sigre + n),
            std::vector<double>(rig.engine.sigim, rig.engine.sigim + n), half};
}

class SteppedReads : public testing::TestWithParam<Row> {};

TEST_P(SteppedReads, MatchTheDirectSumAtExactPositionsAndAreZeroBeyond)
{
    const Row& row = GetParam();
    const Result result = run(row, 1);
    const std::vector<double> first = source(row, 1), second = source(row, 2);
    const long double ratio = static_cast<long double>(row.fsinp) / row.fs;
    const uint32_t count = row.direct ? half + 1 : half;
    ASSERT_LE(result.end, count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t p = uint64_t{i} * row.fsinp;
        const auto center = static_cast<int64_t>(p / row.fs);
        const long double x = static_cast<long double>(p % row.fs) / row.fs;
        const double drift = std::numbers::pi * i * (1 + 2 * double(ratio)) * std::numeric_limits<double>::epsilon();
        for (const bool paired : {false, true}) {
            if (paired && !row.direct)
                break;
            const KernelSum expected = kernel_sum(paired ? second : first, row.len, center, x);
            const double tolerance = tap_tolerance(expected) + drift * expected.magnitude;
            if (i >= result.end) // not read: the caller clears it, so it must be 0
                ASSERT_EQ(expected.value, 0.0L) << "output " << i << " was not read";
            else
                ASSERT_NEAR((paired ? result.im : result.re)[i], double(expected.value), tolerance)
                    << "output " << i << (paired ? " of the second sequence" : "");
        }
    }
    if (!row.direct) { // the upper half is the zero extension, the pair a real signal
        EXPECT_TRUE(same_bits(result.re.data() + half, std::vector<double>(half, 0.0).data(), half));
        EXPECT_TRUE(same_bits(result.im, std::vector<double>(n, 0.0)));
    }
}

TEST_P(SteppedReads, EveryThreadCountAndVectorBuildGivesTheSameBits)
{
    const Row& row = GetParam();
    const Result single = run(row, 1);
    const auto expect_same = [&](const Result& other, const char* what, unsigned value) {
        EXPECT_TRUE(same_bits(other.re, single.re) && same_bits(other.im, single.im) && other.end == single.end)
            << what << " " << value;
    };
    for (unsigned threads : {2u, 3u})
        expect_same(run(row, threads), "threads", threads);
    for (int lanes = vesk::limit_interpolator_lanes(8) / 2; lanes >= 2; lanes /= 2) {
        vesk::limit_interpolator_lanes(lanes);
        expect_same(run(row, 1), "lanes", lanes);
    }
    vesk::limit_interpolator_lanes(8);
}

INSTANTIATE_TEST_SUITE_P(Rows, SteppedReads, testing::ValuesIn(rows), [](const auto& info) {
    std::string name = info.param.name;
    std::ranges::replace_if(name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
});

} // namespace

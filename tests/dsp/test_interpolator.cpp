// The interpolator, read by read and in batches, against the direct long double
// kernel sum over a table of positions: whole, near-whole (in and out of the
// 1e-10 band where the centre weight is the window alone), fractions, around 0
// (taps wrap to the top of the circular source), around the tap limit len and
// far off, for several lengths.  Every vector build gives the same bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/interpolator.h"
#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace {

using namespace vesk::test;

constexpr uint32_t n = 128;
const double fractions[] = {0.0, 1e-12, 3e-11, 4e-11, 0.25, 0.5, 0.8125, 1.0 - 1e-12, std::nextafter(1.0, 0.0)};
constexpr int count = std::size(fractions);
const int lengths[] = {1, 2, 20, 64, 100, n};

// Every read of the table for one length: one sequence, two at once, and a
// batch.  Returns the outputs, for the comparison of builds.
std::vector<double> sweep(int len, bool check)
{
    ScratchRig rig(n, 7.0);
    const std::vector<double> first = random_values(n, 60 + len), second = random_values(n, 70 + len);
    std::ranges::copy(first, rig.re.begin());
    std::vector<double> outputs, paired(n, 7.0);
    for (int center : {-(1 << 30), -len - 15, -len, -16, -15, -3, -1, 0, 1, 7, 15, 16, len - 16, len - 15, len - 2,
                       len - 1, len, len + 13, len + 14, len + 15, 1 << 30}) {
        int64_t centers[count];
        uint32_t at[count];
        for (int b = 0; b < count; ++b) {
            const double x = fractions[b];
            rig.seam.sinc_interp(nullptr, nullptr, x, len, center, b);
            rig.seam.sinc_interp(second.data(), paired.data(), x, len, center, n / 2 + b);
            std::tie(centers[b], at[b]) = std::pair(center, 16 + b);
            const double one = rig.scratch_re[b], other = paired[n / 2 + b];
            outputs.insert(outputs.end(), {one, rig.scratch_re[n / 2 + b], other});
            if (!check)
                continue;
            SCOPED_TRACE(testing::Message() << "len " << len << " center " << center << " x " << x);
            const KernelSum expected = kernel_sum(first, len, center, x), expected2 = kernel_sum(second, len, center, x);
            EXPECT_NEAR(one, double(expected.value), tap_tolerance(expected));
            EXPECT_NEAR(other, double(expected2.value), tap_tolerance(expected2));
            EXPECT_TRUE(same_bits(&rig.scratch_re[n / 2 + b], &one, 1)) << "two sequences weigh the first differently";
        }
        rig.seam.sinc_interp_batch(fractions, centers, at, count, len);
        EXPECT_TRUE(same_bits(&rig.scratch_re[16], &rig.scratch_re[0], count)) << "the batch differs, center " << center;
    }
    return outputs;
}

TEST(Interpolator, ReadsMatchTheDirectKernelSumAcrossTheTableOfPositions)
{
    for (int len : lengths)
        sweep(len, true);
}

TEST(Interpolator, EveryVectorBuildGivesTheSameBits)
{
    const int widest = vesk::limit_interpolator_lanes(8);
    std::vector<std::vector<double>> reference;
    for (int len : lengths)
        reference.push_back(sweep(len, false));
    for (int lanes = widest / 2; lanes >= 2; lanes /= 2) {
        ASSERT_EQ(vesk::limit_interpolator_lanes(lanes), lanes);
        for (std::size_t l = 0; l < std::size(lengths); ++l)
            EXPECT_TRUE(same_bits(sweep(lengths[l], false), reference[l])) << lanes << " lanes, len " << lengths[l];
    }
    vesk::limit_interpolator_lanes(8);
}

} // namespace

// The windowed-sinc interpolator, one read and a batch of reads at a time,
// against the direct long double kernel sum (kernel_sum) over a table of
// positions: whole, near-whole (inside and outside the 1e-10 band where the
// centre weight is the window alone), fractions, around index 0 (taps
// reaching round to the top of the circular source), and around the tap
// limit len, for several lengths; then every vector build on the same table,
// which must give identical bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/interpolator.h"
#include "tests/support/dsp_reference.h"
#include "tests/support/engine_rig.h"

namespace {

using namespace vesk::test;

constexpr uint32_t n = 128;
const double fractions[] = {0.0, 1e-12, 3e-11, 4e-11, 0.25, 0.5, 0.8125, 1.0 - 1e-12, std::nextafter(1.0, 0.0)};
constexpr int batch_size = std::size(fractions);

std::vector<int> centers_for(int len)
{
    return {-(1 << 30), -len - 15, -len, -16, -15, -3, -1, 0, 1, 7, 15, 16, len - 16, len - 15, len - 2,
            len - 1, len, len + 13, len + 14, len + 15, 1 << 30};
}

// Every read of the table for one length: the real read, the read of two
// sequences at once, and the batch, each compared with kernel_sum.  Returns
// all outputs in order, for the comparison of builds.
std::vector<double> sweep(int len, bool check)
{
    ScratchRig rig(n, 7.0);
    const std::vector<double> first = random_values(n, 60 + len), second = random_values(n, 70 + len);
    std::ranges::copy(first, rig.re.begin());
    std::vector<double> outputs, paired(n, 7.0);
    for (int center : centers_for(len)) {
        SCOPED_TRACE(testing::Message() << "len " << len << " center " << center);
        int64_t centers[batch_size];
        uint32_t at[batch_size];
        for (int b = 0; b < batch_size; ++b) {
            const double x = fractions[b];
            rig.engine.sinc_interp(nullptr, nullptr, x, len, center, b);
            rig.engine.sinc_interp(second.data(), paired.data(), x, len, center, n / 2 + b);
            const double one = rig.scratch_re[b];
            outputs.insert(outputs.end(), {one, rig.scratch_re[n / 2 + b], paired[n / 2 + b]});
            centers[b] = center;
            at[b] = 16 + b;
            if (!check)
                continue;
            SCOPED_TRACE(testing::Message() << "x " << x);
            const KernelSum expected = kernel_sum(first, len, center, x);
            const KernelSum expected_second = kernel_sum(second, len, center, x);
            EXPECT_NEAR(one, double(expected.value), tap_tolerance(expected));
            EXPECT_NEAR(paired[n / 2 + b], double(expected_second.value), tap_tolerance(expected_second));
            // The paired read weighs its first sequence exactly as the single one.
            EXPECT_TRUE(same_bits(&rig.scratch_re[n / 2 + b], &one, 1));
        }
        rig.engine.sinc_interp_batch(fractions, centers, at, batch_size, len);
        EXPECT_TRUE(same_bits(&rig.scratch_re[16], &rig.scratch_re[0], batch_size)) << "batch differs from single reads";
        outputs.insert(outputs.end(), &rig.scratch_re[16], &rig.scratch_re[16 + batch_size]);
    }
    return outputs;
}

const int lengths[] = {1, 2, 20, 64, 100, n};

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

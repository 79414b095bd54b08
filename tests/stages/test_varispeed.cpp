// Vari-speed in time and in frequency against a direct kernel sum in long
// double at positions stepped as written down; within tap_tolerance (the
// weights' ~2^5 eps and 31 additions), the positions being replayed exactly.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/sample_codec.h"
#include "tests/stages/stage_rig.h"

namespace vesk::test {
namespace {

class Varispeed : public ::testing::TestWithParam<double> {};

TEST_P(Varispeed, InTimeEachOutputIsTheKernelSumAtItsSteppedPosition)
{
    const double factor = GetParam();
    const uint32_t n = 1024, half = n / 2;
    const std::vector<double> input = random_values(n, 3); // the top half is what taps below 0 read
    StageRig rig(n);
    rig.load_time(input);
    rig.engine.params.varispeedt = factor;
    rig.seam.stage_varispeed_t();
    const std::vector<double> out = rig.out_re();
    const std::vector<SteppedPosition> at = stepped_positions(factor, half);
    for (uint32_t i = 0; i < n; ++i) {
        const KernelSum ref = i < half ? kernel_sum(input, half, at[i].center, at[i].frac) : KernelSum{};
        ASSERT_NEAR(out[i], static_cast<double>(ref.value), tap_tolerance(ref)) << "factor " << factor << " output " << i;
    }
}

// New bin k reads the old spectrum at bin position k / factor, so content at
// f moves to f * factor; bins 0 .. n/2 are read from the lower half, the taps
// below bin 0 wrapping onto the negative frequencies (the conjugates of the
// bins above 0).
TEST_P(Varispeed, InFrequencyEachBinIsTheKernelSumAtItsSteppedBinPosition)
{
    const double factor = GetParam();
    const uint32_t n = 1024, half = n / 2;
    const Spectrum in = hermitian_spectrum(n, 7);
    StageRig rig(n);
    rig.load(in.re, in.im, 0);
    // Only the lower half of a spectrum is held: what lies above must not count.
    std::fill(rig.seam.sigre() + half + 1, rig.seam.sigre() + n, 7.0);
    std::fill(rig.seam.sigim() + half + 1, rig.seam.sigim() + n, 7.0);
    rig.engine.params.varispeedf = factor;
    rig.seam.stage_varispeed_f();
    const std::vector<double> re = rig.out_re(), im = rig.out_im();
    const std::vector<SteppedPosition> at = stepped_positions(1.0 / factor, half + 1);
    for (uint32_t k = 0; k <= half; ++k) {
        const KernelSum want_re = kernel_sum(in.re, half + 1, at[k].center, at[k].frac);
        const KernelSum want_im = kernel_sum(in.im, half + 1, at[k].center, at[k].frac);
        const double tol = tap_tolerance(want_re.magnitude + want_im.magnitude);
        ASSERT_NEAR(re[k], static_cast<double>(want_re.value), tol) << "factor " << factor << " bin " << k;
        ASSERT_NEAR(im[k], k == 0 || k == half ? 0.0 : static_cast<double>(want_im.value), tol)
            << "factor " << factor << " bin " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Factors, Varispeed, ::testing::Values(1.0, 2.0, 0.5, 1.5, 0.75, 1.0594630943592953,
                                                                0.9438743126816935, 3.3, 0.1, 1.0 / 3.0, 29.5));

// With "hold sample" the channel is held at fs-sim first and vari-speed reads
// the held signal: the channel's output is the kernel sum of the held signal,
// normalised and encoded.  (The held signal comes from the hold stage, whose
// response is checked against its closed form.)
TEST(VarispeedHoldSample, TheChannelReadsTheHeldSignalAtTheSteppedPositions)
{
    const uint32_t n = 1024, half = n / 2;
    const double factor = 1.5;
    ChannelRig run(n, half, 3, 1);
    std::vector<double> decoded(n, 0.0);
    const std::vector<double> source = random_values(half, 11, 0.5);
    for (uint32_t i = 0; i < half; ++i) {
        encode_sample24(source[i], run.input.data() + 3 * i);
        decoded[i] = decode_sample(run.input.data() + 3 * i, 3);
    }
    run.engine.params.varispeedt = factor;
    run.engine.params.varispeedsh = 1;
    ASSERT_TRUE(run.seam.fft_init() && run.channel(0));

    StageRig held(n, n);
    held.load_time(decoded);
    ASSERT_TRUE(held.seam.fft_init());
    held.seam.stage_hold_aperture(nullptr, 0, 1.0); // to the spectrum, held, and back
    held.seam.switch_domain();
    const std::vector<double> signal = held.out_re();
    const std::vector<SteppedPosition> at = stepped_positions(factor, half);
    std::vector<KernelSum> want(half);
    double peak = 0.0, peak_tol = 0.0;
    for (uint32_t i = 0; i < half; ++i) {
        want[i] = kernel_sum(signal, half, at[i].center, at[i].frac);
        if (std::fabs(static_cast<double>(want[i].value)) > peak)
            peak = std::fabs(static_cast<double>(want[i].value)), peak_tol = tap_tolerance(want[i]);
    }
    const double gain = test::normalised_peak / peak, lsb = 1.0 / 8388608.0;
    for (uint32_t i = 0; i < half; ++i) {
        // Half an output step of rounding, the sum's tolerance, and the gain's through the peak.
        const double tol = 0.5 * lsb + gain * tap_tolerance(want[i]) + test::normalised_peak * peak_tol / peak + 1e-15;
        ASSERT_NEAR(decode_sample(run.output.data() + 3 * i, 3), static_cast<double>(want[i].value) * gain, tol)
            << "output " << i;
    }
}

} // namespace
} // namespace vesk::test

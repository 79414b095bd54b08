// The channel loop, and channels side by side where that pays: a second
// engine (the lane) takes every other channel on a thread of its own.  A
// channel's chain is sequential from stage to stage, and at short working
// lengths the passes within a stage are too short to share out well; two
// channels at once keep both cores busy instead.
//
// What ties the channels of a run together is kept exactly: channel 0's
// quantization gain and output level reach the other channels through a
// hand-over (they wait for it), the jitter's random sequence runs on from
// channel to channel (each lane moves its own copy on by the draws of the
// channels it does not run, which depend on the sizes alone), and the log
// keeps channel order (the lane's lines are buffered and passed on after
// its channel).
#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>

#include "engine/jitter_clock.h"
#include "engine/lanes.h"
#include "engine/parallel.h"

namespace vesk {

bool Engine::prepare_lanes()
{
    handoff_ = nullptr;
    if (chnr < 2 || worker_count(threads) < 2 || sampnump < lane_min_points || sampnump > lane_max_points)
        return false;
    if (!lanes_) {
        lanes_.reset(new (std::nothrow) Lanes);
        if (!lanes_)
            return false;
    }
    Engine& lane = lanes_->partner;
    // The lane's own working arrays; without them the channels go one by
    // one, as they would anyway.
    for (Block<double>* array : {&lane.sampbuf1_re, &lane.sampbuf1_im, &lane.sampbuf2_re, &lane.sampbuf2_im}) {
        if (!array->reserve(sampnump)) {
            release_lanes();
            return false;
        }
    }
    static_cast<RunShape&>(lane) = *this;
    lane.params = params;
    lane.jitter_rng = jitter_rng;
    lane.sigre = lane.sampbuf1_re.data();
    lane.sigim = lane.sampbuf1_im.data();
    lane.tmpre = lane.sampbuf2_re.data();
    lane.tmpim = lane.sampbuf2_im.data();
    lane.tables_owner_ = this;
    lane.stop_ = stop_;
    lane.segment_pass_ = segment_pass_;
    for (GainHandoff::Gain* gain : {&lanes_->handoff.quant, &lanes_->handoff.out})
        gain->state.store(GainHandoff::Gain::pending);
    handoff_ = lane.handoff_ = &lanes_->handoff;
    return true;
}

void Engine::release_lanes()
{
    lanes_.reset();
    handoff_ = nullptr;
}

void Engine::skip_jitter_channel()
{
    // The stage's chain as it walks one channel: one value pending before
    // the first sample, then one per fs-sim period begun.
    const uint32_t half = sampnump / 2;
    const double u = static_cast<double>(fssim_idx) / static_cast<double>(sampnump);
    JitterChain chain;
    chain.random = jitter_rng;
    chain.end = JitterChain::draw(chain.random, 0.0);
    for (uint32_t i = 0; i < half; ++i)
        chain.next(u, 0.0);
    jitter_rng = chain.random;
}

bool Engine::run_channel(uint32_t ch)
{
    log_line("--- processing channel %u: ---\n", ch);
    // Side by side, each engine runs only some of the channels: the draws
    // of the one before this channel were made elsewhere.
    if (handoff_ != nullptr && ch != 0 && plan_stages().jitter)
        skip_jitter_channel();
    return process_channel(ch == 0);
}

RunOutcome Engine::run_channels(const uint8_t* input)
{
    sigre = sampbuf1_re.data();
    sigim = sampbuf1_im.data();
    tmpre = sampbuf2_re.data();
    tmpim = sampbuf2_im.data();
    const uint64_t input_stride = bitnrinp / 8;
    const uint64_t output_stride = 3;
    const auto point = [&](Engine& engine, uint32_t ch) {
        engine.inpsampptr = input + ch * input_stride;
        engine.outsampptr = wavoutbuf.data() + ch * output_stride;
        // Only a segment's unscaled pass holds the raw output; elsewhere the
        // buffer is empty, and no offset may be added to its null pointer.
        engine.rawoutptr = rawoutbuf.size() == 0 ? nullptr : rawoutbuf.data() + ch;
    };

    // At short working lengths the hold's and the aperture's factors are
    // made once for every channel (and kept for the next run of the same
    // sizes); at long ones their memory would count.
    if (sampnump <= lane_max_points)
        prepare_responses();
    const bool side_by_side = prepare_lanes();
    // The threads are shared out between the two engines for the run.
    struct Threads {
        unsigned& setting;
        unsigned saved;
        ~Threads() { setting = saved; }
    } restore{threads, threads};
    if (side_by_side)
        threads = lanes_->partner.threads = std::max(1u, worker_count(threads) / 2);

    for (uint32_t ch = 0; ch < chnr; ++ch) {
        point(*this, ch);
        if (!side_by_side || ch + 1 == chnr) {
            if (!run_channel(ch) || stop_requested())
                return RunOutcome::stopped;
            continue;
        }
        Engine& lane = lanes_->partner;
        point(lane, ch + 1);
        lanes_->log.lines.clear();
        bool lane_done = false;
        std::exception_ptr lane_failure; // a log line that could not be had
        const auto run_lane = [&lane, &lane_done, &lane_failure, ch] {
            try {
                lane_done = lane.run_channel(ch + 1);
            } catch (...) {
                lane_failure = std::current_exception();
            }
        };
        // Joined on every way out: a channel 0 that ends early, however,
        // lets the lane go (it abandons the gains the lane waits for).
        struct Helper {
            std::thread thread;
            ~Helper()
            {
                if (thread.joinable())
                    thread.join();
            }
        } helper;
        try {
            helper.thread = std::thread(run_lane);
        } catch (const std::system_error&) {
            // No thread to be had: the lane's channel follows this one.
        }
        progress_weight_ = helper.thread.joinable() ? 2.0 : 1.0;
        const bool done = run_channel(ch);
        if (helper.thread.joinable())
            helper.thread.join();
        else if (done)
            run_lane();
        progress_weight_ = 1.0;
        if (lane_failure)
            std::rethrow_exception(lane_failure);
        if (!done)
            return RunOutcome::stopped;
        for (const std::string& line : lanes_->log.lines)
            log_.append_log(line);
        if (!lane_done || stop_requested())
            return RunOutcome::stopped;
        ++ch;
    }
    return RunOutcome::done;
}

} // namespace vesk

// Channels side by side (see Engine::Lanes): the second engine, the sinks it
// reports into, and the hand-over of channel 0's gains.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace vesk {

// Working lengths at which a lane pays for its thread and its arrays: from
// here on a channel takes milliseconds, and up to the top the lane's four
// arrays stay within 128 MiB.  A run's memory estimate counts the lane's
// arrays up to the same top.
constexpr uint32_t lane_min_points = uint32_t{1} << 16;
constexpr uint32_t lane_max_points = uint32_t{1} << 22;

// A gain channel 0 finds and the channels beside it wait for.  The value is
// written before the state says it is there (release), and read after the
// state was seen (acquire).
struct Engine::GainHandoff {
    struct Gain {
        enum State { pending, given, abandoned };
        std::atomic<int> state{pending};
        double value = 1.0;
        void give(double gain)
        {
            value = gain;
            state.store(given, std::memory_order_release);
            state.notify_all();
        }
        // Channel 0 ended without it: a stop.
        void abandon()
        {
            int expected = pending;
            if (state.compare_exchange_strong(expected, abandoned))
                state.notify_all();
        }
        // The gain, or nothing once channel 0 has ended without it.
        bool wait(double& gain) const
        {
            int s = state.load(std::memory_order_acquire);
            while (s == pending) {
                state.wait(pending, std::memory_order_acquire);
                s = state.load(std::memory_order_acquire);
            }
            gain = value;
            return s == given;
        }
    };
    Gain quant; // the quantization stage's
    Gain out;   // the output level's
};

struct Engine::Lanes {
    struct Quiet : MessageSink {
        void show_message(const std::string&) override {}
    };
    struct Buffered : LogSink {
        std::vector<std::string> lines;
        void append_log(const std::string& line) override { lines.push_back(line); }
    };
    Quiet messages; // the lane only allocates its arrays, and a failure there just keeps it idle
    Buffered log;
    Engine partner{messages, log};
    GainHandoff handoff;
};

} // namespace vesk

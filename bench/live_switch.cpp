// vesk-bench-live INPUT.wav [CHANGES]: from a change of a parameter to the
// moment the Listen window's sound is the new preview's, as a person hears
// it.  The window's player core plays Output (B), a preview of a 10-s span,
// into a device modelled as the Listen window drives the sound server: the
// device plays frames at the player's rate and is topped up every 5 ms to
// 40 ms ahead.  Each change renders the span on a worker through one
// SpanRenderer (the word length going between 8 and 7 bits, with every other
// stage either off or on) and measures both spans' loudness, as the window
// does; the main loop, which stands for the window's
// thread, looks for the result at each top-up, gives the player the new
// span's data at the same place in the music, and goes on pulling.  The new
// data are heard whole once the crossfade's last frame plays:
//   heard = start + (frames pulled before the load + fade frames) / rate
// since frame n plays at start + n / rate.  Prints, per chain, one line:
//   chain <TAB> render [ms] <TAB> ready to play [ms] <TAB> change to switch heard [ms] <TAB> worst [ms]
// (medians, but for the worst).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "ui/player.h"
#include "ui/preview.h"
#include "ui/qt/listen_dlg.h"

namespace {

using Clock = std::chrono::steady_clock;

// As the Listen window has them.
constexpr double buffer_seconds = 0.040;
constexpr double feed_seconds = 0.005;
constexpr double fade_seconds = 0.005;

double ms_since(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

vesk::Params chain(bool every_stage, uint32_t bits)
{
    vesk::Params p;
    if (every_stage) {
        p.fs = 44100, p.fssim = 11025, p.aperture = 0.5, p.fcloin = 20, p.fchiin = 15000;
        p.fcloout = 30, p.fchiout = 12000, p.varispeedt = 1.25, p.varispeedf = 0.8, p.varispeedsh = 1, p.jitteramp = 0.01;
    }
    p.bitnr = bits;
    return p;
}

// The device: frames pulled from the player, each played at start + n / rate.
struct Device {
    vesk::Player& player;
    Clock::time_point start = Clock::now();
    uint64_t pulled = 0;
    std::vector<float> block;
    // Tops the device up to buffer_seconds ahead of what plays now.
    void top_up()
    {
        const double now = std::chrono::duration<double>(Clock::now() - start).count();
        const auto wanted = static_cast<uint64_t>((now + buffer_seconds) * player.rate());
        if (wanted <= pulled)
            return;
        block.resize(2 * (wanted - pulled));
        player.pull(block.data(), wanted - pulled);
        pulled = wanted;
    }
    double heard_ms(uint64_t frame, Clock::time_point since) const
    {
        return ms_since(since, start) + 1e3 * static_cast<double>(frame) / player.rate();
    }
};

struct Rendered {
    vesk::ListenDlg::Preview preview;
    double ready_ms = 0; // the render and the spans made ready to play
};

} // namespace

int main(int argc, char** argv)
{
    const int changes = argc == 3 ? std::atoi(argv[2]) : 10;
    vesk::InputSamples input;
    if (argc < 2 || argc > 3 || changes < 1 || !vesk::read_input_samples(argv[1], input, std::size_t(1) << 31)) {
        std::fprintf(stderr, "usage: vesk-bench-live INPUT.wav [CHANGES] (a PCM WAV file)\n");
        return 2;
    }
    const double duration = static_cast<double>(input.frames()) / input.rate;
    for (const bool every_stage : {false, true}) {
        vesk::SpanRenderer renderer;
        vesk::Player player(48000);
        player.set_fade_frames(static_cast<uint32_t>(fade_seconds * player.rate()));
        player.set_loop(true);
        const vesk::Span span = vesk::preview_span(21.0, vesk::preview_default_seconds, duration);
        // Renders on a worker as the window does; the result is handed
        // over by the join.
        const auto render = [&](const vesk::Params& params, Rendered& out, std::atomic<bool>& done) {
            return std::thread([&, params] {
                const auto start = Clock::now();
                vesk::ListenDlg::renderPreview(renderer, renderer.begin(), input, span, params, out.preview);
                out.ready_ms = ms_since(start, Clock::now());
                done = true;
            });
        };
        std::vector<double> render_ms, ready_ms, switch_ms;
        for (int k = 0; k <= changes; ++k) {
            Rendered rendered;
            std::atomic<bool> done{false};
            const Clock::time_point change = Clock::now();
            std::thread worker = render(chain(every_stage, k % 2 ? 7 : 8), rendered, done);
            if (k == 0) {
                // The first preview: what plays when the changes come.
                worker.join();
                for (auto s : {vesk::Player::input, vesk::Player::output})
                    player.load(s, std::move(rendered.preview.spans[s]));
                player.set_time_factor(every_stage ? 1.25 : 1.0);
                player.set_source(vesk::Player::output);
                player.set_playing(true);
                continue;
            }
            Device device{player, Clock::now(), 0, {}};
            while (true) {
                device.top_up();
                if (done)
                    break;
                std::this_thread::sleep_for(std::chrono::duration<double>(feed_seconds));
            }
            worker.join();
            if (rendered.preview.spans[vesk::Player::output].frames() == 0) {
                std::fprintf(stderr, "vesk-bench-live: a render failed: %s\n", renderer.message().c_str());
                return 1;
            }
            const uint64_t loaded_at = device.pulled;
            player.load(vesk::Player::input, std::move(rendered.preview.spans[vesk::Player::input]));
            player.load(vesk::Player::output, std::move(rendered.preview.spans[vesk::Player::output]));
            const uint32_t fade = static_cast<uint32_t>(fade_seconds * player.rate());
            render_ms.push_back(rendered.preview.ms);
            ready_ms.push_back(rendered.ready_ms);
            switch_ms.push_back(device.heard_ms(loaded_at + fade, change));
        }
        std::printf("%s\t%.1f\t%.1f\t%.1f\t%.1f\n", every_stage ? "every stage" : "bitnr 8/7", median(render_ms),
                    median(ready_ms), median(switch_ms), *std::max_element(switch_ms.begin(), switch_ms.end()));
    }
    return 0;
}

// The Listen window's player, free of any audio API: the input and the
// output held in memory, read out as interleaved stereo float frames at one
// rate, with a switch between the two that keeps the place in the music and
// crossfades instead of clicking.  The window feeds the sound device with
// frames pulled from it and sets the controls.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/input_info.h"

namespace vesk {

// A decoded file: channels 0 and 1 only (a mono file keeps its one), as
// floats of full scale, interleaved.
struct Pcm {
    uint32_t rate = 0;
    uint32_t channels = 0; // 1 or 2
    std::vector<float> samples;
    // Where the first frame lies in the file these samples come from [s]: 0
    // for a whole file, the span's start for a part of one (a preview's).
    double start = 0.0;
    std::size_t frames() const { return channels ? samples.size() / channels : 0; }
    double seconds() const { return rate ? static_cast<double>(frames()) / rate : 0.0; }
};

enum class DecodeResult { ok, cannot_open, invalid_format, not_pcm, too_large };

// Reads the whole PCM WAV file at `path`.  A file whose decoded samples
// would take more than `max_bytes` is refused before anything is held.
DecodeResult decode_wav(const std::string& path, Pcm& pcm, std::size_t max_bytes);

// The same words as Info for the failures they share.
std::string decode_message(DecodeResult result);

// The gain for each file that plays the louder one at the quieter one's
// integrated loudness (LUFS); 0 dB for both when matching is off or either
// figure is not finite (silence).
struct MatchGains {
    double input_db = 0.0;
    double output_db = 0.0;
};
MatchGains match_gains(double input_lufs, double output_lufs, bool on);

// "m:ss.s"
std::string format_time(double seconds);

class Player {
public:
    enum Source { input = 0, output = 1 };

    // The longest crossfade a switch takes.
    static constexpr double max_fade_seconds = 0.010;

    explicit Player(uint32_t rate = 48000) : rate_(rate) {}

    // Changes of data and rate: never while pull() runs, but between two
    // pulls they may come at any time.  Loading the playing file keeps its
    // time, also when the new data have another rate or cover another part
    // of the file, so new data take over at the same place in the music;
    // while sounding they crossfade from the data they replace.  Returns
    // the data replaced.
    void set_rate(uint32_t rate) { rate_ = rate; }
    uint32_t rate() const { return rate_; }
    Pcm load(Source s, Pcm pcm);
    void clear(Source s);
    bool has(Source s) const { return pcm_[s].frames() > 0; }
    const Pcm& pcm(Source s) const { return pcm_[s]; }

    // Output time t corresponds to input time t * factor (vari-speed in time;
    // 1 with rate conversion alone).
    // A new factor keeps the output's place in the music.
    void set_time_factor(double factor);
    double time_factor() const { return factor_; }
    // Frames a switch, a seek while sounding, a pause and a resumption in
    // the middle of a file fade over, cut at max_fade_seconds.  Playing from
    // the start, the end of a file and the wrap of a loop are the file's own
    // and do not fade.
    void set_fade_frames(uint32_t frames) { fade_request_ = frames; }

    // The controls, safe from any thread while pull() runs on another.
    // A switch to a file not loaded is refused.
    bool set_source(Source s);
    Source source() const { return static_cast<Source>(target_.load()); }
    void set_playing(bool on) { playing_ = on; }
    bool playing() const { return playing_; }
    // Pauses and goes back to the start once the pause has faded out.
    void stop();
    void set_loop(bool on) { loop_ = on; }
    void set_gain_db(Source s, double db);
    double gain(Source s) const { return gain_[s]; } // as a factor
    // A time of the source now chosen, in seconds of its file (a part of a
    // file plays from its first frame for a time before it).
    void seek(double seconds) { seek_ = seconds < 0 ? 0 : seconds; }
    // Where the frames pulled last end, in seconds of their file.
    double position() const { return position_; }
    // Where the source now chosen ends, in seconds of its file.
    double duration() const { return pcm_[source()].start + pcm_[source()].seconds(); }

    // Fills `frames` stereo frames (2 * frames floats); silence while not
    // playing.  Returns the frames that carried sound.  With no frames it
    // only takes the controls: a switch, a seek or a pause act at once.
    std::size_t pull(float* out, std::size_t frames);

    // Where in its file the frame is that pull() delivered `frames_ago`
    // frames before the end of its last block, in seconds: what a sound
    // device with that many frames still queued plays now.  Called on the
    // pulling thread.
    double position_before(uint64_t frames_ago) const;

private:
    // One reading of a file: the one heard, and the one a fade leaves.
    struct Voice {
        int source = input;
        double pos = 0;         // frames of its data
        bool replaced = false;  // reads the data a load replaced
    };
    // From `frame` (counted over all pulls) on, the frames play the file
    // from `seconds`, moving on at the device's rate or standing still.
    struct Mark {
        uint64_t frame = 0;
        double seconds = 0;
        bool moving = false;
    };
    const Pcm& data(const Voice& v) const { return v.replaced ? replaced_ : pcm_[v.source]; }
    double read(const Voice& v, int side) const;
    double mapped(int from, double pos) const; // pos of `from` in the other's frames
    uint32_t fade_frames() const;
    void move_to(const Voice& next); // a switch or a seek
    void mark(uint64_t frame, bool moving);

    uint32_t rate_;
    Pcm pcm_[2];
    Pcm replaced_; // the stretch of replaced data that a crossfade leaves
    double factor_ = 1.0;
    uint32_t fade_request_ = 480;

    std::atomic<int> target_{input};
    std::atomic<bool> playing_{false};
    std::atomic<bool> loop_{false};
    std::atomic<double> gain_[2] = {1.0, 1.0};
    std::atomic<double> seek_{-1.0};
    std::atomic<double> position_{0.0};

    // The reading side's own state, touched on the pulling thread only.
    Voice cur_, old_;
    uint32_t fade_left_ = 0, fade_len_ = 0; // the crossfade from old_ to cur_
    double level_ = 0;                      // 0 silent .. 1 sounding: the fade of a pause
    double pending_seek_ = -1;              // a seek waiting for a pause to fade out
    uint64_t pulled_ = 0;                   // frames delivered by all pulls
    static constexpr std::size_t mark_count = 64;
    Mark marks_[mark_count];
    std::size_t next_mark_ = 0;
};

} // namespace vesk

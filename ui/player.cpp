#include "ui/player.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <utility>

#include "engine/interpolator.h"
#include "engine/sample_codec.h"
#include "wav/wav_header.h"

namespace vesk {

namespace {

struct FileCloser {
    std::FILE* file;
    ~FileCloser() { std::fclose(file); }
};

// The weight of a fade at x of its way (0 to 1): a raised cosine, flat at
// both ends, so that a fade puts no corner into the sound, and between two
// sounds that differ it steps no further than they do themselves, unless
// they change more slowly than the fade.
double fade_shape(double x)
{
    return 0.5 - 0.5 * std::cos(3.141592653589793 * x);
}

} // namespace

DecodeResult decode_wav(const std::string& path, Pcm& pcm, std::size_t max_bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return DecodeResult::cannot_open;
    const FileCloser closer{file};
    int fmttag = 0;
    wav::WavFormat format;
    if (wav::read_wav_header(file, nullptr, &fmttag, format) != 0)
        return DecodeResult::invalid_format;
    if (fmttag != 1)
        return DecodeResult::not_pcm;
    // Samples wider than three bytes are no format the engine reads either.
    const uint32_t width = std::max<uint32_t>(1, (format.bitnrinp + 7) / 8);
    if (width > 3 || format.fsinp == 0)
        return DecodeResult::invalid_format;
    const std::size_t frames = format.inpchdatasize / width;
    const uint32_t kept = std::min<uint32_t>(format.chnr, 2);
    if (frames > max_bytes / (kept * sizeof(float)))
        return DecodeResult::too_large;

    Pcm out;
    out.rate = format.fsinp;
    out.channels = kept;
    try {
        out.samples.resize(frames * kept);
    } catch (const std::bad_alloc&) {
        return DecodeResult::too_large;
    }
    // The header reader counts only the frames the file holds; a file cut
    // shorter since plays as far as it goes.
    const std::size_t done = read_frames(file, width, format.chnr, frames, 0, kept,
                                         [&out, kept](std::size_t i, uint32_t c, double v) {
                                             out.samples[i * kept + c] = static_cast<float>(v);
                                         });
    out.samples.resize(done * kept);
    pcm = std::move(out);
    return DecodeResult::ok;
}

std::string decode_message(DecodeResult result)
{
    switch (result) {
    case DecodeResult::ok:
        return {};
    case DecodeResult::cannot_open:
        return input_info_message(InputInfoResult::cannot_open);
    case DecodeResult::invalid_format:
        return input_info_message(InputInfoResult::invalid_format);
    case DecodeResult::not_pcm:
        return input_info_message(InputInfoResult::not_pcm);
    case DecodeResult::too_large:
        return "file too large to hold in memory";
    }
    return {};
}

MatchGains match_gains(double input_lufs, double output_lufs, bool on)
{
    MatchGains gains;
    if (!on || !std::isfinite(input_lufs) || !std::isfinite(output_lufs))
        return gains;
    // Only ever down: raising the quieter one could clip.
    if (input_lufs > output_lufs)
        gains.input_db = output_lufs - input_lufs;
    else
        gains.output_db = input_lufs - output_lufs;
    return gains;
}

std::string format_time(double seconds)
{
    const long tenths = std::lround(std::max(0.0, seconds) * 10.0);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld.%ld", tenths / 600, tenths / 10 % 60, tenths % 10);
    return text;
}

Pcm Player::load(Source s, Pcm pcm)
{
    // The times in the file of the readings of this source, kept across
    // the change of data.
    const auto seconds = [this](const Voice& v) { return data(v).rate ? v.pos / data(v).rate + data(v).start : 0.0; };
    const double at[2] = {seconds(cur_), seconds(old_)};
    const bool fade = cur_.source == s && level_ > 0 && has(s);
    if (fade) {
        // The fade reads no further than its longest length and the
        // interpolator's reach: that stretch is kept, the data go back.
        const Pcm& p = pcm_[s];
        const auto reach = static_cast<std::size_t>(2 * sinc_window_length);
        const auto here = static_cast<std::size_t>(cur_.pos);
        const std::size_t first = here > reach ? here - reach : 0;
        const std::size_t last = std::min(p.frames(), here + reach + static_cast<std::size_t>(max_fade_seconds * p.rate));
        replaced_ = Pcm{p.rate, p.channels, {}, p.start + static_cast<double>(first) / p.rate};
        if (first < last)
            replaced_.samples.assign(p.samples.begin() + first * p.channels, p.samples.begin() + last * p.channels);
        cur_.pos -= static_cast<double>(first);
    }
    Pcm before = std::exchange(pcm_[s], std::move(pcm));
    const auto frame = [this, s](double t) {
        return std::clamp((t - pcm_[s].start) * pcm_[s].rate, 0.0, static_cast<double>(pcm_[s].frames()));
    };
    if (fade) {
        cur_.replaced = true;
        move_to(Voice{s, frame(at[0])});
        return before;
    }
    if (cur_.source == s && !cur_.replaced)
        cur_.pos = frame(at[0]);
    if (old_.source == s && !old_.replaced)
        old_.pos = frame(at[1]);
    return before;
}

void Player::set_time_factor(double factor)
{
    factor = factor > 0 ? factor : 1.0;
    for (Voice* v : {&cur_, &old_}) {
        const Pcm& p = data(*v);
        if (v->source == output && p.rate != 0)
            v->pos = ((v->pos / p.rate + p.start) * factor_ / factor - p.start) * p.rate;
    }
    factor_ = factor;
}

void Player::clear(Source s)
{
    pcm_[s] = Pcm{};
    if (cur_.source == s)
        cur_.pos = 0;
    if (target_ == s && has(static_cast<Source>(1 - s)))
        target_ = 1 - s;
}

bool Player::set_source(Source s)
{
    if (!has(s))
        return false;
    target_ = s;
    return true;
}

void Player::stop()
{
    playing_ = false;
    seek(0);
}

void Player::set_gain_db(Source s, double db)
{
    gain_[s] = std::pow(10.0, db / 20.0);
}

uint32_t Player::fade_frames() const
{
    const auto longest = static_cast<uint32_t>(max_fade_seconds * rate_);
    return std::max<uint32_t>(1, std::min(fade_request_, longest));
}

double Player::mapped(int from, double pos) const
{
    const Pcm& a = pcm_[from];
    const Pcm& b = pcm_[1 - from];
    if (a.rate == 0 || b.rate == 0)
        return 0;
    double t = pos / a.rate + a.start;
    t = from == input ? t / factor_ : t * factor_;
    return (t - b.start) * b.rate;
}

double Player::read(const Voice& v, int side) const
{
    const Pcm& p = data(v);
    const std::size_t n = p.frames();
    if (v.pos < 0 || n == 0)
        return 0;
    const auto i = static_cast<std::size_t>(v.pos);
    if (i >= n)
        return 0;
    const uint32_t c = std::min<uint32_t>(side, p.channels - 1);
    const double x0 = p.samples[i * p.channels + c];
    const double frac = v.pos - static_cast<double>(i);
    if (frac == 0.0)
        return x0;
    // Between samples (a rate the device does not take, or a switch that
    // lands between two) the chain's own windowed sinc, so what is heard is
    // converted as the chain would convert it.
    double window[sinc_window_length];
    for (int k = 0; k < sinc_window_length; ++k) {
        const auto at = static_cast<int64_t>(i) + k - sinc_window_centre;
        window[k] = at >= 0 && static_cast<std::size_t>(at) < n ? p.samples[at * p.channels + c] : 0.0;
    }
    return sinc_read(window, frac);
}

void Player::move_to(const Voice& next)
{
    // While sounding, the reading left fades out under the new one (a new
    // fade during one starts anew from where the sound stands); in silence
    // there is nothing to fade.
    if (level_ > 0) {
        old_ = cur_;
        fade_len_ = fade_left_ = fade_frames();
    } else {
        fade_left_ = 0;
    }
    cur_ = next;
}

void Player::mark(uint64_t frame, bool moving)
{
    const Pcm& p = data(cur_);
    const double seconds = p.rate ? cur_.pos / p.rate + p.start : 0.0;
    marks_[next_mark_] = Mark{frame, seconds, moving};
    next_mark_ = (next_mark_ + 1) % mark_count;
}

double Player::position_before(uint64_t frames_ago) const
{
    const uint64_t frame = pulled_ - std::min(frames_ago, pulled_);
    // The newest mark at or before the frame; the oldest one kept when the
    // frame lies further back.
    const Mark* found = nullptr;
    for (std::size_t k = 1; k <= mark_count; ++k) {
        found = &marks_[(next_mark_ + mark_count - k) % mark_count];
        if (found->frame <= frame)
            break;
    }
    const double ahead = found->moving && frame > found->frame ? static_cast<double>(frame - found->frame) : 0.0;
    return found->seconds + ahead / rate_;
}

std::size_t Player::pull(float* out, std::size_t frames)
{
    std::fill(out, out + 2 * frames, 0.0f);
    const bool on = playing_;
    if (frames == 0 && !on)
        level_ = 0; // nothing pulls: a pause has nothing to fade
    const int target = target_;
    // The other file picks up where this one is in the music.
    if (target != cur_.source && has(static_cast<Source>(target)))
        move_to(Voice{target, mapped(cur_.source, cur_.pos)});
    const double seek = seek_.exchange(-1.0);
    if (seek >= 0)
        pending_seek_ = seek;
    // A seek while sounding crossfades to the new place; one asked during
    // the fade of a pause waits for the silence (Stop goes back to the start
    // after the sound has faded where it was).
    if (pending_seek_ >= 0 && (on || level_ == 0)) {
        const Pcm& p = pcm_[cur_.source];
        move_to(Voice{cur_.source, std::max(0.0, (pending_seek_ - p.start) * p.rate)});
        pending_seek_ = -1;
    }
    const Pcm& pcm = data(cur_);
    const double end = static_cast<double>(pcm.frames());
    std::size_t k = 0;
    if (end > 0 && (on || level_ > 0)) {
        // Playing from the very start is the file's own beginning; elsewhere
        // the sound fades in.
        if (on && level_ == 0 && cur_.pos == 0)
            level_ = 1;
        mark(pulled_, true);
        const double ramp = 1.0 / fade_frames();
        const auto step = [this](const Voice& v) { return static_cast<double>(data(v).rate) / rate_; };
        const double gain[2] = {gain_[0], gain_[1]};
        for (; k < frames; ++k) {
            if (cur_.pos >= end) {
                if (!loop_) {
                    playing_ = false;
                    cur_.pos = 0;
                    level_ = 0;
                    fade_left_ = 0;
                    break;
                }
                // The loop goes on with the file's first sample, as the
                // file's own continuation.
                cur_.pos -= end;
                mark(pulled_ + k, true);
            }
            // The steps add up to a whole, give or take their rounding.
            level_ = on ? (level_ + ramp > 1 - 1e-9 ? 1.0 : level_ + ramp) : (level_ - ramp < 1e-9 ? 0.0 : level_ - ramp);
            const double level = level_ < 1 ? fade_shape(level_) : 1.0;
            // The two readings' weights add up to one, so every faded frame
            // lies between their own values.
            const double w = fade_left_ ? fade_shape(1.0 - static_cast<double>(fade_left_) / (fade_len_ + 1)) : 1.0;
            for (int side = 0; side < 2; ++side) {
                double y = w * gain[cur_.source] * read(cur_, side);
                if (fade_left_)
                    y += (1.0 - w) * gain[old_.source] * read(old_, side);
                out[2 * k + side] = static_cast<float>(level * y);
            }
            if (fade_left_) {
                old_.pos += step(old_);
                --fade_left_;
            }
            cur_.pos += step(cur_);
            if (level_ == 0) {
                ++k; // the pause has faded out with this frame
                break;
            }
        }
    }
    mark(pulled_ + k, false);
    pulled_ += frames;
    position_ = pcm.rate ? cur_.pos / pcm.rate + pcm.start : 0.0;
    return k;
}

} // namespace vesk

#include "ui/player.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "engine/interpolator.h"
#include "engine/sample_codec.h"
#include "wav/wav_header.h"

namespace vesk {

namespace {

struct FileCloser {
    std::FILE* file;
    ~FileCloser() { std::fclose(file); }
};

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

void Player::load(Source s, Pcm pcm)
{
    pcm_[s] = std::move(pcm);
    if (s == current_)
        pos_[s] = std::min<double>(pos_[s], static_cast<double>(pcm_[s].frames()));
}

void Player::clear(Source s)
{
    pcm_[s] = Pcm{};
    pos_[s] = 0;
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
    double t = pos / a.rate;
    t = from == input ? t / factor_ : t * factor_;
    return t * b.rate;
}

double Player::read(int s, double pos, int side) const
{
    const Pcm& p = pcm_[s];
    const std::size_t n = p.frames();
    if (pos < 0 || n == 0)
        return 0;
    const auto i = static_cast<std::size_t>(pos);
    if (i >= n)
        return 0;
    const uint32_t c = std::min<uint32_t>(side, p.channels - 1);
    const double x0 = p.samples[i * p.channels + c];
    const double frac = pos - static_cast<double>(i);
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

std::size_t Player::pull(float* out, std::size_t frames)
{
    std::fill(out, out + 2 * frames, 0.0f);
    const int target = target_;
    if (target != current_ && has(static_cast<Source>(target))) {
        // The other file picks up where this one is in the music; a switch
        // during a fade starts the fade anew from where it stands.
        pos_[target] = mapped(current_, pos_[current_]);
        current_ = target;
        fade_len_ = fade_left_ = fade_frames();
    }
    const double seek = seek_.exchange(-1.0);
    if (seek >= 0) {
        pos_[current_] = seek * pcm_[current_].rate;
        fade_left_ = 0;
    }
    if (!has(static_cast<Source>(current_)))
        return 0;
    if (!playing_) {
        position_ = pos_[current_] / pcm_[current_].rate;
        return 0;
    }

    const int cur = current_, old = 1 - cur;
    const double step[2] = {static_cast<double>(pcm_[0].rate) / rate_, static_cast<double>(pcm_[1].rate) / rate_};
    const double gain[2] = {gain_[0], gain_[1]};
    const double end = static_cast<double>(pcm_[cur].frames());
    std::size_t k = 0;
    for (; k < frames; ++k) {
        if (pos_[cur] >= end) {
            if (!loop_) {
                playing_ = false;
                pos_[cur] = 0;
                break;
            }
            pos_[cur] -= end;
            fade_left_ = 0;
        }
        // The new file's weight rises in a straight line, so every faded
        // frame lies between the two files' own values.
        const double w = fade_left_ ? 1.0 - static_cast<double>(fade_left_) / (fade_len_ + 1) : 1.0;
        for (int side = 0; side < 2; ++side) {
            double y = w * gain[cur] * read(cur, pos_[cur], side);
            if (fade_left_)
                y += (1.0 - w) * gain[old] * read(old, pos_[old], side);
            out[2 * k + side] = static_cast<float>(y);
        }
        if (fade_left_) {
            pos_[old] += step[old];
            --fade_left_;
        }
        pos_[cur] += step[cur];
    }
    position_ = pos_[cur] / pcm_[cur].rate;
    return k;
}

} // namespace vesk

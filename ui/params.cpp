#include "ui/params.h"

#include <charconv>
#include <cstdint>
#include <utility>

#include "ui/control_ids.h"

namespace vesk {

const std::array<ParamInfo, 15>& param_table()
{
    using R = ParamRecord;
    using K = ParamKind;
    namespace c = control;
    static const std::array<ParamInfo, 15> table = {{
        {"inpwavname", K::path, &R::inpwavname, c::inpwavname_edit, 0, "inp.wav", "PATH",
         "input WAV file (the rest of the line)"},
        {"outwavname", K::path, &R::outwavname, c::outwavname_edit, 0, "out.wav", "PATH",
         "output WAV file (the rest of the line)"},
        {"fssrc", K::unsigned_int, &R::fssrc, c::fssrc_edit, 0, "48000", "HZ",
         "target rate of the sample-rate conversion [Hz]"},
        {"ensrc", K::flag, &R::ensrc, c::ensrc_check, 0, "FALSE", "TRUE|FALSE", "sample-rate conversion on or off"},
        {"fssim", K::scaled_real, &R::fssim, c::fssim_edit, c::fssim_spin, "48000", "HZ",
         "simulated sampling rate fs-sim [Hz, > 0]"},
        {"bitnr", K::unsigned_int, &R::bitnr, c::bitnr_edit, 0, "24", "BITS", "quantization word length [1 to 24]"},
        {"aperture", K::plain_real, &R::aperture, c::aperture_edit, 0, "0", "TS",
         "aperture [fraction of the fs-sim period, 0 to 1]"},
        {"fcloin", K::scaled_real, &R::fcloin, c::fcloin_edit, c::fcloin_spin, "0", "HZ",
         "input band filter, low corner [Hz, >= 0]"},
        {"fchiin", K::scaled_real, &R::fchiin, c::fchiin_edit, c::fchiin_spin, "24000", "HZ",
         "input band filter, high corner [Hz, >= 0]"},
        {"fcloout", K::scaled_real, &R::fcloout, c::fcloout_edit, c::fcloout_spin, "0", "HZ",
         "output band filter, low corner [Hz, >= 0]"},
        {"fchiout", K::scaled_real, &R::fchiout, c::fchiout_edit, c::fchiout_spin, "24000", "HZ",
         "output band filter, high corner [Hz, >= 0]"},
        {"varispeedt", K::scaled_real, &R::varispeedt, c::varispeedt_edit, c::varispeedt_spin, "1", "F",
         "vari-speed factor in time [> 0]"},
        {"varispeedf", K::scaled_real, &R::varispeedf, c::varispeedf_edit, c::varispeedf_spin, "1", "F",
         "vari-speed factor in frequency [> 0]"},
        {"varispeedsh", K::flag, &R::varispeedsh, c::varispeedsh_check, 0, "FALSE", "TRUE|FALSE",
         "hold sample before vari-speed"},
        {"jitteramp", K::plain_real, &R::jitteramp, c::jitteramp_edit, 0, "0", "TS",
         "clock jitter amplitude [fraction of the fs-sim period, 0 to 0.5]"},
    }};
    return table;
}

ParamRecord::ParamRecord()
{
    // The defaults are literals of the table, read once per field: a
    // malformed one would be a build mistake, caught by every test that
    // looks at a default.
    for (const ParamInfo& p : param_table()) {
        const std::string_view text = p.fallback;
        std::visit(
            [&](auto member) {
                using Value = std::remove_reference_t<decltype(this->*member)>;
                if constexpr (std::is_same_v<Value, std::string>)
                    this->*member = std::string(text);
                else if constexpr (std::is_same_v<Value, int>)
                    this->*member = text == "TRUE" ? 1 : 0;
                else
                    std::from_chars(text.data(), text.data() + text.size(), this->*member);
            },
            p.member);
    }
}

std::size_t character_end(std::string_view text, std::size_t begin)
{
    std::size_t end = begin + 1;
    while (end < text.size() && end - begin < 4 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        ++end;
    return end;
}

void reset_keeping_paths(ParamRecord& record)
{
    std::string inp = std::move(record.inpwavname);
    std::string out = std::move(record.outwavname);
    record = ParamRecord{};
    record.inpwavname = std::move(inp);
    record.outwavname = std::move(out);
}

double semitone_factor(int n)
{
    // The factor is built step by step, not as pow(2, n / 12.0): a spin click
    // or a semitone word in a batch file is one such step, so n steps at once
    // must land exactly where n single steps would.
    //
    // A count near the int range would take billions of steps.  Each step is
    // the same operation on the running value, so once a step leaves the value
    // unchanged (0, infinity, or the smallest subnormals that a division by
    // the ratio rounds back to themselves) every later step leaves it
    // unchanged too, and stopping there gives exactly the full loop's result.
    // The 64-bit count keeps -INT_MIN representable.
    double factor = 1.0;
    if (n > 0) {
        for (std::int64_t i = 0; i < n; ++i) {
            const double next = factor * semitone_ratio;
            if (next == factor)
                break;
            factor = next;
        }
    } else if (n < 0) {
        const std::int64_t steps = -static_cast<std::int64_t>(n);
        for (std::int64_t i = 0; i < steps; ++i) {
            const double next = factor / semitone_ratio;
            if (next == factor)
                break;
            factor = next;
        }
    }
    return factor;
}

} // namespace vesk

// What the ui tests share: a record printer for failure messages, the
// reading of a batch text into a record and a record with every field
// changed.
#pragma once

#include <iomanip>
#include <ostream>
#include <string>
#include <type_traits>
#include <variant>

#include "ui/batch.h"

namespace vesk {

// Every field with all the digits a double has, so that two records that
// differ only in the last bit do not print alike.
inline void PrintTo(const ParamRecord& r, std::ostream* os)
{
    *os << std::setprecision(17) << "{inp=\"" << r.inpwavname << "\" out=\"" << r.outwavname
        << "\" fssrc=" << r.fssrc << " ensrc=" << r.ensrc << " fssim=" << r.fssim << " bitnr=" << r.bitnr
        << " aperture=" << r.aperture << " fcloin=" << r.fcloin << " fchiin=" << r.fchiin
        << " fcloout=" << r.fcloout << " fchiout=" << r.fchiout << " varispeedt=" << r.varispeedt
        << " varispeedf=" << r.varispeedf << " varispeedsh=" << r.varispeedsh << " jitteramp=" << r.jitteramp
        << "}";
}

namespace test {

inline ParamRecord read_text(const std::string& text, ParamRecord record = {})
{
    batch::BatchStream stream(text);
    batch::read_batch(stream, record, {});
    return record;
}

// Every field away from its default, each to a value of its own that the
// writer's seven significant digits hold exactly, so that a swapped pair of
// fields or a lost one shows after a round trip.
inline ParamRecord all_changed()
{
    ParamRecord r;
    int i = 0;
    for (const ParamInfo& p : param_table()) {
        ++i;
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(r.*member)>;
                if constexpr (std::is_same_v<T, std::string>)
                    r.*member = "dir " + std::to_string(i) + "/\xc3\xa4 b.wav";
                else if constexpr (std::is_same_v<T, int>)
                    r.*member = 1;
                else if constexpr (std::is_same_v<T, uint32_t>)
                    r.*member = 4294967280u + i;
                else
                    r.*member = 0.25 + i;
            },
            p.member);
    }
    return r;
}

} // namespace test
} // namespace vesk

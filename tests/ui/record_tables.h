// What the ui tests share: a record printer for failure messages and the
// reading of a batch text into a record.
#pragma once

#include <iomanip>
#include <ostream>
#include <string>

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

} // namespace test
} // namespace vesk

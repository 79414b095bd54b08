#include "ui/log_ring.h"

namespace vesk {

void LogRing::clear()
{
    for (std::string& line : loglines_)
        line.clear();
    logindex_ = 0;
}

void LogRing::append(const std::string& line)
{
    loglines_[logindex_] = line;
    logindex_ = logindex_ >= size - 1 ? 0 : logindex_ + 1;
}

std::string LogRing::joined() const
{
    std::string text;
    for (int i = 0; i < size; ++i)
        text += loglines_[(logindex_ + i) % size];
    return text;
}

} // namespace vesk

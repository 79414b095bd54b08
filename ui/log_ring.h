// The Processing window's log: the last 24 lines of a run, in a ring.
#pragma once

#include <array>
#include <string>

namespace vesk {

class LogRing {
public:
    static constexpr int size = 24;

    // Every slot empty and the next line going to slot 0: a run starts with
    // an empty log, never with the lines of the one before.
    void clear();

    // Puts `line` into slot logindex and moves logindex on, back to 0 after
    // the last slot; afterwards logindex is also the slot of the oldest line.
    void append(const std::string& line);

    // The kept lines from the oldest to the newest.  Nothing is put between
    // them: a line brings its own newline, and one without runs on into the
    // next.
    std::string joined() const;

    int logindex() const { return logindex_; }
    const std::array<std::string, size>& loglines() const { return loglines_; }

private:
    std::array<std::string, size> loglines_;
    int logindex_ = 0;
};

} // namespace vesk

// Sinks that remember what the engine said, for tests.
#pragma once

#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "engine/sinks.h"

namespace vesk::test {

struct RecordingMessages : MessageSink {
    std::vector<std::string> texts;
    void show_message(const std::string& text) override { texts.push_back(text); }
};

struct RecordingLog : LogSink {
    std::vector<std::string> lines;
    // Called after each line is recorded; lets a test act at a given line.
    std::function<void(const std::string&)> on_line;
    void append_log(const std::string& line) override
    {
        lines.push_back(line);
        if (on_line)
            on_line(line);
    }
    std::string joined() const { return std::accumulate(lines.begin(), lines.end(), std::string()); }
};

} // namespace vesk::test

// The ways out of the engine.  Both calls block until the front-end has
// dealt with them, so a line or a message is never lost or reordered, and the
// engine's own text stays valid for the whole call.
#pragma once

#include <string>

namespace vesk {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // A failure the user must see; returns once it has been acknowledged.
    virtual void show_message(const std::string& text) = 0;
};

class LogSink {
public:
    virtual ~LogSink() = default;
    // One progress line exactly as formatted (it brings its own newline,
    // if any).
    virtual void append_log(const std::string& line) = 0;
};

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // How much of the run is behind it, 0 ... 1: never less than the report
    // before, and 1 only once the run has done all its work.
    virtual void report_progress(double fraction) = 0;
};

} // namespace vesk

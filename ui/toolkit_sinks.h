// The engine's ways out, routed through the toolkit services.  A run's
// worker never touches a window itself: each message, each log line and
// each progress report is handed to the user-interface thread with a
// synchronous call, so the worker waits until the box has been dismissed or the line is shown, and the
// engine's text stays valid for exactly as long as it is read.
#pragma once

#include <functional>
#include <string>

#include "engine/sinks.h"
#include "ui/toolkit.h"

namespace vesk {

class ToolkitMessageSink : public MessageSink {
public:
    explicit ToolkitMessageSink(Toolkit& toolkit);
    void show_message(const std::string& text) override;

private:
    Toolkit& toolkit_;
};

class ToolkitLogSink : public LogSink {
public:
    // `show` runs on the user-interface thread, once per line, in order.
    ToolkitLogSink(Toolkit& toolkit, std::function<void(const std::string&)> show);
    void append_log(const std::string& line) override;

private:
    Toolkit& toolkit_;
    std::function<void(const std::string&)> show_;
};

class ToolkitProgressSink : public ProgressSink {
public:
    // `show` runs on the user-interface thread, once per report, in order.
    ToolkitProgressSink(Toolkit& toolkit, std::function<void(double)> show);
    void report_progress(double fraction) override;

private:
    Toolkit& toolkit_;
    std::function<void(double)> show_;
};

} // namespace vesk

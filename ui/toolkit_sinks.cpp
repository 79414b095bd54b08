#include "ui/toolkit_sinks.h"

#include <utility>

namespace vesk {

ToolkitMessageSink::ToolkitMessageSink(Toolkit& toolkit)
    : toolkit_(toolkit)
{
}

void ToolkitMessageSink::show_message(const std::string& text)
{
    // Every window belongs to the user-interface thread; the box is put up
    // there whoever reports, and the reporter waits for it.
    toolkit_.call_on_ui([&] { toolkit_.message(text); });
}

ToolkitLogSink::ToolkitLogSink(Toolkit& toolkit, std::function<void(const std::string&)> show)
    : toolkit_(toolkit)
    , show_(std::move(show))
{
}

void ToolkitLogSink::append_log(const std::string& line)
{
    toolkit_.call_on_ui([&] { show_(line); });
}

ToolkitProgressSink::ToolkitProgressSink(Toolkit& toolkit, std::function<void(double)> show)
    : toolkit_(toolkit)
    , show_(std::move(show))
{
}

void ToolkitProgressSink::report_progress(double fraction)
{
    toolkit_.call_on_ui([&] { show_(fraction); });
}

} // namespace vesk

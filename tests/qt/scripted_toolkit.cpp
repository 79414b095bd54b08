#include "scripted_toolkit.h"

#include <chrono>
#include <thread>

namespace vesk::testing {

void ScriptedToolkit::answerQuestions(std::initializer_list<bool> answers)
{
    const std::lock_guard lock(mutex_);
    questionAnswers_.insert(questionAnswers_.end(), answers);
}

void ScriptedToolkit::answerFiles(std::initializer_list<std::optional<std::string>> answers)
{
    const std::lock_guard lock(mutex_);
    fileAnswers_.insert(fileAnswers_.end(), answers);
}

void ScriptedToolkit::onRequest(std::function<void(const ToolkitRequest&)> hook)
{
    const std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

void ScriptedToolkit::afterHandOver(std::function<void()> hook)
{
    handOverHook_ = std::move(hook);
}

void ScriptedToolkit::call_on_ui(const std::function<void()>& call)
{
    if (onUiThread()) {
        call();
        return;
    }
    QtToolkit::call_on_ui([&] {
        call();
        if (handOverHook_)
            handOverHook_();
    });
    std::function<bool()> hold;
    {
        const std::lock_guard lock(mutex_);
        hold = holdCondition_;
    }
    while (hold && hold())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void ScriptedToolkit::holdWorkerWhile(std::function<bool()> condition)
{
    const std::lock_guard lock(mutex_);
    holdCondition_ = std::move(condition);
}

std::vector<ToolkitRequest> ScriptedToolkit::requests() const
{
    const std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> ScriptedToolkit::texts_of(ToolkitRequest::Kind kind) const
{
    std::vector<std::string> texts;
    for (const ToolkitRequest& r : requests()) {
        if (r.kind == kind)
            texts.push_back(r.text);
    }
    return texts;
}

std::vector<std::string> ScriptedToolkit::messages() const
{
    return texts_of(ToolkitRequest::Kind::message);
}

std::vector<std::string> ScriptedToolkit::questions() const
{
    return texts_of(ToolkitRequest::Kind::question);
}

int ScriptedToolkit::unanswered() const
{
    const std::lock_guard lock(mutex_);
    return unanswered_;
}

void ScriptedToolkit::clear()
{
    const std::lock_guard lock(mutex_);
    requests_.clear();
    questionAnswers_.clear();
    fileAnswers_.clear();
    unanswered_ = 0;
}

void ScriptedToolkit::record(ToolkitRequest request)
{
    std::function<void(const ToolkitRequest&)> hook;
    {
        const std::lock_guard lock(mutex_);
        requests_.push_back(request);
        hook = hook_;
    }
    // Outside the lock: the hook may well ask for the requests itself.
    if (hook)
        hook(request);
}

void ScriptedToolkit::message(const std::string& text)
{
    record({ToolkitRequest::Kind::message, text, {}, 0});
}

bool ScriptedToolkit::question(const std::string& text)
{
    record({ToolkitRequest::Kind::question, text, {}, 0});
    const std::lock_guard lock(mutex_);
    if (questionAnswers_.empty()) {
        ++unanswered_;
        return false;
    }
    const bool yes = questionAnswers_.front();
    questionAnswers_.pop_front();
    return yes;
}

std::optional<std::string> ScriptedToolkit::choose_file(const FileChoice& choice)
{
    record({ToolkitRequest::Kind::choose_file, choice.title, choice, 0});
    const std::lock_guard lock(mutex_);
    if (fileAnswers_.empty()) {
        ++unanswered_;
        return std::nullopt;
    }
    std::optional<std::string> chosen = fileAnswers_.front();
    fileAnswers_.pop_front();
    return chosen;
}

void ScriptedToolkit::play(const std::string& path)
{
    record({ToolkitRequest::Kind::play, path, {}, 0});
}

void ScriptedToolkit::pause(int milliseconds)
{
    record({ToolkitRequest::Kind::pause, {}, {}, milliseconds});
}

} // namespace vesk::testing

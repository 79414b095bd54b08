// A toolkit for tests: records every message, question, file choice, play
// and pause, and answers from a script instead of a person.  Threads and
// the hand-over to the user-interface thread are Qt's real ones.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ui/qt/qt_toolkit.h"

namespace vesk::testing {

struct ToolkitRequest {
    enum class Kind { message, question, choose_file, play, pause };
    Kind kind;
    std::string text;    // message or question text, played path
    FileChoice choice;   // for choose_file
    int milliseconds = 0; // for pause
};

class ScriptedToolkit : public QtToolkit {
public:
    // Answers for the next questions, in order; true is Yes.
    void answerQuestions(std::initializer_list<bool> answers);
    // Answers for the next file choosers, in order; no value is a cancel.
    void answerFiles(std::initializer_list<std::optional<std::string>> answers);
    // Runs at each request, after it is recorded: lets a test look at the
    // window at the moment a box would be up.
    void onRequest(std::function<void(const ToolkitRequest&)> hook);
    // Runs on the user-interface thread after each call handed over from
    // another thread, while that thread still waits for it: lets a test act
    // at an exact point of a run (a given log line) without racing it.
    void afterHandOver(std::function<void()> hook);
    // After each hand-over the calling thread waits, on its own side, for
    // as long as `condition` holds: lets a test hold a run at a point until
    // the user-interface thread has done something, without blocking that
    // thread.  The condition runs on the waiting thread, so it may only read
    // what is safe to read there (atomics).  An empty one holds nothing.
    void holdWorkerWhile(std::function<bool()> condition);

    std::vector<ToolkitRequest> requests() const;
    std::vector<std::string> messages() const;
    std::vector<std::string> questions() const;
    // Questions and choosers that found no scripted answer (answered No or
    // cancelled).
    int unanswered() const;
    void clear();

    void message(const std::string& text) override;
    bool question(const std::string& text) override;
    std::optional<std::string> choose_file(const FileChoice& choice) override;
    void play(const std::string& path) override;
    void pause(int milliseconds) override;
    void call_on_ui(const std::function<void()>& call) override;

private:
    void record(ToolkitRequest request);
    std::vector<std::string> texts_of(ToolkitRequest::Kind kind) const;

    mutable std::mutex mutex_;
    std::vector<ToolkitRequest> requests_;
    std::deque<bool> questionAnswers_;
    std::deque<std::optional<std::string>> fileAnswers_;
    std::function<void(const ToolkitRequest&)> hook_;
    // Set and read on the user-interface thread only.
    std::function<void()> handOverHook_;
    std::function<bool()> holdCondition_;
    int unanswered_ = 0;
};

} // namespace vesk::testing

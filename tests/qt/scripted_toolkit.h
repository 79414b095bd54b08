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

private:
    void record(ToolkitRequest request);
    std::vector<std::string> texts_of(ToolkitRequest::Kind kind) const;

    mutable std::mutex mutex_;
    std::vector<ToolkitRequest> requests_;
    std::deque<bool> questionAnswers_;
    std::deque<std::optional<std::string>> fileAnswers_;
    std::function<void(const ToolkitRequest&)> hook_;
    int unanswered_ = 0;
};

} // namespace vesk::testing

// The toolkit services done with Qt: message boxes, file choosers, threads,
// the synchronous hand-over to the user-interface thread and playback.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "ui/toolkit.h"

namespace vesk {

class QtToolkit : public Toolkit {
public:
    explicit QtToolkit(QWidget* owner = nullptr);

    // The window the boxes and choosers belong to (they stay above it).
    void setOwner(QWidget* owner) { owner_ = owner; }
    QWidget* owner() const { return owner_; }

    void message(const std::string& text) override;
    bool question(const std::string& text) override;
    std::optional<std::string> choose_file(const FileChoice& choice) override;
    void start_thread(std::function<void()> work) override;
    void call_on_ui(const std::function<void()>& call) override;
    void play(const std::string& path) override;
    void pause(int milliseconds) override;

    // The caption of every box: the program's name, which is the
    // executable's base name ("vesk").
    static QString caption();

    // "WAV files (*.wav)|*.wav|All files|*|" as the name filters of a Qt
    // file dialog: {"WAV files (*.wav)", "All files (*)"}.
    static QStringList nameFilters(const std::string& filter);

    static bool onUiThread();

private:
    QPointer<QWidget> owner_;
};

} // namespace vesk

// The window's way in for files that a run does not take (FLAC, MP3, Ogg,
// AIFF, float WAV, ...): it asks, converts beside the source or in a folder
// the user picks, and makes the converted file the input.  A conversion
// runs on a worker thread; one that lasts longer than half a second shows
// its progress in a window of its own, whose Stop leaves nothing behind.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <string>

#include "ui/progress_text.h"
#include "ui/toolkit.h"
#include "wav/import.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vesk {

// The progress window: which file becomes which, the share done and the
// time left.  Stop, Escape and the close box ask the conversion to stop;
// the window goes when the conversion has ended.
class ImportProgressDlg : public QDialog {
    Q_OBJECT
public:
    ImportProgressDlg(const std::string& source, const std::string& target, std::atomic<int>& stop, QWidget* parent);

    // The converter's latest share done (0 ... 1).
    void setProgress(double fraction);

    QLabel* titleLabel() const { return title_; }
    QProgressBar* progressBar() const { return bar_; }
    QLabel* timeLeftLabel() const { return timeLeft_; }
    QPushButton* stopButton() const { return stopButton_; }

protected:
    void reject() override;

private:
    std::atomic<int>& stop_;
    ProgressClock clock_;
    QLabel* title_;
    QProgressBar* bar_;
    QLabel* timeLeft_;
    QPushButton* stopButton_;
};

class InputImport {
public:
    // `useInput` makes a path the input (the main window's record and edit).
    InputImport(Toolkit& toolkit, QWidget* owner, std::function<void(const std::string&)> useInput);

    // A file chosen or dropped as the input: a PCM WAV that a run takes, or
    // a file that no conversion reads, becomes the input as it is; any other
    // audio file is offered for conversion, and on Yes its converted file
    // becomes the input.  No, a failure (told) or a stop change nothing.
    void takeInput(const std::string& path);

    // Info on a file that a run does not take but a conversion reads: says
    // what it is (after the facts window, when Info has shown one) and
    // offers the conversion.  False, having done nothing, for any other file.
    bool offerFromInfo(const std::string& path, bool factsShown);

    // How long a conversion runs before its progress window appears.
    static constexpr int progress_delay_ms = 500;

private:
    void convert(const std::string& source);
    wav::ImportResult runConversion(const std::string& source, const std::string& target);

    Toolkit& toolkit_;
    QWidget* owner_;
    std::function<void(const std::string&)> useInput_;
};

} // namespace vesk

// The Listen window: the input and the latest output, played loudness-matched
// through the desktop's default sound output, with a switch between them
// that keeps the place in the music.  The player itself (ui/player.h) knows
// nothing of Qt; this window holds the controls and the sound device.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QIODevice>
#include <string>

#include "ui/player.h"

class QAudioSink;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimer;

namespace vesk {

// What the sound device reads: the player's frames, as floats or, for a
// device that takes no floats, as 16-bit integers.
class PlayerDevice : public QIODevice {
public:
    explicit PlayerDevice(Player& player) : player_(player) {}
    bool int16 = false;
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxlen) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    Player& player_;
};

class ListenDlg : public QDialog {
    Q_OBJECT
public:
    explicit ListenDlg(QWidget* parent = nullptr);
    ~ListenDlg() override;

    // The main window's paths and vari-speed factor in time.  Either file is
    // decoded again when its path, size or time of change differ from what
    // is held.  Returns the input's message (Info's words), empty when it
    // plays.
    std::string setFiles(const std::string& input, const std::string& output, double varispeedt);
    // Reads again whichever file changed on disk.
    void refresh();

    Player& player() { return player_; }
    bool hasAudio() const { return audio_; }
    QString status() const;

    // Files whose decoded samples would take more are refused.
    static constexpr std::size_t max_bytes = std::size_t(1) << 31;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct File {
        std::string path, loaded; // loaded: the path of what is held
        QDateTime changed;
        qint64 size = -1;
        double lufs = 0;
        std::string message;
    };
    void reload(Player::Source s, bool force);
    void setSource(Player::Source s);
    void togglePlay();
    void stopPlaying();
    bool startSound();
    void stopSound();
    void updateGains();
    void tick();

    Player player_;
    PlayerDevice device_{player_};
    QAudioSink* sink_ = nullptr;
    bool audio_ = false;
    File files_[2];
    int ticks_ = 0;

    QLabel* fileLabels_[2];
    QPushButton* playButton_;
    QPushButton* stopButton_;
    QSlider* slider_;
    QLabel* timeLabel_;
    QCheckBox* loopCheck_;
    QRadioButton* sourceButtons_[2];
    QCheckBox* matchCheck_;
    QLabel* gainLabel_;
    QLabel* statusLabel_;
    QTimer* timer_;
};

} // namespace vesk

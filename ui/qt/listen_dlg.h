// The Listen window: the input and the latest output, played loudness-matched
// through the desktop's default sound output, with a switch between them
// that keeps the place in the music.  The player itself (ui/player.h) knows
// nothing of Qt; this window holds the controls and the sound device.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QIODevice>
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/params.h"
#include "ui/player.h"
#include "ui/preview.h"
#include "ui/toolkit.h"

class QAudioSink;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTimer;

namespace vesk {

class ListenDlg : public QDialog {
    Q_OBJECT
public:
    // Files are read on threads started through `toolkit`.
    explicit ListenDlg(Toolkit& toolkit, QWidget* parent = nullptr);
    // Waits for a file being read: its result comes to this window.
    ~ListenDlg() override;

    // The main window's paths and vari-speed factor in time.  Either file is
    // read again when its path, size or time of change differ from what is
    // held, on a worker: the window answers meanwhile, and plays what it
    // held until the new file is in.  `inputKnown`, when given, is told the
    // input's message (Info's words; empty when it plays) once the input is
    // in.
    void setFiles(const std::string& input, const std::string& output, double varispeedt,
                  std::function<void(const std::string&)> inputKnown = {});
    // Reads again whichever file changed on disk.
    void refresh();

    // Live: the parameters the main window took last.  While Live is on,
    // each starts a render of the span around the play position on a
    // worker, which stops a render under way; once done, Output (B) plays
    // it (and Input (A) the same span) looping, from the same place in the
    // music.  Off, the whole files play again.
    void setParams(const Params& params);
    void setLive(bool on);
    bool live() const;
    // True from a render's start until its result (or the newest's, when
    // one stopped another) has come to this window.
    bool rendering() const { return rendering_; }
    // The span Output (B) plays; its count is 0 while the whole files play.
    const SpanFrames& previewSpan() const { return previewSpan_; }
    // The parameters of the last render shown, as the chain used them.
    const Params& previewParams() const { return previewParams_; }
    // The render that plays and the input it was rendered from; null while
    // the whole files play.
    std::shared_ptr<const SpanRendering> previewRendering() const { return previewRendering_; }
    std::shared_ptr<const InputSamples> previewInput() const { return previewRendering_ ? inputSamples_ : nullptr; }
    // Told each time a new render plays, and when the whole files play again.
    std::function<void()> previewChanged;

    Player& player() { return player_; }
    // True while a file is being read.
    bool loading() const { return files_[0].reading || files_[1].reading; }
    bool hasAudio() const { return audio_; }
    QString status() const;

    // What a render worker gives.
    struct Preview {
        RunOutcome outcome = RunOutcome::failed;
        std::string message;
        SpanRendering rendering;
        Pcm spans[2]; // the input's and the rendering's, as the player takes them
        double lufs[2] = {0, 0};
        double ms = 0; // the render's
    };
    // Renders `span` of `input` for `ticket` and makes both spans ready to
    // play, their loudness measured; the input's is measured meanwhile on a
    // thread of its own.  What the window's render worker does.
    static void renderPreview(SpanRenderer& renderer, uint64_t ticket, const InputSamples& input, const Span& span,
                              const Params& params, Preview& preview);

    // Files whose decoded samples would take more are refused.
    static constexpr std::size_t max_bytes = std::size_t(1) << 31;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct File {
        std::string path, loaded; // loaded: the path of what is held or being read
        QDateTime changed;
        qint64 size = -1;
        double lufs = 0;
        std::string message;
        int generation = 0; // of the latest read; an older one's result is dropped
        bool reading = false;
    };
    // What a worker read.
    struct Read {
        DecodeResult result = DecodeResult::cannot_open;
        Pcm pcm;
        double lufs = 0;
        std::shared_ptr<const InputSamples> samples; // the input's, for renders
    };
    // The renderer, shared with the render workers; one renders at a time.
    struct Renderer;
    void startRender();
    void previewed(uint64_t ticket, Preview& preview);
    void showWhole();
    // Gains, the sound device's rate and the time shown after new data
    // (`rate`: the files' rate before them).
    void afterDataChange(uint32_t rate);
    // The data a file's read brought, to the player or, while a span
    // plays, kept for when the whole files play again.
    void play(Player::Source s, Pcm pcm);
    void reload(Player::Source s, bool force);
    // A worker's read, on this window's thread.
    void received(Player::Source s, int generation, Read& read);
    void tellInput();
    void setSource(Player::Source s);
    void togglePlay();
    void stopPlaying();
    bool startSound();
    void stopSound();
    void feedSound();
    void soundFailed();
    uint32_t fileRate() const; // the higher of the two files' rates
    double heardPosition() const;
    void updateGains();
    void tick();

    Toolkit& toolkit_;
    // Workers reading; the last thing each touches.
    std::shared_ptr<std::atomic<int>> readers_ = std::make_shared<std::atomic<int>>(0);
    std::function<void(const std::string&)> inputKnown_;
    Player player_;
    // The sound device, fed from the window's thread: Qt's PulseAudio
    // output lives there, and the player's data change there too.
    QAudioSink* sink_ = nullptr;
    QPointer<QIODevice> sinkInput_; // Qt deletes it when the output fails
    QTimer* feedTimer_;
    bool int16_ = false;            // a device that takes no floats
    qint64 framesWritten_ = 0;
    qint64 framesSilent_ = 0;       // written since the sound last ended
    std::vector<float> block_;
    std::vector<qint16> block16_;
    bool audio_ = false;
    File files_[2];
    int ticks_ = 0;

    std::shared_ptr<Renderer> renderer_;
    std::shared_ptr<const InputSamples> inputSamples_;
    std::optional<Params> params_;
    uint64_t ticket_ = 0;
    bool rendering_ = false;
    SpanFrames previewSpan_;
    Params previewParams_;
    std::shared_ptr<const SpanRendering> previewRendering_;
    double previewLufs_[2] = {0, 0};
    Pcm whole_[2];           // the whole files while spans play
    double wholeFactor_ = 1; // vari-speed in time of the whole output
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
    QCheckBox* liveCheck_;
    QSpinBox* spanSpin_;
    QTimer* timer_;
};

} // namespace vesk

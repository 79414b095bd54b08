#include "ui/qt/listen_dlg.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaDevices>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "ui/qt/loudness.h"

namespace vesk {

namespace {

constexpr const char* no_audio = "no audio output";
// What the sound server holds, its own latency included: a switch, a seek
// or a pause is heard this late.
constexpr double buffer_seconds = 0.040;
// The device is topped up this often, well within the buffer, so that the
// window's thread may be busy for a while without a gap in the sound.
constexpr int feed_ms = 5;
// The window's time follows what is heard at this pace.
constexpr int tick_ms = 20;
// Silence written after the sound ended before the device is let go.
constexpr double idle_seconds = 0.5;
// The crossfade of a switch, a seek or a pause.
constexpr double fade_seconds = 0.005;

QString db_text(double db)
{
    // A real minus sign, as a person writes it, and none on a gain that
    // shows as 0.0.
    const double shown = std::round(db * 10) / 10;
    return QString::number(std::abs(shown), 'f', 1).prepend(shown < 0 ? QStringLiteral("\u2212") : QString())
           + QStringLiteral(" dB");
}

// Stereo at `rate`, or else at the device's own rate, as floats or else as
// 16-bit integers; invalid when the device takes none of these.
QAudioFormat outputFormat(const QAudioDevice& device, int rate)
{
    QAudioFormat format;
    format.setChannelCount(2);
    for (int r : {rate, device.preferredFormat().sampleRate()})
        for (QAudioFormat::SampleFormat sample : {QAudioFormat::Float, QAudioFormat::Int16}) {
            format.setSampleRate(r);
            format.setSampleFormat(sample);
            if (device.isFormatSupported(format))
                return format;
        }
    return {};
}

} // namespace

struct ListenDlg::Renderer {
    SpanRenderer renderer;
    std::mutex busy; // held by the worker that renders
};

ListenDlg::ListenDlg(Toolkit& toolkit, QWidget* parent) : QDialog(parent), toolkit_(toolkit)
{
    setWindowTitle(QStringLiteral("Listen"));
    auto* grid = new QGridLayout(this);
    const char* names[2] = {"Input", "Output"};
    for (int s = 0; s < 2; ++s) {
        grid->addWidget(new QLabel(QString::fromLatin1(names[s]) + QLatin1Char(':')), s, 0);
        fileLabels_[s] = new QLabel;
        fileLabels_[s]->setTextInteractionFlags(Qt::NoTextInteraction);
        grid->addWidget(fileLabels_[s], s, 1, 1, 4);
    }
    playButton_ = new QPushButton(QStringLiteral("Play"));
    stopButton_ = new QPushButton(QStringLiteral("Stop"));
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setMinimumWidth(240);
    timeLabel_ = new QLabel;
    timeLabel_->setMinimumWidth(timeLabel_->fontMetrics().horizontalAdvance(QStringLiteral("00:00.0 / 00:00.0")));
    loopCheck_ = new QCheckBox(QStringLiteral("Loop"));
    grid->addWidget(playButton_, 2, 0);
    grid->addWidget(stopButton_, 2, 1);
    grid->addWidget(slider_, 2, 2);
    grid->addWidget(timeLabel_, 2, 3);
    grid->addWidget(loopCheck_, 2, 4);
    auto* sources = new QHBoxLayout;
    for (int s = 0; s < 2; ++s) {
        sourceButtons_[s] = new QRadioButton(QString::fromLatin1(names[s]) + QString::fromLatin1(s ? " (B)" : " (A)"));
        sources->addWidget(sourceButtons_[s]);
    }
    sourceButtons_[0]->setChecked(true);
    matchCheck_ = new QCheckBox(QStringLiteral("Match loudness"));
    matchCheck_->setChecked(true);
    gainLabel_ = new QLabel;
    sources->addSpacing(16);
    sources->addWidget(matchCheck_);
    sources->addWidget(gainLabel_, 1);
    grid->addLayout(sources, 3, 0, 1, 5);
    auto* liveRow = new QHBoxLayout;
    liveCheck_ = new QCheckBox(QStringLiteral("Live"));
    spanSpin_ = new QSpinBox;
    spanSpin_->setRange(static_cast<int>(preview_min_seconds), static_cast<int>(preview_max_seconds));
    spanSpin_->setValue(static_cast<int>(preview_default_seconds));
    spanSpin_->setSuffix(QStringLiteral(" s"));
    liveRow->addWidget(liveCheck_);
    liveRow->addWidget(new QLabel(QStringLiteral("Span:")));
    liveRow->addWidget(spanSpin_);
    liveRow->addStretch(1);
    grid->addLayout(liveRow, 4, 0, 1, 5);
    statusLabel_ = new QLabel;
    grid->addWidget(statusLabel_, 5, 0, 1, 5);
    grid->setColumnStretch(2, 1);
    // Space, A and B belong to the window, not to whichever control has
    // the focus.
    for (QWidget* w : findChildren<QWidget*>())
        w->setFocusPolicy(Qt::NoFocus);

    connect(playButton_, &QPushButton::clicked, this, &ListenDlg::togglePlay);
    connect(stopButton_, &QPushButton::clicked, this, &ListenDlg::stopPlaying);
    // A preview's span always loops.
    connect(loopCheck_, &QCheckBox::toggled, this, [this](bool on) { player_.set_loop(on || previewSpan_.count > 0); });
    connect(matchCheck_, &QCheckBox::toggled, this, &ListenDlg::updateGains);
    for (int s = 0; s < 2; ++s)
        connect(sourceButtons_[s], &QRadioButton::clicked, this,
                [this, s] { setSource(static_cast<Player::Source>(s)); });
    connect(slider_, &QSlider::sliderMoved, this, [this](int ms) { player_.seek(ms / 1000.0); });
    renderer_ = std::make_shared<Renderer>();
    connect(liveCheck_, &QCheckBox::toggled, this, [this](bool on) { on ? startRender() : showWhole(); });
    connect(spanSpin_, &QSpinBox::valueChanged, this, [this] {
        if (live())
            startRender();
    });

    audio_ = !QMediaDevices::audioOutputs().isEmpty();
    statusLabel_->setText(audio_ ? QString() : QString::fromLatin1(no_audio));
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &ListenDlg::tick);
    timer_->start(tick_ms);
    feedTimer_ = new QTimer(this);
    feedTimer_->setTimerType(Qt::PreciseTimer);
    connect(feedTimer_, &QTimer::timeout, this, &ListenDlg::feedSound);
}

ListenDlg::~ListenDlg()
{
    // A worker touches nothing of this window until it posts its result,
    // which goes with the window; it only has to be done posting.  A render
    // under way is stopped.
    renderer_->renderer.begin();
    while (readers_->load() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    stopSound();
}

QString ListenDlg::status() const
{
    return statusLabel_->text();
}

void ListenDlg::setFiles(const std::string& input, const std::string& output, double varispeedt,
                         std::function<void(const std::string&)> inputKnown)
{
    wholeFactor_ = varispeedt;
    if (previewSpan_.count == 0)
        player_.set_time_factor(varispeedt);
    files_[0].path = input;
    files_[1].path = output;
    inputKnown_ = std::move(inputKnown);
    refresh();
    tick();
    if (!files_[0].reading)
        tellInput();
}

void ListenDlg::tellInput()
{
    if (!inputKnown_)
        return;
    // Taken first: the call may show a box, and its event loop may bring
    // the next setFiles.
    const auto told = std::move(inputKnown_);
    inputKnown_ = {};
    told(files_[0].message);
}

void ListenDlg::refresh()
{
    for (int s = 0; s < 2; ++s)
        reload(static_cast<Player::Source>(s), false);
}

void ListenDlg::reload(Player::Source s, bool force)
{
    File& f = files_[s];
    const QFileInfo info(QString::fromStdString(f.path));
    const QDateTime changed = info.exists() ? info.lastModified() : QDateTime();
    const qint64 size = info.exists() ? info.size() : -1;
    if (!force && f.path == f.loaded && changed == f.changed && size == f.size)
        return;
    f.loaded = f.path;
    f.changed = changed;
    f.size = size;
    f.reading = true;
    fileLabels_[s]->setText(QFileInfo(QString::fromStdString(f.path)).fileName() + QStringLiteral("  (reading ...)"));
    // Decoding and measuring a long file takes seconds: a worker does both.
    const int generation = ++f.generation;
    readers_->fetch_add(1);
    toolkit_.start_thread([this, readers = readers_, s, generation, path = f.path] {
        auto read = std::make_shared<Read>();
        read->result = decode_wav(path, read->pcm, max_bytes);
        if (read->result == DecodeResult::ok)
            read->lufs = integrated_loudness(read->pcm);
        // The input also as a run reads it, for the live preview's renders.
        auto samples = std::make_shared<InputSamples>();
        if (s == Player::input && read->result == DecodeResult::ok && read_input_samples(path, *samples, max_bytes))
            read->samples = std::move(samples);
        // Posted, not waited for: a window closed meanwhile takes the posted
        // call with it.
        QMetaObject::invokeMethod(
            this, [this, s, generation, read] { received(s, generation, *read); }, Qt::QueuedConnection);
        readers->fetch_sub(1);
    });
}

void ListenDlg::received(Player::Source s, int generation, Read& read)
{
    File& f = files_[s];
    if (generation != f.generation)
        return;
    f.reading = false;
    // The player is fed on this thread, so the sound goes on through the
    // change.
    const uint32_t rate = fileRate();
    f.message = decode_message(read.result);
    if (read.result == DecodeResult::ok) {
        f.lufs = read.lufs;
        fileLabels_[s]->setText(QStringLiteral("%1  (%2 Hz, %3 ch, %4 LUFS)")
                                    .arg(QFileInfo(QString::fromStdString(f.path)).fileName())
                                    .arg(read.pcm.rate)
                                    .arg(read.pcm.channels)
                                    .arg(std::isfinite(f.lufs) ? QString::number(f.lufs, 'f', 1)
                                                               : QStringLiteral("silent")));
        play(s, std::move(read.pcm));
    } else {
        play(s, Pcm{});
        fileLabels_[s]->setText(QString::fromStdString(f.message).trimmed());
    }
    if (s == Player::input)
        inputSamples_ = std::move(read.samples);
    sourceButtons_[s]->setEnabled(player_.has(s));
    sourceButtons_[player_.source()]->setChecked(true);
    afterDataChange(rate);
    if (s == Player::input)
        tellInput();
    if (s == Player::input && live())
        startRender();
}

void ListenDlg::play(Player::Source s, Pcm pcm)
{
    if (previewSpan_.count > 0)
        whole_[s] = std::move(pcm);
    else if (pcm.frames() > 0)
        player_.load(s, std::move(pcm));
    else
        player_.clear(s);
}

void ListenDlg::setParams(const Params& params)
{
    params_ = params;
    if (!live())
        return;
    // A new input (a drop, a batch file) is read first; its arrival renders.
    if (params.inpwavname && *params.inpwavname != files_[0].path) {
        files_[0].path = *params.inpwavname;
        reload(Player::input, false);
        return;
    }
    startRender();
}

void ListenDlg::setLive(bool on)
{
    liveCheck_->setChecked(on);
}

bool ListenDlg::live() const
{
    return liveCheck_->isChecked();
}

void ListenDlg::startRender()
{
    // The newest change stops the render before it, which then posts
    // nothing that is shown.
    const uint64_t ticket = ticket_ = renderer_->renderer.begin();
    if (!params_ || !inputSamples_ || inputSamples_->frames() == 0) {
        rendering_ = false;
        statusLabel_->setText(QStringLiteral("live preview: no input to render"));
        return;
    }
    // Around the place heard, in the input's time.
    const double heard = sink_ ? heardPosition() : player_.position();
    const double at = player_.source() == Player::output ? heard * player_.time_factor() : heard;
    const Span span = preview_span(at, spanSpin_->value(),
                                   static_cast<double>(inputSamples_->frames()) / inputSamples_->rate);
    rendering_ = true;
    readers_->fetch_add(1);
    toolkit_.start_thread([this, readers = readers_, renderer = renderer_, input = inputSamples_, params = *params_,
                           span, ticket] {
        auto preview = std::make_shared<Preview>();
        {
            // An older render still finishing holds the renderer; once it
            // has, this one finds out whether it is still the newest.
            const std::lock_guard<std::mutex> lock(renderer->busy);
            renderPreview(renderer->renderer, ticket, *input, span, params, *preview);
        }
        QMetaObject::invokeMethod(
            this, [this, ticket, preview] { previewed(ticket, *preview); }, Qt::QueuedConnection);
        readers->fetch_sub(1);
    });
}

void ListenDlg::renderPreview(SpanRenderer& renderer, uint64_t ticket, const InputSamples& input, const Span& span,
                              const Params& params, Preview& preview)
{
    // The input's span does not wait for the render: measuring its loudness
    // takes about as long as rendering a word length.
    const SpanFrames frames = span_frames(span, input.frames(), input.rate);
    std::thread measure;
    if (frames.count > 0)
        measure = std::thread([&] {
            preview.spans[Player::input] = input_span_pcm(input, frames);
            preview.lufs[Player::input] = integrated_loudness(preview.spans[Player::input]);
        });
    const auto start = std::chrono::steady_clock::now();
    preview.outcome = renderer.render(ticket, input.view(), span, params, preview.rendering);
    preview.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    preview.message = renderer.message();
    if (preview.outcome == RunOutcome::done) {
        preview.spans[Player::output] = rendered_pcm(preview.rendering, input.rate);
        preview.lufs[Player::output] = integrated_loudness(preview.spans[Player::output]);
    }
    if (measure.joinable())
        measure.join();
}

void ListenDlg::previewed(uint64_t ticket, Preview& preview)
{
    if (ticket != ticket_ || !live())
        return;
    rendering_ = false;
    if (preview.outcome != RunOutcome::done) {
        statusLabel_->setText(QString::fromStdString(preview.message).trimmed());
        return;
    }
    const uint32_t rate = fileRate();
    const bool first = previewSpan_.count == 0;
    previewSpan_ = preview.rendering.span;
    previewParams_ = preview.rendering.params;
    std::copy(std::begin(preview.lufs), std::end(preview.lufs), previewLufs_);
    player_.set_time_factor(previewParams_.varispeedt);
    player_.set_loop(true);
    // The input first: a switch to the output under way then lands in the
    // new output's time.
    for (Player::Source s : {Player::input, Player::output}) {
        Pcm before = player_.load(s, std::move(preview.spans[s]));
        if (first)
            whole_[s] = std::move(before);
        sourceButtons_[s]->setEnabled(true);
    }
    setSource(Player::output);
    afterDataChange(rate);
    statusLabel_->setText(QString::fromStdString(
        live_preview_text(previewSpan_, inputSamples_->rate, preview.ms)));
    previewRendering_ = std::make_shared<const SpanRendering>(std::move(preview.rendering));
    if (previewChanged)
        previewChanged();
}

void ListenDlg::showWhole()
{
    ticket_ = renderer_->renderer.begin();
    rendering_ = false;
    // The renderer's buffers and tables go back once a render under way has
    // stopped; a render after this builds them again.
    readers_->fetch_add(1);
    toolkit_.start_thread([readers = readers_, renderer = renderer_] {
        {
            const std::lock_guard<std::mutex> lock(renderer->busy);
            renderer->renderer.release();
        }
        readers->fetch_sub(1);
    });
    if (previewSpan_.count == 0)
        return;
    previewSpan_ = {};
    const uint32_t rate = fileRate();
    for (Player::Source s : {Player::input, Player::output}) {
        play(s, std::move(whole_[s]));
        whole_[s] = {};
        sourceButtons_[s]->setEnabled(player_.has(s));
    }
    player_.set_time_factor(wholeFactor_);
    player_.set_loop(loopCheck_->isChecked());
    sourceButtons_[player_.source()]->setChecked(true);
    statusLabel_->setText(audio_ ? QString() : QString::fromLatin1(no_audio));
    afterDataChange(rate);
    previewRendering_.reset();
    if (previewChanged)
        previewChanged();
}

void ListenDlg::afterDataChange(uint32_t rate)
{
    updateGains();
    // The sound goes on through the change, unless the data now play at
    // another rate.
    if (sink_ && fileRate() != rate) {
        stopSound();
        startSound();
    }
    tick();
}

void ListenDlg::updateGains()
{
    const bool both = player_.has(Player::input) && player_.has(Player::output);
    // While spans play, the spans' loudness.
    const bool spans = previewSpan_.count > 0;
    const MatchGains g = match_gains(spans ? previewLufs_[0] : files_[0].lufs, spans ? previewLufs_[1] : files_[1].lufs,
                                     matchCheck_->isChecked() && both);
    player_.set_gain_db(Player::input, g.input_db);
    player_.set_gain_db(Player::output, g.output_db);
    if (!matchCheck_->isChecked() || !both)
        gainLabel_->setText(QStringLiteral("no gain"));
    else if (g.input_db < 0)
        gainLabel_->setText(QStringLiteral("input ") + db_text(g.input_db));
    else
        gainLabel_->setText(QStringLiteral("output ") + db_text(g.output_db));
}

void ListenDlg::setSource(Player::Source s)
{
    player_.set_source(s);
    sourceButtons_[player_.source()]->setChecked(true);
}

void ListenDlg::togglePlay()
{
    player_.set_playing(!player_.playing());
    if (player_.playing() && !sink_ && !startSound())
        player_.set_playing(false);
    tick();
}

void ListenDlg::stopPlaying()
{
    player_.stop();
    tick();
}

bool ListenDlg::startSound()
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    audio_ = !device.isNull();
    statusLabel_->setText(audio_ ? QString() : QString::fromLatin1(no_audio));
    if (!audio_ || !player_.has(player_.source()))
        return false;
    // The higher of the two files' rates when the device takes it, so that
    // neither loses its top; else the device's own rate, which the player
    // converts to.
    const QAudioFormat format = outputFormat(device, static_cast<int>(fileRate()));
    sinkInput_ = nullptr;
    if (format.isValid()) {
        player_.set_rate(static_cast<uint32_t>(format.sampleRate()));
        player_.set_fade_frames(static_cast<uint32_t>(fade_seconds * format.sampleRate()));
        int16_ = format.sampleFormat() == QAudioFormat::Int16;
        sink_ = new QAudioSink(device, format, this);
        sink_->setBufferSize(format.bytesForDuration(static_cast<qint64>(buffer_seconds * 1e6)));
        // Written to, not read from.  Qt's PulseAudio output reads a device
        // in periods of 20 ms, and only while a whole period fits into the
        // server's buffer; the server starts a stream only once the buffer
        // is full but for one request and a frame.  For the 40 ms asked here
        // that is 30 ms, requested 10 ms at a time: after one period it waits
        // for one more frame, Qt for 20 ms of room, and the sound never
        // starts.  Writing all the server asks for fills its buffer, whatever
        // sizes it chose.
        sinkInput_ = sink_->start();
        framesWritten_ = framesSilent_ = 0;
    }
    if (!sinkInput_ || sink_->error() != QAudio::NoError) {
        soundFailed();
        return false;
    }
    feedSound();
    feedTimer_->start(feed_ms);
    return true;
}

void ListenDlg::stopSound()
{
    feedTimer_->stop();
    if (!sink_)
        return;
    // Qt's output handles events while it is destroyed: it goes when the
    // window's thread is free again.
    QAudioSink* sink = std::exchange(sink_, nullptr);
    sinkInput_ = nullptr;
    sink->stop();
    sink->deleteLater();
}

void ListenDlg::feedSound()
{
    if (!sink_)
        return;
    const qsizetype free = sink_->bytesFree();
    // A server that went away stops the output (or, in the instant before,
    // reports no size); an output refused or failing reports an error.
    const QAudio::Error error = sink_->error();
    if (!sinkInput_ || sink_->state() == QAudio::StoppedState || free < 0
        || (error != QAudio::NoError && error != QAudio::UnderrunError)) {
        soundFailed();
        return;
    }
    const auto frames = static_cast<std::size_t>(free / sink_->format().bytesPerFrame());
    if (frames == 0)
        return;
    block_.resize(2 * frames);
    const std::size_t sounding = player_.pull(block_.data(), frames);
    const char* bytes = reinterpret_cast<const char*>(block_.data());
    if (int16_) {
        block16_.resize(block_.size());
        for (std::size_t i = 0; i < block_.size(); ++i)
            block16_[i] = static_cast<qint16>(std::lround(std::clamp(block_[i], -1.0f, 32767 / 32768.0f) * 32768.0f));
        bytes = reinterpret_cast<const char*>(block16_.data());
    }
    sinkInput_->write(bytes, static_cast<qint64>(frames) * sink_->format().bytesPerFrame());
    framesWritten_ += static_cast<qint64>(frames);
    framesSilent_ = sounding ? static_cast<qint64>(frames - sounding) : framesSilent_ + static_cast<qint64>(frames);
    // Nothing more to hear: the device is let go long after its last sound.
    if (framesSilent_ > idle_seconds * sink_->format().sampleRate())
        stopSound();
}

void ListenDlg::soundFailed()
{
    stopSound();
    player_.set_playing(false);
    player_.pull(nullptr, 0);
    audio_ = false;
    statusLabel_->setText(QString::fromLatin1(no_audio));
}

uint32_t ListenDlg::fileRate() const
{
    return std::max(player_.pcm(Player::input).rate, player_.pcm(Player::output).rate);
}

double ListenDlg::heardPosition() const
{
    // What the server has played so far, its own latency taken off; the
    // frames written since are still to come.
    const qint64 heard = sink_->processedUSecs() * sink_->format().sampleRate() / 1000000;
    return player_.position_before(static_cast<uint64_t>(std::max<qint64>(0, framesWritten_ - heard)));
}

void ListenDlg::tick()
{
    // Without a sound device nothing pulls: the switch and the seek still
    // take effect, here.
    if (!sink_)
        player_.pull(nullptr, 0);
    playButton_->setText(player_.playing() ? QStringLiteral("Pause") : QStringLiteral("Play"));
    const double position = sink_ ? heardPosition() : player_.position(), duration = player_.duration();
    if (!slider_->isSliderDown()) {
        slider_->setRange(0, static_cast<int>(duration * 1000));
        slider_->setValue(static_cast<int>(position * 1000));
    }
    timeLabel_->setText(QString::fromStdString(format_time(position) + " / " + format_time(duration)));
    if (++ticks_ % (1000 / tick_ms) == 0 && isVisible())
        refresh();
}

void ListenDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
        togglePlay();
        return;
    case Qt::Key_A:
        setSource(Player::input);
        return;
    case Qt::Key_B:
        setSource(Player::output);
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void ListenDlg::hideEvent(QHideEvent* event)
{
    player_.set_playing(false);
    stopSound();
    QDialog::hideEvent(event);
}

} // namespace vesk

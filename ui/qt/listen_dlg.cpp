#include "ui/qt/listen_dlg.h"

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
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "ui/qt/loudness.h"

namespace vesk {

namespace {

constexpr const char* no_audio = "no audio output";
// The sound device's buffer: a switch is heard at most this late.
constexpr double buffer_seconds = 0.040;
// The crossfade of a switch.
constexpr double fade_seconds = 0.005;

QString db_text(double db)
{
    // A real minus sign, as a person writes it.
    return QString::number(std::abs(db), 'f', 1).prepend(db < 0 ? QStringLiteral("\u2212") : QString())
           + QStringLiteral(" dB");
}

} // namespace

qint64 PlayerDevice::readData(char* data, qint64 maxlen)
{
    const std::size_t frames = static_cast<std::size_t>(maxlen) / (int16 ? 4 : 8);
    if (!int16) {
        player_.pull(reinterpret_cast<float*>(data), frames);
        return static_cast<qint64>(frames * 8);
    }
    std::vector<float> block(2 * frames);
    player_.pull(block.data(), frames);
    auto* out = reinterpret_cast<qint16*>(data);
    for (std::size_t i = 0; i < block.size(); ++i)
        out[i] = static_cast<qint16>(std::lround(std::clamp(block[i], -1.0f, 32767 / 32768.0f) * 32768.0f));
    return static_cast<qint64>(frames * 4);
}

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
    statusLabel_ = new QLabel;
    grid->addWidget(statusLabel_, 4, 0, 1, 5);
    grid->setColumnStretch(2, 1);
    // Space, A and B belong to the window, not to whichever control has
    // the focus.
    for (QWidget* w : findChildren<QWidget*>())
        w->setFocusPolicy(Qt::NoFocus);

    connect(playButton_, &QPushButton::clicked, this, &ListenDlg::togglePlay);
    connect(stopButton_, &QPushButton::clicked, this, &ListenDlg::stopPlaying);
    connect(loopCheck_, &QCheckBox::toggled, this, [this](bool on) { player_.set_loop(on); });
    connect(matchCheck_, &QCheckBox::toggled, this, &ListenDlg::updateGains);
    for (int s = 0; s < 2; ++s)
        connect(sourceButtons_[s], &QRadioButton::clicked, this,
                [this, s] { setSource(static_cast<Player::Source>(s)); });
    connect(slider_, &QSlider::sliderMoved, this, [this](int ms) { player_.seek(ms / 1000.0); });

    audio_ = !QMediaDevices::audioOutputs().isEmpty();
    statusLabel_->setText(audio_ ? QString() : QString::fromLatin1(no_audio));
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &ListenDlg::tick);
    timer_->start(100);
}

ListenDlg::~ListenDlg()
{
    // A worker touches nothing of this window until it posts its result,
    // which goes with the window; it only has to be done posting.
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
    // The sound device reads the player: it stops while the data change.
    const bool sounding = sink_ != nullptr;
    stopSound();
    f.message = decode_message(read.result);
    if (read.result == DecodeResult::ok) {
        f.lufs = read.lufs;
        fileLabels_[s]->setText(QStringLiteral("%1  (%2 Hz, %3 ch, %4 LUFS)")
                                    .arg(QFileInfo(QString::fromStdString(f.path)).fileName())
                                    .arg(read.pcm.rate)
                                    .arg(read.pcm.channels)
                                    .arg(std::isfinite(f.lufs) ? QString::number(f.lufs, 'f', 1)
                                                               : QStringLiteral("silent")));
        player_.load(s, std::move(read.pcm));
    } else {
        player_.clear(s);
        fileLabels_[s]->setText(QString::fromStdString(f.message).trimmed());
    }
    sourceButtons_[s]->setEnabled(player_.has(s));
    sourceButtons_[player_.source()]->setChecked(true);
    updateGains();
    if (sounding)
        startSound();
    tick();
    if (s == Player::input)
        tellInput();
}

void ListenDlg::updateGains()
{
    const bool both = player_.has(Player::input) && player_.has(Player::output);
    const MatchGains g = match_gains(files_[0].lufs, files_[1].lufs, matchCheck_->isChecked() && both);
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
    if (player_.playing() && !sink_)
        startSound();
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
    // The file's own rate when the device takes it, else the device's.
    QAudioFormat format;
    format.setChannelCount(2);
    format.setSampleRate(static_cast<int>(player_.pcm(player_.source()).rate));
    format.setSampleFormat(QAudioFormat::Float);
    if (!device.isFormatSupported(format))
        format.setSampleRate(device.preferredFormat().sampleRate());
    if (!device.isFormatSupported(format))
        format.setSampleFormat(QAudioFormat::Int16);
    player_.set_rate(static_cast<uint32_t>(format.sampleRate()));
    player_.set_fade_frames(static_cast<uint32_t>(fade_seconds * format.sampleRate()));
    device_.int16 = format.sampleFormat() == QAudioFormat::Int16;
    sink_ = new QAudioSink(device, format, this);
    sink_->setBufferSize(format.bytesForDuration(static_cast<qint64>(buffer_seconds * 1e6)));
    device_.open(QIODevice::ReadOnly);
    sink_->start(&device_);
    if (sink_->error() != QAudio::NoError) {
        statusLabel_->setText(QString::fromLatin1(no_audio));
        stopSound();
        return false;
    }
    return true;
}

void ListenDlg::stopSound()
{
    if (!sink_)
        return;
    sink_->stop();
    delete sink_;
    sink_ = nullptr;
    device_.close();
}

void ListenDlg::tick()
{
    // Without a sound device nothing pulls: the switch and the seek still
    // take effect, here.
    if (!sink_)
        player_.pull(nullptr, 0);
    playButton_->setText(player_.playing() ? QStringLiteral("Pause") : QStringLiteral("Play"));
    const double position = player_.position(), duration = player_.duration();
    if (!slider_->isSliderDown()) {
        slider_->setRange(0, static_cast<int>(duration * 1000));
        slider_->setValue(static_cast<int>(position * 1000));
    }
    timeLabel_->setText(QString::fromStdString(format_time(position) + " / " + format_time(duration)));
    if (++ticks_ % 10 == 0 && isVisible())
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

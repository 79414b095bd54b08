#include "ui/qt/import_dlg.h"

#include <QDialogButtonBox>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>
#include <thread>

#include "ui/file_choices.h"
#include "ui/import_offer.h"

namespace vesk {

namespace {

const char* const converting_title = "Converting";
const char* const stopping_text = "Stopping, please wait ...";

QString name_of(const std::string& path)
{
    return QString::fromStdString(std::filesystem::path(path).filename().string());
}

} // namespace

ImportProgressDlg::ImportProgressDlg(const std::string& source, const std::string& target, std::atomic<int>& stop,
                                     QWidget* parent)
    : QDialog(parent)
    , stop_(stop)
    , title_(new QLabel(QStringLiteral("Converting '%1' to '%2' ...").arg(name_of(source), name_of(target)), this))
    , bar_(new QProgressBar(this))
    , timeLeft_(new QLabel(QString::fromStdString(time_left_text(0, 0)), this))
    , stopButton_(new QPushButton(QStringLiteral("Stop"), this))
{
    setWindowTitle(QString::fromLatin1(converting_title));
    // A fixed frame with a close box (the stop request) and nothing else.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(stopButton_, QDialogButtonBox::RejectRole);
    connect(stopButton_, &QPushButton::clicked, this, &ImportProgressDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title_);
    layout->addWidget(bar_);
    layout->addWidget(timeLeft_);
    layout->addWidget(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 50);
}

void ImportProgressDlg::setProgress(double fraction)
{
    bar_->setValue(progress_percent(fraction));
    if (stopButton_->isEnabled())
        timeLeft_->setText(QString::fromStdString(time_left_text(fraction, clock_.elapsed_seconds())));
}

void ImportProgressDlg::reject()
{
    // The window stays until the worker has ended: it says so meanwhile.
    stop_.store(1);
    stopButton_->setEnabled(false);
    timeLeft_->setText(QString::fromLatin1(stopping_text));
}

InputImport::InputImport(Toolkit& toolkit, QWidget* owner, std::function<void(const std::string&)> useInput)
    : toolkit_(toolkit)
    , owner_(owner)
    , useInput_(std::move(useInput))
{
}

void InputImport::takeInput(const std::string& path)
{
    wav::AudioFacts facts;
    if (classify_input(path, facts) != InputKind::convertible) {
        useInput_(path);
        return;
    }
    if (toolkit_.question(conversion_question(path)))
        convert(path);
}

bool InputImport::offerFromInfo(const std::string& path, bool factsShown)
{
    wav::AudioFacts facts;
    if (classify_input(path, facts) != InputKind::convertible)
        return false;
    // The facts window has said what the file is; otherwise the question does.
    if (toolkit_.question(factsShown ? conversion_question(path) : conversion_offer(path, facts)))
        convert(path);
    return true;
}

void InputImport::convert(const std::string& source)
{
    std::string folder = std::filesystem::path(source).parent_path().string();
    if (!folder_takes_new_files(folder)) {
        const std::optional<std::string> chosen = toolkit_.choose_file(choices::import_folder());
        if (!chosen)
            return;
        folder = *chosen;
    }
    const std::string target = free_wav_name(folder, source);
    const wav::ImportResult result = runConversion(source, target);
    if (result.status == wav::ImportStatus::done)
        useInput_(target);
    else if (result.status == wav::ImportStatus::failed)
        toolkit_.message(import_failure(source, result.reason));
}

wav::ImportResult InputImport::runConversion(const std::string& source, const std::string& target)
{
    std::atomic<int> stop{0};
    // Written false by the worker as the last thing it does: until then it
    // uses what lives on this stack.
    std::atomic<bool> running{true};
    // These three only on this thread, the last two through the worker's
    // final hand-over.
    ImportProgressDlg window(source, target, stop, owner_);
    wav::ImportResult result;
    bool finished = false;
    QEventLoop firstMoments;

    toolkit_.start_thread([&] {
        int shown = -1;
        wav::ImportControl control;
        control.stop = &stop;
        // One hand-over per whole percent, not one per block.
        control.progress = [&](double fraction) {
            if (progress_percent(fraction) == shown)
                return;
            shown = progress_percent(fraction);
            toolkit_.call_on_ui([&] { window.setProgress(fraction); });
        };
        const wav::ImportResult outcome = wav::import_audio(source, target, control);
        toolkit_.call_on_ui([&] {
            result = outcome;
            finished = true;
            firstMoments.quit();
            window.accept();
        });
        running = false;
    });

    // The first half second shows nothing and takes no clicks or keys (they
    // wait), so a short conversion passes without a window; a longer one
    // shows its progress window, modal, until it ends.
    QTimer::singleShot(progress_delay_ms, &firstMoments, &QEventLoop::quit);
    if (!finished)
        firstMoments.exec(QEventLoop::ExcludeUserInputEvents);
    if (!finished)
        window.exec();
    while (running)
        std::this_thread::yield();
    return result;
}

} // namespace vesk

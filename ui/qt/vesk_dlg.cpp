#include "ui/qt/vesk_dlg.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QValidator>
#include <QWheelEvent>

#include "ui/batch.h"
#include "ui/control_ids.h"
#include "ui/drop.h"
#include "ui/file_choices.h"
#include "ui/input_info.h"
#include "ui/qt/listen_dlg.h"
#include "ui/qt/spectra_dlg.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/file_drop_target.h"
#include "ui/qt/import_dlg.h"
#include "ui/qt/inpinfo_dlg.h"
#include "ui/qt/procinfo_dlg.h"
#include "ui/qt/resources.h"
#include "ui/qt/spin_buttons.h"
#include "ui/qt/window_places.h"
#include "ui/run.h"
#include "ui/steps.h"
#include "ui_vesk_dialog.h"

namespace vesk {

namespace {

const char* const about_menu_text = "&About vesk...";
const char* const reset_question = "Reset parameters?";
const char* const quit_question = "Do you really want to quit?";
const char* const processing_title = "Processing samples, please wait ...";
const char* const cannot_open_batch = "cannot open file";
const char* const cannot_save_batch = "cannot save file";
// How long "--- DONE ---" stays readable before the Processing window goes.
constexpr int done_pause_ms = 700;
// How often a wait for the worker's end looks again; the worker's own
// hand-overs are served at once in between.
constexpr int worker_poll_ms = 5;

std::string refusal_notice(FieldKind kind)
{
    switch (kind) {
    case FieldKind::unsigned_number:
        return "Please enter a whole number from 0 to 4294967295.";
    case FieldKind::path:
        return "Please enter no more than " + std::to_string(max_path_length) + " characters.";
    case FieldKind::real:
    case FieldKind::flag:
        break;
    }
    return "Please enter a number.";
}

// What a scroll bar's action means for the content.  The bar's own idea of
// a step is replaced by the window's amounts (see OnVScroll).
std::optional<ScrollCode> scroll_code(int action)
{
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        return ScrollCode::line_up;
    case QAbstractSlider::SliderSingleStepAdd:
        return ScrollCode::line_down;
    case QAbstractSlider::SliderPageStepSub:
        return ScrollCode::page_up;
    case QAbstractSlider::SliderPageStepAdd:
        return ScrollCode::page_down;
    case QAbstractSlider::SliderMove:
        return ScrollCode::thumb_track;
    case QAbstractSlider::SliderToMinimum:
    case QAbstractSlider::SliderToMaximum:
        return ScrollCode::thumb_position;
    default:
        return std::nullopt;
    }
}

// Writes `text` to `path`, whole or not at all where that can be had: a new
// file beside it replaces it only once every byte is written and closed, so
// a full disk leaves the file that was there.  A device, a pipe or a link
// is written in place.  False when anything failed.
bool write_whole_file(const std::string& path, const std::string& text)
{
    namespace fs = std::filesystem;
    std::error_code ignored;
    const fs::file_status status = fs::symlink_status(path, ignored);
    const bool replace = !fs::exists(status) || fs::is_regular_file(status);
    const std::string target = replace ? path + ".saving" : path;
    std::FILE* file = std::fopen(target.c_str(), "w");
    if (file == nullptr)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (replace) {
        ok = ok && std::rename(target.c_str(), path.c_str()) == 0;
        if (!ok)
            std::remove(target.c_str());
    }
    return ok;
}

// The path edits' limit, counted as the exchange counts (characters, where
// QLineEdit's maximum length counts UTF-16 units): an edit holds exactly
// what a take accepts, and a character is never cut in half.
class PathLengthValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return character_count(input.toStdString()) <= max_path_length ? Acceptable : Invalid;
    }
};

void apply(QScrollBar* bar, const ScrollBarSetting& setting)
{
    bar->setRange(setting.minimum, setting.maximum);
    bar->setPageStep(setting.page);
    bar->setSingleStep(std::max(setting.maximum / 100, 1));
    bar->setSliderPosition(setting.position);
    // A range of 0 means that everything fits: no bar.
    bar->setVisible(setting.maximum > 0);
}

} // namespace

CveskDlg::CveskDlg(Toolkit& toolkit, QWidget* parent)
    : QDialog(parent)
    , ui_(std::make_unique<Ui::CveskDlg>())
    , toolkit_(toolkit)
    , messageSink_(toolkit)
    , logSink_(toolkit,
               [this](const std::string& line) {
                   procinfo_->logline = line;
                   procinfo_->OnLogLine();
               })
    , progressSink_(toolkit, [this](double fraction) { procinfo_->OnProgress(fraction); })
    , engine_(messageSink_, logSink_)
    , procinfo_(std::make_unique<CProcinfoDlg>(engine_.stopflag, [this] { enableRunButtons(true); }))
{
    engine_.set_progress_sink(&progressSink_);
    use_resources();
    ui_->setupUi(this);
    // A main window of its own: a task-bar entry, a sizing border and the
    // minimise and maximise boxes, which a dialog does not have by default.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    ui_->chainPicture->load(chain_picture_resource);
    // Group titles sit on the frame's top line, not above it: the controls
    // of each group are placed close under its top edge, and a frame that
    // started below a title line would run through the semitone labels.
    ui_->content->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 3px; margin-top: 0.5em; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; padding: 0 2px; }"));

    const QSize design = scale_to_units(ui_->content, dialog_units(ui_->content->font()));
    resize(design);

    for (QLineEdit* edit : {ui_->inpwavnameEdit, ui_->outwavnameEdit})
        edit->setValidator(new PathLengthValidator(edit));

    buildControlTable();
    connectHandlers();
    // A dropped file is taken by the window wherever it lands, even on an
    // edit, which would otherwise take its name as text.  Between two runs
    // of a batch file no run is under way, but the file is still being read.
    new FileDropTarget(
        this, toolkit_,
        [this](const FileDropTarget::Paths& paths) {
            return drop_refusal(classify_drop(paths, runUnderWay() || readingBatch_));
        },
        [this](const FileDropTarget::Paths& paths) { takeDrop(paths); });
    batchFolder_ = presets_folder(QCoreApplication::applicationDirPath().toStdString());
    import_ = std::make_unique<InputImport>(toolkit_, this,
                                            [this](const std::string& path) { usePath(&ParamRecord::inpwavname, path); });
    OnInitDialog();
    // The window appears at the size of its content: that first size is the
    // design size against which the scroll ranges are measured.
    layOutClientArea(design);
}

CveskDlg::~CveskDlg()
{
    // The worker uses the engine and the Processing window, both about to
    // go: it is stopped and its last hand-overs are served first.
    stopForGood();
    // The Spectra window waits for its analysis, serving events meanwhile:
    // that must happen while this window is still whole, not among its
    // members' destruction.
    spectra_.reset();
}

void CveskDlg::stopForGood()
{
    quitting_ = true;
    if (!runUnderWay())
        return;
    // The Processing window's own stop, so that quitting asks exactly as
    // Escape there does and the window says that the run is stopping.
    procinfo_->OnCancel();
    waitForRunEnd();
}

QWidget* CveskDlg::content() const
{
    return ui_->content;
}

void CveskDlg::buildControlTable()
{
    const std::pair<int, QWidget*> table[] = {
        {control::about_button, ui_->aboutButton},
        {control::quit_button, ui_->quitButton},
        {control::bitnr_edit, ui_->bitnrEdit},
        {control::fssim_edit, ui_->fssimEdit},
        {control::aperture_edit, ui_->apertureEdit},
        {control::inpwavname_edit, ui_->inpwavnameEdit},
        {control::outwavname_edit, ui_->outwavnameEdit},
        {control::browse_input_button, ui_->browseInputButton},
        {control::browse_output_button, ui_->browseOutputButton},
        {control::fcloin_edit, ui_->fcloinEdit},
        {control::fchiin_edit, ui_->fchiinEdit},
        {control::fcloout_edit, ui_->fclooutEdit},
        {control::fchiout_edit, ui_->fchioutEdit},
        {control::varispeedt_edit, ui_->varispeedtEdit},
        {control::varispeedf_edit, ui_->varispeedfEdit},
        {control::jitteramp_edit, ui_->jitterampEdit},
        {control::process_button, ui_->processButton},
        {control::play_input_button, ui_->playInputButton},
        {control::play_output_button, ui_->playOutputButton},
        {control::info_button, ui_->infoButton},
        {control::reset_button, ui_->resetButton},
        {control::varispeedt_spin, ui_->varispeedtSpin},
        {control::varispeedf_spin, ui_->varispeedfSpin},
        {control::fssim_spin, ui_->fssimSpin},
        {control::fcloout_spin, ui_->fclooutSpin},
        {control::fchiout_spin, ui_->fchioutSpin},
        {control::fchiin_spin, ui_->fchiinSpin},
        {control::fcloin_spin, ui_->fcloinSpin},
        {control::bitnr_spin, ui_->bitnrSpin},
        {control::open_button, ui_->openButton},
        {control::save_button, ui_->saveButton},
        {control::varispeedsh_check, ui_->varispeedshCheck},
        {control::fssrc_edit, ui_->fssrcEdit},
        {control::ensrc_check, ui_->ensrcCheck},
    };
    for (const auto& [id, widget] : table)
        controls_.add(id, widget);
}

void CveskDlg::connectHandlers()
{
    connect(ui_->aboutButton, &QPushButton::clicked, this, &CveskDlg::OnAbout);
    connect(ui_->browseInputButton, &QPushButton::clicked, this, &CveskDlg::OnBrowseInput);
    connect(ui_->browseOutputButton, &QPushButton::clicked, this, &CveskDlg::OnBrowseOutput);
    connect(ui_->quitButton, &QPushButton::clicked, this, &CveskDlg::OnCancel);
    connect(ui_->processButton, &QPushButton::clicked, this, &CveskDlg::OnProcess);
    connect(ui_->playInputButton, &QPushButton::clicked, this, &CveskDlg::OnPlayInput);
    connect(ui_->infoButton, &QPushButton::clicked, this, &CveskDlg::OnInfo);
    connect(ui_->listenButton, &QPushButton::clicked, this, &CveskDlg::OnListen);
    connect(ui_->spectraButton, &QPushButton::clicked, this, &CveskDlg::OnSpectra);
    connect(ui_->playOutputButton, &QPushButton::clicked, this, &CveskDlg::OnPlayOutput);
    connect(ui_->resetButton, &QPushButton::clicked, this, &CveskDlg::OnReset);
    for (const SemitoneSpin& spin : semitone_spins()) {
        auto* buttons = qobject_cast<SpinButtons*>(control(spin.spin));
        connect(buttons, &SpinButtons::stepped, this,
                [this, field = spin.field](int d) { OnSemitoneStep(field, d); });
    }
    connect(ui_->bitnrSpin, &SpinButtons::stepped, this, &CveskDlg::OnBitnrStep);
    connect(ui_->openButton, &QPushButton::clicked, this, &CveskDlg::OnOpen);
    for (QCheckBox* check : {ui_->varispeedshCheck, ui_->ensrcCheck})
        connect(check, &QCheckBox::clicked, this, &CveskDlg::takeChange);
    connect(ui_->saveButton, &QPushButton::clicked, this, &CveskDlg::OnSave);
    connect(ui_->verticalScrollBar, &QScrollBar::actionTriggered, this, &CveskDlg::OnVScroll);
    connect(ui_->horizontalScrollBar, &QScrollBar::actionTriggered, this, &CveskDlg::OnHScroll);
}

bool CveskDlg::OnInitDialog()
{
    showRecord();

    // The About box is also offered from the window's menu.  Qt reaches no
    // window-manager menu on any platform (and X11 and Wayland have none a
    // program may extend), so the item lives in the window's context menu
    // and goes through the same command as a window-menu item would.
    aboutAction_ = new QAction(QString::fromLatin1(about_menu_text), this);
    aboutAction_->setObjectName(QStringLiteral("aboutAction"));
    connect(aboutAction_, &QAction::triggered, this,
            [this] { OnSysCommand(control::about_command); });
    addAction(aboutAction_);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    // The icon of the title bar, the task bar and the minimised window.
    setWindowIcon(application_icon());
    return true;
}

bool CveskDlg::take()
{
    const std::optional<TakeFailure> failure = vesk::take(controls_, record_);
    if (!failure)
        return true;
    refuseText(*failure);
    return false;
}

void CveskDlg::refuseText(const TakeFailure& failure)
{
    // A held spin arrow would go on stepping, and refusing, behind the
    // notice.
    for (SpinButtons* spin : findChildren<SpinButtons*>())
        spin->stopRepeat();
    toolkit_.message(refusal_notice(failure.kind));
    QWidget* refused = control(failure.control);
    refused->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(refused))
        edit->selectAll();
}

void CveskDlg::showRecord()
{
    vesk::show(record_, controls_);
}

void CveskDlg::OnSysCommand(unsigned id)
{
    if ((id & control::window_command_mask) == control::about_command)
        OnAbout();
}

void CveskDlg::OnAbout()
{
    CAboutDlg about(this);
    about.exec();
}

void CveskDlg::OnReset()
{
    // No take first: the record is what is reset, and the paths shown are
    // the stored ones afterwards.
    if (!toolkit_.question(reset_question))
        return;
    reset_keeping_paths(record_);
    showRecord();
    tookChange();
}

void CveskDlg::OnOK()
{
    takeChange();
}

void CveskDlg::takeChange()
{
    if (take())
        tookChange();
}

void CveskDlg::tookChange()
{
    if (listen_)
        listen_->setParams(engine_params(record_));
}

void CveskDlg::OnCancel()
{
    take();
    if (!toolkit_.question(quit_question))
        return;
    // A run left to itself would be cut off when the program ends.  It is
    // asked to stop (the engine writes its output under a temporary name and
    // renames it only on success, so nothing half-written stays), and its
    // hand-overs are served until its worker has finished.
    stopForGood();
    QDialog::reject();
}

void CveskDlg::OnProcess()
{
    // One run at a time, and the engine's parameters must not change under
    // a run.
    waitForRunEnd();
    if (quitting_ || !take())
        return;
    // The whole output is what a run gives: the preview gives way to it.
    if (listen_)
        listen_->setLive(false);
    startRun();
}

void CveskDlg::processFromBatch()
{
    // A batch file's second "process" waits here for the first run.  What
    // the user takes into the record meanwhile must not replace what the
    // file gave: the record as it stands at the command is the one run.
    const ParamRecord given = record_;
    waitForRunEnd();
    if (quitting_)
        return;
    record_ = given;
    showRecord();
    startRun();
}

void CveskDlg::startRun()
{
    engine_.params = engine_params(record_);
    if (!engine_.check_params())
        return;

    // A stop request from the run before is spent.  It is cleared before
    // the Processing window exists, the only way to ask this run to stop
    // (quitting goes through it too), and the worker never clears it: a
    // request made from the window's first moment on stands.
    engine_.stopflag = 0;
    procinfo_->Create(this);
    procinfo_->title = processing_title;
    procinfo_->clearLog();
    procinfo_->UpdateData();
    procinfo_->ShowWindow();
    enableRunButtons(false);
    workerRunning_ = true;
    toolkit_.start_thread([this] { run_worker(); });
}

void CveskDlg::run_worker()
{
    const RunOutcome outcome = run_worker_steps(engine_, [this] {
        // The output is written: the windows that show it read it while
        // "--- DONE ---" stays up, not after.
        toolkit_.call_on_ui([this] { OnOutputWritten(); });
        toolkit_.pause(done_pause_ms);
    });
    toolkit_.call_on_ui([this, outcome] {
        runSucceeded_ = outcome == RunOutcome::done;
        ranOnce_ = true;
        procinfo_->OnRunDone();
    });
    // The last touch of this window: once false, the window may go.
    workerRunning_ = false;
}

void CveskDlg::OnOutputWritten()
{
    // The run's files and parameters (its speed-t maps the two files'
    // times), which the worker no longer touches and waits meanwhile.
    const Params& run = engine_.params;
    if (listen_ && listen_->isVisible())
        listen_->setFiles(run.inpwavname.value_or(""), run.outwavname.value_or(""), run.varispeedt);
    showSpectra(run);
}

void CveskDlg::waitForRunEnd()
{
    if (!runUnderWay())
        return;
    // A local loop keeps the windows responsive and, above all, serves the
    // worker's synchronous hand-overs, without which it could never end.
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [this, &loop] {
        if (!runUnderWay())
            loop.quit();
    });
    poll.start(worker_poll_ms);
    loop.exec();
}

void CveskDlg::enableRunButtons(bool enable)
{
    ui_->processButton->setEnabled(enable);
    ui_->openButton->setEnabled(enable);
    // The output is being written, and the engine's parameters are the
    // worker's, until the run ends.
    ui_->spectraButton->setEnabled(enable);
}

void CveskDlg::OnOpen()
{
    // Between the end of one run and the start of the next that a batch file
    // asks for, "Open..." is briefly enabled; a second file is not read into
    // the middle of the first.
    if (readingBatch_)
        return;
    const std::optional<std::string> path = toolkit_.choose_file(choices::open_batch(batchFolder_));
    if (!path)
        return;
    batchFolder_ = std::filesystem::path(*path).parent_path().string();
    readBatchFile(*path);
}

void CveskDlg::readBatchFile(const std::string& path)
{
    std::string text;
    if (!batch::load_file(path, text)) {
        toolkit_.message(cannot_open_batch);
        return;
    }
    readingBatch_ = true;
    batch::BatchStream stream(std::move(text));
    batch::BatchActions actions;
    actions.process = [this] { processFromBatch(); };
    actions.show = [this] { showRecord(); };
    batch::read_batch(stream, record_, actions);
    readingBatch_ = false;
    tookChange();
}

void CveskDlg::OnSave()
{
    if (!take())
        return;
    const std::optional<std::string> path = toolkit_.choose_file(choices::save_batch());
    if (!path)
        return;
    if (!write_whole_file(*path, batch::write_batch(record_)))
        toolkit_.message(cannot_save_batch);
}

void CveskDlg::browse(std::string ParamRecord::*path, const FileChoice& choice)
{
    take();
    if (const std::optional<std::string> chosen = toolkit_.choose_file(choice))
        usePath(path, *chosen);
}

void CveskDlg::usePath(std::string ParamRecord::*path, const std::string& chosen)
{
    // The edit could not hold a longer path, and the next take would run
    // with a cut one: the path before stays.
    if (character_count(chosen) > max_path_length) {
        toolkit_.message("Please choose a path of no more than " + std::to_string(max_path_length)
                         + " characters.");
        return;
    }
    record_.*path = chosen;
    showRecord();
    tookChange();
}

void CveskDlg::OnBrowseInput()
{
    take();
    // Any audio file: one that a run does not take is offered for conversion.
    if (const std::optional<std::string> chosen = toolkit_.choose_file(choices::input_wav()))
        import_->takeInput(*chosen);
}

void CveskDlg::OnBrowseOutput()
{
    browse(&ParamRecord::outwavname, choices::output_wav());
}

void CveskDlg::play(const std::string ParamRecord::*path)
{
    take();
    toolkit_.play(record_.*path);
}

void CveskDlg::OnPlayInput()
{
    play(&ParamRecord::inpwavname);
}

void CveskDlg::OnPlayOutput()
{
    play(&ParamRecord::outwavname);
}

void CveskDlg::OnInfo()
{
    take();
    InputInfo info;
    const InputInfoResult result = read_input_info(record_.inpwavname, info);
    if (result == InputInfoResult::ok) {
        CInpinfoDlg dialog(format_input_info(info), this);
        dialog.exec();
    }
    // A file that a run does not take but a conversion reads: what it is,
    // and the offer to convert it.
    if (import_->offerFromInfo(record_.inpwavname, result == InputInfoResult::ok))
        return;
    if (result != InputInfoResult::ok)
        toolkit_.message(input_info_message(result));
}

void CveskDlg::takeDrop(const std::vector<std::string>& paths)
{
    const DropKind kind = classify_drop(paths, runUnderWay() || readingBatch_);
    if (kind == DropKind::audio) {
        take();
        import_->takeInput(paths.front());
    } else if (kind == DropKind::batch) {
        readBatchFile(paths.front());
    } else {
        toolkit_.message(drop_refusal(kind));
    }
}

void CveskDlg::OnListen()
{
    take();
    if (!listen_) {
        listen_ = std::make_unique<ListenDlg>(toolkit_, this);
        place_beside_main(listen_.get(), this);
        // An open Spectra window follows the live preview.
        listen_->previewChanged = [this] {
            if (spectra_ && spectra_->isVisible())
                spectra_->setPreview(listen_->previewInput(), listen_->previewRendering());
        };
    }
    listen_->setFiles(record_.inpwavname, record_.outwavname, record_.varispeedt, [this](const std::string& message) {
        if (!message.empty())
            toolkit_.message(message);
    });
    tookChange();
    listen_->show();
    listen_->raise();
    listen_->activateWindow();
}

void CveskDlg::OnSpectra()
{
    take();
    // After a run of these files the engine holds its parameters as the
    // chain used them; otherwise the record's are the best guess.
    const Params& last = engine_.params;
    const bool same_files = ranOnce_ && last.inpwavname == record_.inpwavname && last.outwavname == record_.outwavname;
    showSpectra(same_files ? last : engine_params(record_));
    spectra_->raise();
    spectra_->activateWindow();
}

void CveskDlg::showSpectra(const Params& run)
{
    if (!spectra_) {
        spectra_ = std::make_unique<SpectraDlg>(toolkit_, this);
        place_beside_main(spectra_.get(), this);
        // Opened by a run's end, it leaves the keys where the user was.
        spectra_->setAttribute(Qt::WA_ShowWithoutActivating);
    }
    spectra_->setRun(run.inpwavname.value_or(""), run.outwavname.value_or(""), run);
    if (listen_ && listen_->previewRendering())
        spectra_->setPreview(listen_->previewInput(), listen_->previewRendering());
    // Shown when closed; an open one is only refreshed, not raised over the
    // window the user is working in.
    spectra_->show();
}

void CveskDlg::reject()
{
    OnCancel();
}

void CveskDlg::keyPressEvent(QKeyEvent* event)
{
    // No button is the default, so Enter only takes the controls and the
    // window stays open; a push button that has the focus is pressed by it.
    const bool plain = event->modifiers() == Qt::NoModifier
                       || event->modifiers() == Qt::KeypadModifier;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            button->click();
        else
            OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CveskDlg::OnSemitoneStep(double ParamRecord::*field, int d)
{
    take();
    record_.*field = semitone_step(record_.*field, d);
    showRecord();
    tookChange();
}

void CveskDlg::OnBitnrStep(int d)
{
    take();
    record_.bitnr = bitnr_step(record_.bitnr, d);
    showRecord();
    tookChange();
}

void CveskDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    layOutClientArea(event->size());
}

void CveskDlg::layOutClientArea(QSize window)
{
    QScrollBar* vbar = ui_->verticalScrollBar;
    QScrollBar* hbar = ui_->horizontalScrollBar;
    const int vwidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, vbar);
    const int hheight = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, hbar);

    // The client area is what the bars leave, and a bar that appears can
    // make the other one necessary: settle which bars are shown first.
    // Until the design size is known the whole window is client area.
    bool vshown = false;
    bool hshown = false;
    for (int round = 0; round < 3 && scroll_.fullwidth > 0; ++round) {
        const int cx = window.width() - (vshown ? vwidth : 0);
        const int cy = window.height() - (hshown ? hheight : 0);
        const bool v = scroll_.fullheight > cy;
        const bool h = scroll_.fullwidth > cx;
        if (v == vshown && h == hshown)
            break;
        vshown = v;
        hshown = h;
    }
    const int cx = std::max(0, window.width() - (vshown ? vwidth : 0));
    const int cy = std::max(0, window.height() - (hshown ? hheight : 0));
    ui_->viewport->setGeometry(0, 0, cx, cy);
    vbar->setGeometry(cx, 0, vwidth, cy);
    hbar->setGeometry(0, cy, cx, hheight);
    OnSize(cx, cy);
}

void CveskDlg::OnSize(int cx, int cy)
{
    const ScrollBarSettings settings = scroll_size_event(scroll_, cx, cy);
    apply(ui_->verticalScrollBar, settings.vertical);
    apply(ui_->horizontalScrollBar, settings.horizontal);
    placeContent();
}

void CveskDlg::OnVScroll(int action)
{
    scrollWith(ui_->verticalScrollBar, action, scroll_vertical, scroll_.vscrollpos);
}

void CveskDlg::OnHScroll(int action)
{
    scrollWith(ui_->horizontalScrollBar, action, scroll_horizontal, scroll_.hscrollpos);
}

void CveskDlg::scrollWith(QScrollBar* bar, int action, ScrollFunction scroll, const int& position)
{
    if (const std::optional<ScrollCode> code = scroll_code(action))
        scroll(scroll_, *code, bar->sliderPosition());
    // The bar has already moved its thumb by its own step; it is put where
    // the content now is.
    bar->setSliderPosition(position);
    placeContent();
}

void CveskDlg::placeContent()
{
    ui_->content->move(-scroll_.hscrollpos, -scroll_.vscrollpos);
}

void CveskDlg::wheelEvent(QWheelEvent* event)
{
    // The wheel anywhere over the window scrolls it, as over its bar.
    QScrollBar* bar = ui_->verticalScrollBar->isVisible() ? ui_->verticalScrollBar
                                                          : ui_->horizontalScrollBar;
    if (bar->isVisible())
        QCoreApplication::sendEvent(bar, event);
    else
        QDialog::wheelEvent(event);
}

} // namespace vesk

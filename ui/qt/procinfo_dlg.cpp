#include "ui/qt/procinfo_dlg.h"

#include <QKeyEvent>
#include <algorithm>
#include <cmath>
#include <QLabel>
#include <QProgressBar>

#include "ui/qt/dialog_units.h"
#include "ui/qt/fixed_font.h"
#include "ui/qt/window_places.h"
#include "ui_procinfo_dialog.h"

namespace vesk {

namespace {

const char* const stopping_title = "Stopping, please wait ...";

} // namespace

ProcinfoWindow::ProcinfoWindow(CProcinfoDlg& owner, QWidget* parent)
    : QDialog(parent)
    , owner_(owner)
    , ui_(std::make_unique<Ui::CProcinfoDlg>())
{
    ui_->setupUi(this);
    // A fixed frame with a close box (the stop request) and nothing else.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setModal(false);
    setFixedSize(scale_to_units(this, dialog_units(font())));
}

ProcinfoWindow::~ProcinfoWindow() = default;

QLabel* ProcinfoWindow::titleLabel() const
{
    return ui_->titleLabel;
}

QLabel* ProcinfoWindow::logLabel() const
{
    return ui_->logLabel;
}

QProgressBar* ProcinfoWindow::progressBar() const
{
    return ui_->progressBar;
}

QLabel* ProcinfoWindow::timeLeftLabel() const
{
    return ui_->timeLeftLabel;
}

void ProcinfoWindow::reject()
{
    // The close box comes here too (QDialog's close event rejects, and keeps
    // the window when it is still visible afterwards).
    owner_.OnCancel();
}

void ProcinfoWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        owner_.OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}

CProcinfoDlg::CProcinfoDlg(std::atomic<int>& stopflag, std::function<void()> runEnded)
    : stopflag_(stopflag)
    , runEnded_(std::move(runEnded))
{
}

CProcinfoDlg::~CProcinfoDlg()
{
    delete window_;
}

void CProcinfoDlg::Create(QWidget* parent)
{
    DestroyWindow();
    window_ = new ProcinfoWindow(*this, parent);
    if (place_)
        window_->move(*place_);
    else if (parent != nullptr)
        place_beside_main(window_, parent);
    OnInitDialog();
}

void CProcinfoDlg::OnInitDialog()
{
    logfont = fixed_pitch_font();
    window_->logLabel()->setFont(logfont);
}

void CProcinfoDlg::DestroyWindow()
{
    if (!window_)
        return;
    if (window_->isVisible())
        place_ = window_->pos();
    // The keys go back to the window the run was started from, not to
    // whichever window the desktop picks.
    QWidget* owner = window_->isActiveWindow() ? window_->parentWidget() : nullptr;
    window_->hide();
    delete window_;
    if (owner != nullptr)
        owner->activateWindow();
}

void CProcinfoDlg::UpdateData()
{
    if (!window_)
        return;
    window_->titleLabel()->setText(QString::fromStdString(title));
    window_->logLabel()->setText(QString::fromStdString(logtext));
    // The bar in tenths of a percent, rounded down like the percentage, so
    // it is full only for a finished run.
    window_->progressBar()->setValue(static_cast<int>(std::floor(std::clamp(progress, 0.0, 1.0) * 1000.0)));
    window_->timeLeftLabel()->setText(progress > 0 && clock.settled()
                                          ? QString::fromStdString(time_left_text(progress, clock.elapsed_seconds()))
                                          : QString());
}

void CProcinfoDlg::ShowWindow()
{
    if (window_)
        window_->show();
}

void CProcinfoDlg::clearLog()
{
    loglines.clear();
    logtext.clear();
    logline.clear();
    progress = 0;
    clock.start();
}

void CProcinfoDlg::OnProgress(double fraction)
{
    progress = fraction;
    clock.count_report();
    UpdateData();
}

void CProcinfoDlg::OnLogLine()
{
    loglines.append(logline);
    logtext = loglines.joined();
    UpdateData();
}

void CProcinfoDlg::OnRunDone()
{
    stopflag_ = 1;
    DestroyWindow();
    if (runEnded_)
        runEnded_();
}

void CProcinfoDlg::OnCancel()
{
    stopflag_ = 1;
    title = stopping_title;
    UpdateData();
}

} // namespace vesk

#include "ui/qt/qt_toolkit.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <QUrl>
#include <chrono>
#include <thread>

namespace vesk {

QtToolkit::QtToolkit(QWidget* owner)
    : owner_(owner)
{
}

QString QtToolkit::caption()
{
    return QCoreApplication::applicationName();
}

bool QtToolkit::onUiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void QtToolkit::message(const std::string& text)
{
    // A worker's message is shown by the user-interface thread, which owns
    // every window; the worker waits in call_on_ui until it is dismissed.
    call_on_ui([&] {
        QMessageBox box(QMessageBox::NoIcon, caption(), QString::fromStdString(text),
                        QMessageBox::Ok, owner_);
        box.exec();
    });
}

bool QtToolkit::question(const std::string& text)
{
    bool yes = false;
    call_on_ui([&] {
        QMessageBox box(QMessageBox::NoIcon, caption(), QString::fromStdString(text),
                        QMessageBox::Yes | QMessageBox::No, owner_);
        // No is the default: a hasty Enter must not reset or quit.
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        yes = box.exec() == QMessageBox::Yes;
    });
    return yes;
}

QStringList QtToolkit::nameFilters(const std::string& filter)
{
    QStringList entries;
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // Qt reads the patterns from the parentheses at the end of an entry,
        // separated by spaces; a description that already ends with them
        // (written with ';' as in the filter, or with spaces) shows them
        // once.
        const QString description = QString(parts[i]).replace(QLatin1Char(';'), QLatin1Char(' '));
        if (description.isEmpty())
            break;
        const QString patterns = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString tail = QLatin1Char('(') + patterns + QLatin1Char(')');
        entries << (description.endsWith(tail) ? description
                                               : description + QLatin1Char(' ') + tail);
    }
    return entries;
}

std::optional<std::string> QtToolkit::choose_file(const FileChoice& choice)
{
    std::optional<std::string> chosen;
    call_on_ui([&] {
        QFileDialog dialog(owner_, QString::fromStdString(choice.title));
        dialog.setAcceptMode(choice.kind == FileChooserKind::save ? QFileDialog::AcceptSave
                                                                  : QFileDialog::AcceptOpen);
        // Saving never asks before replacing: the file is only written by a
        // later action.
        const QFileDialog::FileMode mode = choice.kind == FileChooserKind::folder ? QFileDialog::Directory
                                           : choice.existing_only                ? QFileDialog::ExistingFile
                                                                                 : QFileDialog::AnyFile;
        dialog.setFileMode(mode);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        dialog.setNameFilters(nameFilters(choice.filter));
        QString extension = QString::fromStdString(choice.default_extension);
        if (extension.startsWith(QLatin1Char('.')))
            extension.remove(0, 1);
        dialog.setDefaultSuffix(extension);
        if (!choice.folder.empty())
            dialog.setDirectory(QString::fromStdString(choice.folder));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath().toStdString();
    });
    return chosen;
}

void QtToolkit::start_thread(std::function<void()> work)
{
    std::thread(std::move(work)).detach();
}

void QtToolkit::call_on_ui(const std::function<void()>& call)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || onUiThread()) {
        call();
        return;
    }
    // Blocking: the caller's data (often on its stack) stays valid until
    // the call has run, and lines handed over arrive in order.
    QMetaObject::invokeMethod(app, [&call] { call(); }, Qt::BlockingQueuedConnection);
}

void QtToolkit::play(const std::string& path)
{
    // A relative path means the working folder, as for the run itself; the
    // desktop is given an absolute one because URLs have no working folder.
    const QString absolute = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
    QDesktopServices::openUrl(QUrl::fromLocalFile(absolute));
}

void QtToolkit::pause(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace vesk

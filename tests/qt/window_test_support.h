// Helpers for driving the real windows in tests.
#pragma once

#include <QApplication>
#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace vesk::testing {

// Runs `handle` on the first modal window of type W to appear (an About
// box, a message box, a file dialog) and leaves closing it to `handle`.
// Call before the action that opens the window: its own event loop runs
// the check.  Returns a flag that tells whether it was ever seen.
template <typename W>
std::shared_ptr<bool> whenModalAppears(std::function<void(W*)> handle)
{
    auto seen = std::make_shared<bool>(false);
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, seen, tries, handle] {
        if (auto* window = qobject_cast<W*>(QApplication::activeModalWidget())) {
            *seen = true;
            timer->stop();
            timer->deleteLater();
            handle(window);
        } else if (++*tries > 500) { // 5 s: it is not coming
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
    return seen;
}

// Saves a picture of the window to $VESK_SCREENSHOT_DIR/<name>.png when that
// variable is set, so the look can be checked by eye; returns the picture.
QImage grabWindow(QWidget* window, const QString& name);

// The pictures of several windows side by side, left to right on a plain
// background, saved the same way (in 256 colours): how the desktop looks
// with them open.
QImage grabSideBySide(const std::vector<QWidget*>& windows, const QString& name);

} // namespace vesk::testing

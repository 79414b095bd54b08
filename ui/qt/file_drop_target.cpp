#include "ui/qt/file_drop_target.h"

#include <QCursor>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

#include "ui/drop.h"
#include "ui/toolkit.h"

namespace vesk {

namespace {

FileDropTarget::Paths paths_of(const QDropEvent* event)
{
    FileDropTarget::Paths paths;
    for (const QUrl& url : event->mimeData()->urls())
        paths.push_back(url.isLocalFile() ? url.toLocalFile().toStdString() : std::string());
    return paths;
}

Qt::DropAction qt_action(DropAnswer answer)
{
    switch (answer) {
    case DropAnswer::copy:
        return Qt::CopyAction;
    case DropAnswer::link:
        return Qt::LinkAction;
    case DropAnswer::none:
        break;
    }
    return Qt::IgnoreAction;
}

void set_answer(QDropEvent* event, Qt::DropAction action)
{
    event->setDropAction(action);
    event->setAccepted(action != Qt::IgnoreAction);
}

// Whether a mouse button is held down now.  While another program drags,
// it holds the pointer, and this program hears nothing of the buttons: on
// X11 the server is asked; elsewhere the toolkit's own idea has to do.
bool button_held(const QWidget* window)
{
    // (The offscreen platform may offer an X11 interface with no server.)
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 && QGuiApplication::platformName() == QLatin1String("xcb")) {
        xcb_connection_t* connection = x11->connection();
        const std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> pointer(
            xcb_query_pointer_reply(connection, xcb_query_pointer(connection, window->winId()), nullptr), &std::free);
        constexpr uint16_t buttons = XCB_KEY_BUT_MASK_BUTTON_1 | XCB_KEY_BUT_MASK_BUTTON_2 | XCB_KEY_BUT_MASK_BUTTON_3
                                     | XCB_KEY_BUT_MASK_BUTTON_4 | XCB_KEY_BUT_MASK_BUTTON_5;
        return pointer && (pointer->mask & buttons) != 0;
    }
    return QGuiApplication::mouseButtons() != Qt::NoButton;
}

} // namespace

FileDropTarget::FileDropTarget(QWidget* window, Toolkit& toolkit, std::function<std::string(const Paths&)> refusal,
                               std::function<void(const Paths&)> take)
    : QObject(window), window_(window), toolkit_(toolkit), refusal_(std::move(refusal)), take_(std::move(take))
{
    window->setAcceptDrops(true);
    for (QWidget* child : window->findChildren<QWidget*>())
        child->setAcceptDrops(false);
    window->installEventFilter(this);
}

std::string FileDropTarget::answer(QDropEvent* event, const Paths& paths) const
{
    std::string refusal;
    DropAnswer answer = DropAnswer::none;
    if (event->mimeData()->hasUrls()) {
        refusal = refusal_(paths);
        const Qt::DropActions offered = event->possibleActions();
        answer = drop_answer({.copy = offered.testFlag(Qt::CopyAction),
                              .move = offered.testFlag(Qt::MoveAction),
                              .link = offered.testFlag(Qt::LinkAction)},
                             refusal.empty());
    }
    set_answer(event, qt_action(answer));
    return refusal;
}

bool FileDropTarget::letGoHere() const
{
    return !button_held(window_) && window_->rect().contains(window_->mapFromGlobal(QCursor::pos()));
}

void FileDropTarget::later(std::function<void()> call)
{
    QTimer::singleShot(0, window_, std::move(call));
}

bool FileDropTarget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_->windowHandle()) {
        // A drag refused as it entered leaves the window's widget unheard
        // of, even when it is let go there: only the window hears it go.
        if (event->type() == QEvent::DragLeave) {
            if (!dragRefusal_.empty() && letGoHere())
                later([this, refusal = dragRefusal_] { toolkit_.message(refusal); });
            dragRefusal_.clear();
        }
        return false;
    }
    if (watched != window_)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        if (window_->windowHandle())
            window_->windowHandle()->installEventFilter(this);
        return false;
    case QEvent::DragEnter: {
        // Decided once for the whole drag: the files are read to know what
        // they are, which is not to be done again at every move.
        auto* drag = static_cast<QDragEnterEvent*>(event);
        dragRefusal_ = answer(drag, paths_of(drag));
        action_ = drag->dropAction();
        return true;
    }
    case QEvent::DragMove:
        // The proposal changes with the keys held; the answer does not.
        set_answer(static_cast<QDropEvent*>(event), action_);
        return true;
    case QEvent::DragLeave:
        return true;
    case QEvent::Drop: {
        // Judged again: a run may have started since the drag came in.
        auto* drop = static_cast<QDropEvent*>(event);
        const Paths paths = paths_of(drop);
        const std::string refusal = answer(drop, paths);
        dragRefusal_.clear();
        if (!refusal.empty())
            later([this, refusal] { toolkit_.message(refusal); });
        else if (drop->isAccepted())
            later([this, paths] { take_(paths); });
        return true;
    }
    default:
        return false;
    }
}

} // namespace vesk

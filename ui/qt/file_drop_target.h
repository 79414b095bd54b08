// Files dragged onto a window are answered as ui/drop.h's drop_answer
// says: a copy, or a link where the source offers no copy, never a move;
// files the window would refuse get no action.  They are refused while
// they are over the window, as they enter it: the toolkit tells the source
// the action from the last answer to a drag over the window, not from the
// drop, so a drop refused only when it comes would leave the source told
// that it was taken.  Let go over the window, refused files are answered
// with the message saying why.  Every window that takes dropped files does
// so through this one target.
#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <vector>

class QDropEvent;
class QWidget;

namespace vesk {

class Toolkit;

class FileDropTarget : public QObject {
public:
    using Paths = std::vector<std::string>;

    // Makes `window` take dropped files wherever they land on it (its
    // children take none, not even an edit's text).  `refusal` says why
    // the window would refuse these files now, empty when it takes them;
    // a file that is not local comes as an empty path.  `take` takes
    // dropped files once the drop has been answered, so that the source is
    // not kept waiting on the questions, messages or runs that follow.
    FileDropTarget(QWidget* window, Toolkit& toolkit, std::function<std::string(const Paths&)> refusal,
                   std::function<void(const Paths&)> take);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Answers files dragged or dropped: accepted with the action to take
    // them by, or ignored.  Returns why they are refused (empty when they
    // are taken or are not files).
    std::string answer(QDropEvent* event, const Paths& paths) const;
    // Whether the drag that just left the window was let go over it,
    // rather than moved on or called off with the button still held.
    bool letGoHere() const;
    void later(std::function<void()> call);

    QWidget* window_;
    Toolkit& toolkit_;
    std::function<std::string(const Paths&)> refusal_;
    std::function<void(const Paths&)> take_;
    // The answer to the drag over the window, given as it entered, and why
    // its files are refused (empty when they are not).
    Qt::DropAction action_ = Qt::IgnoreAction;
    std::string dragRefusal_;
};

} // namespace vesk

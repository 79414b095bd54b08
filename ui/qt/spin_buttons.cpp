#include "ui/qt/spin_buttons.h"

#include <QResizeEvent>
#include <QToolButton>

namespace vesk {

namespace {

QToolButton* make_arrow(QWidget* parent, Qt::ArrowType arrow, const char* name)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    // The arrows step a field; they are not places for the keyboard focus,
    // which stays in the edit the user is working in.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

SpinButtons::SpinButtons(QWidget* parent)
    : QWidget(parent)
    , up_(make_arrow(this, Qt::UpArrow, "upButton"))
    , down_(make_arrow(this, Qt::DownArrow, "downButton"))
{
    // The step is taken when an arrow goes down and again at each repeat,
    // so a held arrow keeps stepping and a click steps exactly once.
    connect(up_, &QToolButton::pressed, this, [this] { emit stepped(-1); });
    connect(down_, &QToolButton::pressed, this, [this] { emit stepped(+1); });
}

void SpinButtons::stopRepeat()
{
    up_->setDown(false);
    down_->setDown(false);
}

void SpinButtons::resizeEvent(QResizeEvent* event)
{
    const int w = event->size().width();
    const int h = event->size().height();
    const int upper = h / 2;
    up_->setGeometry(0, 0, w, upper);
    down_->setGeometry(0, upper, w, h - upper);
}

} // namespace vesk

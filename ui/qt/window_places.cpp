#include "ui/qt/window_places.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>
#include <vector>

#include "ui/placement.h"

namespace vesk {

namespace {

Box box(const QRect& r)
{
    return {r.x(), r.y(), r.width(), r.height()};
}

} // namespace

void place_beside_main(QWidget* window, const QWidget* main)
{
    const QScreen* screen = main->screen();
    if (screen == nullptr)
        return;
    // A window not yet shown has no frame of its own: it will get one like
    // the main window's.
    const QRect frame = main->frameGeometry(), inside = main->geometry();
    const QSize size = window->testAttribute(Qt::WA_Resized) ? window->size() : window->sizeHint();
    std::vector<Box> others;
    for (const QWidget* top : QApplication::topLevelWidgets())
        if (top != window && top != main && top->isVisible())
            others.push_back(box(top->frameGeometry()));
    const Box place = place_beside(box(screen->availableGeometry()), box(frame),
                                   size.width() + frame.width() - inside.width(),
                                   size.height() + frame.height() - inside.height(), others);
    // A window's position is that of its frame.
    window->move(place.x, place.y);
}

} // namespace vesk

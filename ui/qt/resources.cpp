#include "ui/qt/resources.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// Q_INIT_RESOURCE names a function at global scope, so it cannot be called
// from inside the namespace.
static void init_vesk_resources()
{
    Q_INIT_RESOURCE(vesk);
}

namespace vesk {

void use_resources()
{
    static const bool done = [] {
        init_vesk_resources();
        return true;
    }();
    (void)done;
}

QImage render_svg(const QString& file, QSize size)
{
    QSvgRenderer renderer(file);
    if (!renderer.isValid())
        return QImage();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return image;
}

QIcon application_icon()
{
    use_resources();
    // Drawn here rather than left to an icon-engine plugin, which a desktop
    // may not have installed: the window and task bar icons must not vanish.
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(render_svg(app_icon_resource, QSize(side, side))));
    return icon;
}

} // namespace vesk

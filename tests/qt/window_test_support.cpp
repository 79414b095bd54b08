#include "window_test_support.h"

#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

namespace vesk::testing {

namespace {

QImage saved(const QImage& picture, const QString& name)
{
    const QString dir = qEnvironmentVariable("VESK_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(dir);
        picture.save(QDir(dir).filePath(name + QStringLiteral(".png")));
    }
    return picture;
}

} // namespace

QImage grabWindow(QWidget* window, const QString& name)
{
    return saved(window->grab().toImage(), name);
}

QImage grabSideBySide(const std::vector<QWidget*>& windows, const QString& name)
{
    const int gap = 16;
    std::vector<QImage> pictures;
    int width = gap;
    int height = 0;
    for (QWidget* window : windows) {
        pictures.push_back(window->grab().toImage());
        width += pictures.back().width() + gap;
        height = std::max(height, pictures.back().height());
    }
    QImage all(width, height + 2 * gap, QImage::Format_RGB32);
    all.fill(QColor(0x80, 0x80, 0x80));
    QPainter painter(&all);
    int x = gap;
    for (const QImage& picture : pictures) {
        painter.drawImage(x, gap, picture);
        x += picture.width() + gap;
    }
    painter.end();
    // Window pictures have few colours: a palette keeps the file small
    // enough to go into the repository as documentation.
    return saved(all.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither), name);
}

} // namespace vesk::testing

#include "window_test_support.h"

#include <QDir>
#include <QPixmap>

namespace vesk::testing {

QImage grabWindow(QWidget* window, const QString& name)
{
    const QImage picture = window->grab().toImage();
    const QString dir = qEnvironmentVariable("VESK_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(dir);
        picture.save(QDir(dir).filePath(name + QStringLiteral(".png")));
    }
    return picture;
}

} // namespace vesk::testing

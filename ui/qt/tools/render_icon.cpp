// Draws the application icon's SVG as the PNG sizes that desktops without
// SVG support look for; run by the build.
//
// usage: vesk-render-icon SVG PNG SIDE
#include <QGuiApplication>
#include <QImage>
#include <QString>
#include <cstdio>

#include "ui/qt/resources.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: vesk-render-icon SVG PNG SIDE\n");
        return 2;
    }
    // Needs no display: the drawing is done in memory.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int side = QString::fromLocal8Bit(argv[3]).toInt();
    if (side <= 0) {
        std::fprintf(stderr, "vesk-render-icon: bad size %s\n", argv[3]);
        return 2;
    }
    const QImage image = vesk::render_svg(QString::fromLocal8Bit(argv[1]), QSize(side, side));
    if (image.isNull()) {
        std::fprintf(stderr, "vesk-render-icon: cannot read %s as SVG\n", argv[1]);
        return 1;
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "vesk-render-icon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}

// The pictures the windows show, compiled into the program.
#pragma once

#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>

namespace vesk {

// Resource paths.
inline const QString app_icon_resource = QStringLiteral(":/vesk/vesk.svg");
inline const QString chain_picture_resource = QStringLiteral(":/vesk/chain.svg");

// Makes the compiled-in resources reachable.  They live in a static library,
// whose registration the linker would otherwise drop; every window that
// uses them calls this first.
void use_resources();

// The application icon, drawn from its SVG at the sizes desktops ask for.
QIcon application_icon();

// An SVG file drawn into a transparent image of the given size; a null
// image when the file cannot be read as SVG.
QImage render_svg(const QString& file, QSize size);

} // namespace vesk

#include "ui/qt/screen_colormap.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QWindow>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace vesk {

namespace {

void adopt_default_colormap(xcb_connection_t* connection, xcb_window_t window)
{
    const auto attributes_cookie = xcb_get_window_attributes(connection, window);
    const auto geometry_cookie = xcb_get_geometry(connection, window);
    const std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(connection, attributes_cookie, nullptr), &std::free);
    const std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
        xcb_get_geometry_reply(connection, geometry_cookie, nullptr), &std::free);
    if (!attributes || !geometry)
        return;
    for (auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection)); screens.rem;
         xcb_screen_next(&screens)) {
        const xcb_screen_t& screen = *screens.data;
        if (screen.root != geometry->root)
            continue;
        // A window of another visual (one with an alpha channel, say) needs
        // a colormap of that visual.
        if (attributes->visual == screen.root_visual && attributes->colormap != screen.default_colormap) {
            const uint32_t colormap = screen.default_colormap;
            xcb_change_window_attributes(connection, window, XCB_CW_COLORMAP, &colormap);
            xcb_flush(connection);
        }
        return;
    }
}

// Catches each window as the platform creates it, before it is shown.
class ColormapFilter : public QObject {
public:
    ColormapFilter(QObject* parent, xcb_connection_t* connection)
        : QObject(parent), connection_(connection)
    {
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::PlatformSurface
            && static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType()
                   == QPlatformSurfaceEvent::SurfaceCreated) {
            if (auto* window = qobject_cast<QWindow*>(object))
                adopt_default_colormap(connection_, static_cast<xcb_window_t>(window->winId()));
        }
        return false;
    }

private:
    xcb_connection_t* connection_;
};

} // namespace

void use_screen_colormaps(QGuiApplication& app)
{
    const auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr)
        return;
    app.installEventFilter(new ColormapFilter(&app, x11->connection()));
}

} // namespace vesk

// A drag source for the checks on a real display, as a file manager is one:
// a small window in the bottom right corner of the screen that, at each
// press of the mouse button on it, drags the next file named on its command
// line, offering copy, move and link (so it proposes a move), and prints the
// action the drag ended with: "copy", "move", "link" or "none".
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QScreen>
#include <QUrl>
#include <QWidget>
#include <cstdio>

namespace {

const char* action_name(Qt::DropAction action)
{
    switch (action) {
    case Qt::CopyAction:
        return "copy";
    case Qt::MoveAction:
        return "move";
    case Qt::LinkAction:
        return "link";
    default:
        return "none";
    }
}

class DragSource : public QWidget {
public:
    explicit DragSource(QStringList files) : files_(std::move(files)) {}

protected:
    void mousePressEvent(QMouseEvent*) override
    {
        if (files_.isEmpty())
            return;
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(files_.takeFirst())});
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        std::printf("%s\n", action_name(drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction)));
        std::fflush(stdout);
    }

private:
    QStringList files_;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    DragSource source(app.arguments().mid(1));
    source.setWindowTitle(QStringLiteral("drag source"));
    const QRect screen = app.primaryScreen()->geometry();
    source.setGeometry(screen.right() - 160, screen.bottom() - 160, 120, 120);
    source.show();
    return app.exec();
}

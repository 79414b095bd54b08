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

class DragSource : public QWidget {
public:
    QStringList files;

protected:
    void mousePressEvent(QMouseEvent*) override
    {
        if (files.isEmpty())
            return;
        auto* drag = new QDrag(this);
        drag->setMimeData(new QMimeData);
        drag->mimeData()->setUrls({QUrl::fromLocalFile(files.takeFirst())});
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
        std::printf("%s\n", action == Qt::CopyAction   ? "copy"
                            : action == Qt::MoveAction ? "move"
                            : action == Qt::LinkAction ? "link"
                                                       : "none");
        std::fflush(stdout);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    DragSource source;
    source.files = app.arguments().mid(1);
    source.setWindowTitle(QStringLiteral("drag source"));
    const QRect screen = app.primaryScreen()->geometry();
    source.setGeometry(screen.right() - 160, screen.bottom() - 160, 120, 120);
    source.show();
    return app.exec();
}

// A pair of arrow buttons without an edit box of their own: the window's
// spin buttons, which step a field that is shown in an edit beside them.
#pragma once

#include <QWidget>

class QToolButton;

namespace vesk {

class SpinButtons : public QWidget {
    Q_OBJECT
public:
    explicit SpinButtons(QWidget* parent = nullptr);

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

    // Lets go of an arrow held down, so that its repeat stops: a step that
    // opens a modal notice must not keep stepping behind it.
    void stopRepeat();

signals:
    // The signed step of one press or one repeat: -1 from the upper arrow,
    // +1 from the lower arrow.
    void stepped(int d);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* up_;
    QToolButton* down_;
};

} // namespace vesk

// The main window: the parameter record in edits, check boxes and spin
// buttons, with the buttons of every action.  The program runs it modally
// from start to end.
#pragma once

#include <QDialog>
#include <memory>

#include "ui/exchange.h"
#include "ui/params.h"
#include "ui/qt/widget_controls.h"
#include "ui/scrolling.h"
#include "ui/toolkit.h"

namespace Ui {
class CveskDlg;
}

class QAction;
class QScrollBar;

namespace vesk {

class CveskDlg : public QDialog {
    Q_OBJECT
public:
    explicit CveskDlg(Toolkit& toolkit, QWidget* parent = nullptr);
    ~CveskDlg() override;

    ParamRecord& record() { return record_; }
    const ParamRecord& record() const { return record_; }
    Toolkit& toolkit() { return toolkit_; }

    // Controls to record.  A text that does not parse stops the exchange
    // there: the user is told, the focus goes to that control, and false is
    // returned (the fields before it have been updated all the same).
    bool take();
    // Record to controls.
    void showRecord();

    // A control by its identifier (ui/control_ids.h); null if there is none.
    QWidget* control(int id) const { return controls_.widget(id); }

    // The viewport-sized part of the window that scrolls, and its state.
    QWidget* content() const;
    const ScrollState& scrollState() const { return scroll_; }

    // The window-menu command: 16 opens the About box.
    void OnSysCommand(unsigned id);
    void OnAbout();
    void OnReset();
    // Enter: take, and nothing else.
    void OnOK();
    // Quit, Escape and the close box: take, then ask before the window ends.
    void OnCancel();

protected:
    bool OnInitDialog();
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void OnSemitoneStep(double ParamRecord::*field, int d);
    void OnBitnrStep(int d);
    void OnSize(int cx, int cy);
    void OnVScroll(int action);
    void OnHScroll(int action);
    using ScrollFunction = std::optional<int> (*)(ScrollState&, ScrollCode, int);
    void scrollWith(QScrollBar* bar, int action, ScrollFunction scroll, const int& position);

    void buildControlTable();
    void connectHandlers();
    void layOutClientArea(QSize window);
    void placeContent();
    void refuseText(const TakeFailure& failure);

    std::unique_ptr<Ui::CveskDlg> ui_;
    Toolkit& toolkit_;
    ParamRecord record_;
    ScrollState scroll_;
    WidgetControls controls_;
    QAction* aboutAction_ = nullptr;
};

} // namespace vesk

// The About box: the product, its version and its makers.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class CAboutDlg;
}

namespace vesk {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::CAboutDlg> ui_;
};

} // namespace vesk

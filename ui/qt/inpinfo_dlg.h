// The "Input WAV info" window: the input file's format in five lines.
#pragma once

#include <QDialog>
#include <QFont>
#include <memory>
#include <string>

namespace Ui {
class CInpinfoDlg;
}

class QLabel;

namespace vesk {

class CInpinfoDlg : public QDialog {
    Q_OBJECT
public:
    // `facts` is the text shown, as format_input_info writes it.
    CInpinfoDlg(std::string facts, QWidget* parent = nullptr);
    ~CInpinfoDlg() override;

    QLabel* infoLabel() const;

private:
    void OnInitDialog();
    void fitToText();

    std::unique_ptr<Ui::CInpinfoDlg> ui_;
    std::string facts_;
    QFont infofont;
};

} // namespace vesk

#include "ui/qt/inpinfo_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "ui/qt/dialog_units.h"
#include "ui/qt/fixed_font.h"
#include "ui_inpinfo_dialog.h"

namespace vesk {

CInpinfoDlg::CInpinfoDlg(std::string facts, QWidget* parent)
    : QDialog(parent)
    , ui_(std::make_unique<Ui::CInpinfoDlg>())
    , facts_(std::move(facts))
{
    ui_->setupUi(this);
    // A fixed frame with a close box and nothing else (no help button).
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    scale_to_units(this, dialog_units(font()));
    OnInitDialog();
}

CInpinfoDlg::~CInpinfoDlg() = default;

QLabel* CInpinfoDlg::infoLabel() const
{
    return ui_->infoLabel;
}

void CInpinfoDlg::OnInitDialog()
{
    // The facts in the desktop's normal size, not a small print.
    infofont = fixed_pitch_font(QApplication::font().pointSizeF());
    ui_->infoLabel->setFont(infofont);
    ui_->infoLabel->setWordWrap(false);
    ui_->infoLabel->setText(QString::fromStdString(facts_));
    fitToText();
}

void CInpinfoDlg::fitToText()
{
    // The box is as large as the text and the button need, with the
    // layout's own margins around them and the layout's gap between them.
    QLabel* label = ui_->infoLabel;
    QPushButton* ok = ui_->okButton;
    const int margin = label->x();
    const int gap = ok->y() - label->geometry().bottom();
    label->resize(label->sizeHint());
    const int width = std::max(label->width(), ok->width()) + 2 * margin;
    ok->move((width - ok->width()) / 2, label->geometry().bottom() + gap);
    setFixedSize(width, ok->geometry().bottom() + 1 + margin);
}

} // namespace vesk

#include "ui/qt/inpinfo_dlg.h"

#include <QLabel>

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
    setFixedSize(scale_to_units(this, dialog_units(font())));
    OnInitDialog();
}

CInpinfoDlg::~CInpinfoDlg() = default;

QLabel* CInpinfoDlg::infoLabel() const
{
    return ui_->infoLabel;
}

void CInpinfoDlg::OnInitDialog()
{
    infofont = fixed_pitch_font();
    ui_->infoLabel->setFont(infofont);
    ui_->infoLabel->setText(QString::fromStdString(facts_));
}

} // namespace vesk

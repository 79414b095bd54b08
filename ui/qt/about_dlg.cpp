#include "ui/qt/about_dlg.h"

#include <algorithm>

#include "ui/qt/dialog_units.h"
#include "ui/qt/resources.h"
#include "ui_about_dialog.h"

namespace vesk {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent)
    , ui_(std::make_unique<Ui::CAboutDlg>())
{
    ui_->setupUi(this);
    // A fixed frame with a close box and nothing else (no help button).
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(scale_to_units(this, dialog_units(font())));
    const QIcon icon = application_icon();
    const int side = std::min(ui_->iconLabel->width(), ui_->iconLabel->height());
    ui_->iconLabel->setPixmap(icon.pixmap(QSize(side, side)));
    setWindowIcon(icon);
    ui_->versionLabel->setText(QStringLiteral("Vesk (Version %1)").arg(QStringLiteral(VESK_VERSION)));
}

CAboutDlg::~CAboutDlg() = default;

} // namespace vesk

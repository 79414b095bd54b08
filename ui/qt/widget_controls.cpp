#include "ui/qt/widget_controls.h"

#include <QAbstractButton>
#include <QLineEdit>

namespace vesk {

namespace {

template <typename Widget>
Widget* as(QWidget* widget)
{
    auto* typed = qobject_cast<Widget*>(widget);
    // The exchange only asks for the fields' own controls; any other
    // identifier is a mistake in the window's table, not a user's.
    Q_ASSERT(typed);
    return typed;
}

} // namespace

void WidgetControls::add(int control, QWidget* widget)
{
    widgets_[control] = widget;
}

QWidget* WidgetControls::widget(int control) const
{
    const auto it = widgets_.find(control);
    return it == widgets_.end() ? nullptr : it->second;
}

std::string WidgetControls::text(int control) const
{
    return as<QLineEdit>(widget(control))->text().toStdString();
}

void WidgetControls::set_text(int control, const std::string& text)
{
    auto* edit = as<QLineEdit>(widget(control));
    edit->setText(QString::fromStdString(text));
    // A number too long for its edit shows its first digits, which say
    // what it is, rather than its last ones.
    edit->setCursorPosition(0);
}

bool WidgetControls::checked(int control) const
{
    return as<QAbstractButton>(widget(control))->isChecked();
}

void WidgetControls::set_checked(int control, bool on)
{
    as<QAbstractButton>(widget(control))->setChecked(on);
}

} // namespace vesk

// The main window's controls by identifier, as the exchange reads and
// writes them: edits by their text, check boxes by their state.
#pragma once

#include <unordered_map>

#include "ui/exchange.h"

class QWidget;

namespace vesk {

class WidgetControls : public ExchangeControls {
public:
    void add(int control, QWidget* widget);
    // The widget of a control; null for an identifier the window lacks.
    QWidget* widget(int control) const;

    std::string text(int control) const override;
    void set_text(int control, const std::string& text) override;
    bool checked(int control) const override;
    void set_checked(int control, bool on) override;

private:
    std::unordered_map<int, QWidget*> widgets_;
};

} // namespace vesk

#include "optionbutton.h"

namespace unplot {

OptionButton::OptionButton(QWidget* parent) : OptionButton(QString(), parent) {}

OptionButton::OptionButton(const QString& text, QWidget* parent) : QRadioButton(text, parent)
{
    setAutoExclusive(false);
}

void OptionButton::nextCheckState()
{
    setChecked(true);
}

}  // namespace unplot

#pragma once
#include <QRadioButton>

namespace unplot {

// A radio button that a click always turns on, and that belongs to no exclusive group: the window's actions turn
// its partner off. (A plain QRadioButton that is not auto-exclusive would toggle off when clicked while on.)
class OptionButton final : public QRadioButton {
    Q_OBJECT
public:
    explicit OptionButton(QWidget* parent = nullptr);
    explicit OptionButton(const QString& text, QWidget* parent = nullptr);

protected:
    void nextCheckState() override;
};

}  // namespace unplot

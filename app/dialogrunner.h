#pragma once
// The seam between the window and its modal dialogs. The window builds each dialog completely (titles, filters,
// buttons) and hands it here to be run; tests pass their own runner that checks the dialog and answers at once.

#include <QStringList>

class QFileDialog;
class QMessageBox;

namespace unplot {

class DialogRunner {
public:
    virtual ~DialogRunner() = default;

    // Runs a message box modally; returns once it has been dismissed.
    virtual void runMessageBox(QMessageBox& box) = 0;

    // Runs a file dialog modally; returns the chosen files, or nothing when it was cancelled.
    virtual QStringList runFileDialog(QFileDialog& dialog) = 0;
};

// Runs the dialogs with exec(): what the real window uses.
class ModalDialogRunner final : public DialogRunner {
public:
    void runMessageBox(QMessageBox& box) override;
    QStringList runFileDialog(QFileDialog& dialog) override;
};

}  // namespace unplot

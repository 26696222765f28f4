#include "dialogrunner.h"

#include <QFileDialog>
#include <QMessageBox>

namespace unplot {

void ModalDialogRunner::runMessageBox(QMessageBox& box)
{
    box.exec();
}

QStringList ModalDialogRunner::runFileDialog(QFileDialog& dialog)
{
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

}  // namespace unplot

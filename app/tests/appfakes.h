#pragma once
// Fakes for the window tests: the controller tests' HTTP client and timer, which act only when the test says so,
// and a dialog runner that records each dialog the window builds and answers it at once.

#include "dialogrunner.h"
#include "fakehttpclient.h"
#include "faketimer.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <deque>
#include <memory>
#include <vector>

namespace unplot::test {

using FakeHttp = FakeHttpClient;
using FakeTimers = FakeTimerScheduler;

class RecordingDialogs final : public DialogRunner {
public:
    struct Box {
        QString text;
        QString informativeText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttons;
    };
    struct FileDialog {
        QString title;
        QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
        QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
        QStringList nameFilters;
        QFileDialog::Options options;
        QString defaultSuffix;
    };
    std::vector<Box> boxes;
    std::vector<FileDialog> fileDialogs;
    std::deque<QStringList> fileAnswers;   // one per file dialog; an empty list (or none left) cancels
    std::function<void()> whileBoxOpen;    // runs inside each message box, as the user's waiting would

    void runMessageBox(QMessageBox& box) override
    {
        Box seen{box.text(), box.informativeText(), box.icon(), {}};
        for (QAbstractButton* button : box.buttons())
            seen.buttons << button->text();
        boxes.push_back(seen);
        if (whileBoxOpen)
            whileBoxOpen();
    }
    QStringList runFileDialog(QFileDialog& dialog) override
    {
        fileDialogs.push_back({dialog.windowTitle(), dialog.acceptMode(), dialog.fileMode(), dialog.nameFilters(),
                               dialog.options(), dialog.defaultSuffix()});
        if (fileAnswers.empty())
            return {};
        QStringList answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
};

}  // namespace unplot::test

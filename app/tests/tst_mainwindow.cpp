// The conversion window with a fake service, a hand-driven timer and dialogs that are recorded and answered at once.

#include "dialogrunner.h"
#include "fakes.h"
#include "mainwindow.h"
#include "viewcontroller.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <deque>

using namespace unplot;
using namespace unplot::test;

namespace {

// Records each dialog the window builds and answers it at once.
class RecordingDialogs final : public DialogRunner {
public:
    QStringList boxes;                   // "TEXT|INFORMATIVE TEXT|ICON|BUTTONS"
    QStringList fileDialogs; // "TITLE|ACCEPT MODE|FILE MODE|FILTERS|READ-ONLY|SUFFIX|FOLDER|NAME SUGGESTED"
    std::deque<QStringList> fileAnswers; // one per file dialog; none left cancels

    void runMessageBox(QMessageBox& box) override
    {
        QStringList buttons;
        for (QAbstractButton* button : box.buttons())
            buttons << button->text();
        boxes << QStringList{box.text(), box.informativeText(), QString::number(box.icon()), buttons.join(',')}.join('|');
    }
    QStringList runFileDialog(QFileDialog& dialog) override
    {
        fileDialogs << QStringList{dialog.windowTitle(), QString::number(dialog.acceptMode()),
                                   QString::number(dialog.fileMode()), dialog.nameFilters().join(','),
                                   QString::number(dialog.testOption(QFileDialog::ReadOnly)), dialog.defaultSuffix(),
                                   dialog.directory().absolutePath(),
                                   dialog.selectedFiles().value(0).mid(dialog.directory().absolutePath().size() + 1)}
                           .join('|');
        if (fileAnswers.empty())
            return {};
        const QStringList answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FakeHttpClient> http;
    std::unique_ptr<FakeTimers> timers;
    std::unique_ptr<RecordingDialogs> dialogs;
    std::unique_ptr<MainWindow> window;

    template <typename T>
    T* child(const char* name)
    {
        auto* widget = window->findChild<T*>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    // Fills both paths and presses Convert; the upload then waits in `http`.
    void startJob()
    {
        const QString input = dir->filePath("drawing.pdf");
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly) || file.write("%PDF-1.4\n") <= 0)
            qFatal("cannot write %s", qPrintable(input));
        child<QLineEdit>("selectFilename")->setText(input);
        child<QLineEdit>("saveFilename")->setText(dir->filePath("out.zip"));
        QTest::mouseClick(child<QPushButton>("convertButton"), Qt::LeftButton);
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir->filePath("config"));
        http = std::make_unique<FakeHttpClient>();
        timers = std::make_unique<FakeTimers>();
        dialogs = std::make_unique<RecordingDialogs>();
        window = std::make_unique<MainWindow>(
            *http, *timers, ServiceConfig{"service.test:8040", dir->filePath("Documents"), "help@service.test"},
            *dialogs);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup()
    {
        window.reset();
        dialogs.reset();
        timers.reset();
        http.reset();
        dir.reset();
    }

    void startUpState()
    {
        QVERIFY(child<QRadioButton>("dwgControl")->isChecked() && child<QRadioButton>("optionAllPage")->isChecked());
        QVERIFY(!child<QRadioButton>("dxfControl")->isChecked() && !child<QRadioButton>("optionPage")->isChecked());
        QCOMPARE(child<QLabel>("statusBar")->text(), QString());
        QVERIFY(!child<QProgressBar>("statusIcon")->isVisible());
        QCOMPARE(window->controller().selectVersion(), qint64(14));
        auto* versions = child<QComboBox>("versionControl");
        QStringList entries;
        for (int i = 0; i < versions->count(); ++i)
            entries << versions->itemText(i);
        QCOMPARE(entries, (QStringList{"R14", "2000", "2004", "2007", "2010"}));
        versions->setFocus();
        QTest::keyClick(versions, Qt::Key_Down);
        QCOMPARE(window->controller().selectVersion(), qint64(15));
    }

    void optionButtonsStayExclusive_data()
    {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QString>("on"); // which of dwg, dxf, all pages, page list are on afterwards
        QTest::newRow("DXF") << QStringList{"dxfControl"} << "0110";
        QTest::newRow("DXF then DWG") << QStringList{"dxfControl", "dwgControl"} << "1010";
        QTest::newRow("DWG while on") << QStringList{"dwgControl"} << "1010";
        QTest::newRow("page list") << QStringList{"optionPage"} << "1001";
        QTest::newRow("page list twice, then all") << QStringList{"optionPage", "optionPage", "optionAllPage"} << "1010";
        QTest::newRow("space on an option that is on") << QStringList{"space"} << "1010";
    }
    void optionButtonsStayExclusive()
    {
        QFETCH(QStringList, clicks);
        for (const QString& name : clicks) {
            if (name == "space")
                QTest::keyClick(child<QRadioButton>("dwgControl"), Qt::Key_Space);
            else
                QTest::mouseClick(child<QRadioButton>(qPrintable(name)), Qt::LeftButton);
        }
        QString on;
        for (const char* name : {"dwgControl", "dxfControl", "optionAllPage", "optionPage"})
            on += child<QRadioButton>(name)->isChecked() ? '1' : '0';
        QTEST(on, "on");
    }

    // The save chooser opens beside the input with its name; the folders chosen last are remembered.
    void choosers()
    {
        const QString plans = dir->filePath("plans/a b");
        QVERIFY(QDir().mkpath(plans));
        dialogs->fileAnswers = {{plans + "/Zeichnung ä.pdf"}, {}};
        QTest::mouseClick(child<QPushButton>("selectFileButton"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>("saveFileButton"), Qt::LeftButton); // cancelled
        QCOMPARE(child<QLineEdit>("selectFilename")->text(), plans + "/Zeichnung ä.pdf");
        QCOMPARE(child<QLineEdit>("saveFilename")->text(), QString());
        QCOMPARE(dialogs->fileDialogs,
                 (QStringList{"Choose a .pdf file|0|1|PDF files (*.pdf)|1||" + QDir::homePath() + '|',
                              "Choose the output .zip file|1|0|ZIP archives (*.zip)|1|zip|" + plans + "|Zeichnung ä.zip"}));
        dialogs->fileAnswers = {{dir->filePath("new.zip")}};
        QTest::mouseClick(child<QPushButton>("saveFileButton"), Qt::LeftButton);
        QCOMPARE(child<QLineEdit>("saveFilename")->text(), dir->filePath("new.zip"));
        QVERIFY(dialogs->boxes.isEmpty() && http->uploads.empty());

        window = std::make_unique<MainWindow>(*http, *timers, ServiceConfig{}, *dialogs); // its fields empty
        QTest::mouseClick(child<QPushButton>("selectFileButton"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>("saveFileButton"), Qt::LeftButton);
        QVERIFY(dialogs->fileDialogs[3].endsWith('|' + plans + '|'));
        QVERIFY2(dialogs->fileDialogs[4].endsWith('|' + dir->path() + '|'), qPrintable(dialogs->fileDialogs[4]));
    }

    // A PDF dropped on the window is the input, and NAME.zip beside it the output when none is given.
    void dropAPdf()
    {
        const QString pdf = dir->filePath("site plan.pdf");
        QFile(pdf).open(QIODevice::WriteOnly);
        const auto drop = [this](const QString& file) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(file)});
            QDragEnterEvent enter({5, 5}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window.get(), &enter);
            QDropEvent dropped({5, 5}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window.get(), &dropped);
            return enter.isAccepted();
        };
        QVERIFY(!drop(dir->filePath("notes.txt")));
        QVERIFY(drop(pdf));
        QCOMPARE(child<QLineEdit>("selectFilename")->text(), pdf);
        QCOMPARE(child<QLineEdit>("saveFilename")->text(), dir->filePath("site plan.zip"));
        child<QLineEdit>("saveFilename")->setText("/x/chosen.zip");
        QVERIFY(drop(pdf));
        QCOMPARE(child<QLineEdit>("saveFilename")->text(), QStringLiteral("/x/chosen.zip"));
    }

    void everyControlHasAnAccessibleName()
    {
        for (QWidget* control : window->findChildren<QWidget*>()) {
            if (control->focusPolicy() != Qt::NoFocus && control->isVisible())
                QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
        }
    }

    void alertBoxes()
    {
        window->controller().dialogOKCancelWithQuestion("Oops, ", "file conversion failed.\nPlease email");
        window->controller().dialogOKCancelWithQuestion("", "");
        QCOMPARE(dialogs->boxes, (QStringList{"|Oops,  file conversion failed.\nPlease email|2|OK", "| |2|OK"}));
    }

    // While a job runs, Convert and the settings are disabled; afterwards the status line says where the
    // archive went, with the service's warnings and a link to the folder.
    void aJobFromStartToEnd()
    {
        startJob();
        const auto enabled = [this] {
            QString states;
            for (auto* control : window->findChildren<QWidget*>())
                if (control->focusPolicy() != Qt::NoFocus)
                    states += control->isEnabled() ? '1' : '0';
            return states;
        };
        QCOMPARE(enabled(), QString(enabled().size(), '0'));
        QCOMPARE(child<QLabel>("statusBar")->text(), QStringLiteral("Uploading..."));
        QVERIFY(child<QProgressBar>("statusIcon")->isVisible());
        http->uploads.at(0).reply(FakeHttpClient::reply(R"({"result":"10","fileId":"abc"})"));
        QCOMPARE(child<QLabel>("statusBar")->text(), QStringLiteral("Converting..."));
        timers->fire();
        http->gets.at(0).reply(FakeHttpClient::reply(
            R"({"num":0,"status":101,"result":"/d.zip","message":"page 2: images <left out>\npage 3: shadings"})"));
        http->downloads.at(0).finish("PK");
        QCOMPARE(dialogs->boxes, QStringList{"|Convert successful|2|OK"});
        QCOMPARE(child<QLabel>("statusBar")->text(),
                 "Saved out.zip, with 2 warnings: page 2: images &lt;left out&gt;; page 3: shadings. <a href=\"" +
                     QUrl::fromLocalFile(dir->path()).toString() + "\">Open the folder</a>");
        QVERIFY(!child<QProgressBar>("statusIcon")->isVisible());
        QCOMPARE(enabled(), QString(enabled().size(), '1'));
    }

    void returnPressesConvert()
    {
        child<QLineEdit>("pagesText")->setFocus();
        QTest::keyClick(child<QLineEdit>("pagesText"), Qt::Key_Return);
        QTRY_COMPARE(dialogs->fileDialogs.size(), 1); // Convert with no input offers the chooser
    }

    // Ctrl+Q closes the window, which ends the application at once, also in the middle of a job: no alert, nothing
    // cancelled, nothing written.
    void closingEndsTheApplication()
    {
        startJob();
        http->uploads.at(0).reply(FakeHttpClient::reply(R"({"result":"10","fileId":"abc"})"));
        bool aboutToQuit = false;
        connect(qApp, &QCoreApplication::aboutToQuit, this, [&] { aboutToQuit = true; });
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTimer::singleShot(0, [this] { QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier); });
        QTimer::singleShot(10000, [] { QCoreApplication::exit(99); }); // instead of hanging
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(aboutToQuit && dialogs->boxes.isEmpty());
        QVERIFY(window->controller().conversion() && timers->running());
        QVERIFY(!QFile::exists(dir->filePath("out.zip")));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

// Closing the window ends the application at once, also in the middle of a job.

#include "appfakes.h"
#include "mainwindow.h"
#include "viewcontroller.h"

#include <QApplication>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace unplot;
using namespace unplot::test;

class TestWindowClose : public QObject {
    Q_OBJECT

private slots:
    void closeDuringAJobEndsTheApplication()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString input = dir.filePath(QStringLiteral("in.pdf"));
        const QString output = dir.filePath(QStringLiteral("out.zip"));
        {
            QFile file(input);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("%PDF-1.4\n");
        }
        FakeHttp http;
        FakeTimers timers;
        RecordingDialogs dialogs;
        MainWindow window(http, timers, ServiceConfig{QStringLiteral("service.test"), dir.filePath("Documents"), {}},
                          dialogs);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.findChild<QLineEdit*>(QStringLiteral("selectFilename"))->setText(input);
        window.findChild<QLineEdit*>(QStringLiteral("saveFilename"))->setText(output);
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("convertButton")), Qt::LeftButton);
        QCOMPARE(http.uploads.size(), size_t(1));
        http.uploads[0].reply(FakeHttp::reply({{"result", "10"}, {"fileId", "abc"}}));
        QVERIFY(window.controller().conversion());

        bool aboutToQuit = false;
        connect(qApp, &QCoreApplication::aboutToQuit, this, [&] { aboutToQuit = true; });
        QTimer::singleShot(0, &window, &QWidget::close);
        QTimer guard;  // fails the test instead of hanging when closing does not end the loop
        connect(&guard, &QTimer::timeout, this, [] { QCoreApplication::exit(99); });
        guard.start(10000);
        const int status = QApplication::exec();

        QCOMPARE(status, 0);
        QVERIFY(aboutToQuit);
        QVERIFY(dialogs.boxes.empty());               // no alert
        QVERIFY(window.controller().conversion());   // nothing stopped or cancelled
        QVERIFY(timers.running());
        QVERIFY(!QFile::exists(output));
    }
};

QTEST_MAIN(TestWindowClose)
#include "tst_windowclose.moc"

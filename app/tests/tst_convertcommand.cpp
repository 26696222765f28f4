// `unplot convert` as a user runs it: the built binary against the scripted conversion service.

#include "scriptedhttpserver.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace unplot::test;

class TestConvertCommand : public QObject {
    Q_OBJECT

    ScriptedHttpServer service;
    std::unique_ptr<QTemporaryDir> dir;
    int exitCode = -1;
    QStringList out, err; // the lines written to standard output and standard error

    QString path(const QString& name) const { return dir->filePath(name); }

    // A PDF whose bytes choose what the service does with it (ScriptedHttpServer::serveConversions).
    QString pdf(const QString& name, const QByteArray& scenario = "ok")
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write("%PDF-1.4\n% SCENARIO:" + scenario + "\n%%EOF\n") <= 0)
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

    void convert(const QStringList& args, const QString& serviceFromEnvironment = {})
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", path("home")); // temp.zip goes to $HOME/Documents
        env.remove("XDG_DOCUMENTS_DIR");
        env.insert("UNPLOT_SERVICE", serviceFromEnvironment.isEmpty() ? "127.0.0.1:" + port() : serviceFromEnvironment);
        process.setProcessEnvironment(env);
        process.start(UNPLOT_BINARY, QStringList{"convert"} + args);
        QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 120'000));
        exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        out = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        err = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    }
    QString port() const { return QString::number(service.port()); }

    // The form fields the service received, as it wrote them into the archive.
    static QJsonObject fields(const QString& archive)
    {
        QFile file(archive);
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll().mid(2)).object() : QJsonObject();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(service.listen());
        service.serveConversions();
    }
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(path("home")));
    }

    void convertsWithTheOptionsGiven_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("sent"); // drp_Type, txt_Page, drp_Version
        QTest::newRow("defaults: DWG, all pages, R14") << QStringList{} << QStringList{"1", "-1", "14"};
        QTest::newRow("DXF, pages 1 and 3, 2004")
            << QStringList{"--dxf", "--pages", "1,3", "--version", "2004"} << QStringList{"0", "1,3", "18"};
    }
    void convertsWithTheOptionsGiven()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, sent);
        const QString output = path("plan out.zip");
        convert(QStringList{pdf("plan.pdf", "wait1"), "-o", output, "--service", "127.0.0.1:" + port()} + options,
                "127.0.0.1:9"); // --service wins over the environment
        QCOMPARE(exitCode, 0);
        QCOMPARE(err.first(), QStringLiteral("Uploading..."));
        QVERIFY(err.contains("Converting...") && err.contains("Convert successful"));
        QVERIFY(out.contains("\"queue:1\"") && !out.filter("/download/").isEmpty());
        const QJsonObject received = fields(output);
        QCOMPARE((QStringList{received["drp_Type"].toString(), received["txt_Page"].toString(),
                              received["drp_Version"].toString()}),
                 sent);
        QVERIFY(QFile::exists(path("home/Documents/temp.zip")));
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("scenario"); // "" for an input that does not exist
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("line"); // a line of standard error; %1 is the input
        QTest::newRow("rejected upload") << QByteArray("reject") << QStringList{}
                                         << "convert The file is not a PDF document.";
        QTest::newRow("failing status") << QByteArray("fail") << QStringList{} << "unplot convert: %1: not converted";
        QTest::newRow("download failure") << QByteArray("dlfail") << QStringList{} << "Convert Faild";
        QTest::newRow("unreadable input") << QByteArray() << QStringList{}
                                          << "convert Cannot read the input file %1.";
        QTest::newRow("time limit") << QByteArray("slow") << QStringList{"--time-limit", "2"}
                                    << "Oops,  file conversion failed. Please email your PDF file to "
                                       "support@unplot.example for services.";
    }
    void failures()
    {
        QFETCH(QByteArray, scenario);
        QFETCH(QStringList, options);
        QFETCH(QString, line);
        const QString input = scenario.isEmpty() ? path("missing.pdf") : pdf("in.pdf", scenario);
        convert(QStringList{input, "-o", path("out.zip")} + options);
        QCOMPARE(exitCode, 1);
        QVERIFY2(err.count(line.arg(input)) == 1, qPrintable(err.join('\n')));
        QVERIFY(!err.contains("Convert successful"));
        QVERIFY(!QFile::exists(path("out.zip")));
    }

    void batchWithOneFailingFile()
    {
        convert({pdf("a.pdf"), pdf("b.PDF", "fail"), pdf("c.pdf"), "-d", path("out")});
        QCOMPARE(exitCode, 1);
        QVERIFY(QFile::exists(path("out/a.zip")) && QFile::exists(path("out/c.zip")));
        QVERIFY(!QFile::exists(path("out/b.zip")));
        QCOMPARE(err.filter("Convert successful").size(), 2);
        QCOMPARE(err.filter("not converted").size(), 1);
        QVERIFY(out.contains("\"convert faild status: 30\""));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reason");
        QTest::newRow("nothing") << QStringList{} << "no input PDF given";
        QTest::newRow("no output") << QStringList{"a.pdf"} << "no output given";
        QTest::newRow("unknown option") << QStringList{"a.pdf", "-o", "a.zip", "--fast"} << "unknown option '--fast'";
        QTest::newRow("missing value") << QStringList{"a.pdf", "-o"} << "-o needs a value";
        QTest::newRow("bad version") << QStringList{"a.pdf", "-o", "a.zip", "--version", "16"} << "--version";
        QTest::newRow("bad pages") << QStringList{"a.pdf", "-o", "a.zip", "--pages", "2-x"} << "--pages";
        QTest::newRow("bad time limit") << QStringList{"a.pdf", "-o", "a.zip", "--time-limit", "0"} << "--time-limit";
        QTest::newRow("both types") << QStringList{"a.pdf", "-o", "a.zip", "--dxf", "--dwg"} << "exclude each other";
        QTest::newRow("-o with two inputs") << QStringList{"a.pdf", "b.pdf", "-o", "a.zip"} << "-o takes one input";
        QTest::newRow("-o and -d") << QStringList{"a.pdf", "-o", "a.zip", "-d", "out"} << "exclude each other";
        QTest::newRow("bad service") << QStringList{"a.pdf", "-o", "a.zip", "--service", "a b"} << "--service";
        QTest::newRow("same output twice") << QStringList{"x/a.pdf", "y/a.pdf", "-d", "out"} << "both be saved";
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, reason);
        const qsizetype requests = service.requests().size();
        convert(args);
        QCOMPARE(exitCode, 2);
        QVERIFY2(err.size() == 1 && err.first().contains(reason), qPrintable(err.join('\n')));
        QVERIFY(out.isEmpty() && service.requests().size() == requests);
    }

    void helpExplainsEveryOption()
    {
        convert({"--help"});
        QCOMPARE(exitCode, 0);
        for (const char* option : {"-o", "-d", "--dwg", "--dxf", "--pages", "--version", "--time-limit", "--service"})
            QVERIFY2(out.join('\n').contains(QLatin1String(option)), option);
    }
};

QTEST_GUILESS_MAIN(TestConvertCommand)
#include "tst_convertcommand.moc"

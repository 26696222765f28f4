// `unplot convert` as a user runs it: the built binary against the scripted service (scripted_service.py).

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int exitCode = -1;
    QStringList stdoutLines;
    QStringList stderrLines;
};

QStringList linesOf(const QByteArray& bytes)
{
    QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

}  // namespace

class TestConvertCommand : public QObject {
    Q_OBJECT

private:
    QProcess service_;
    QString port_;
    std::unique_ptr<QTemporaryDir> dir_;

    QString path(const QString& name) const { return dir_->filePath(name); }

    QString makePdf(const QString& name, const QByteArray& scenario)
    {
        const QString file = path(name);
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(file));
        out.write("%PDF-1.4\n% SCENARIO:" + scenario + "\n%%EOF\n");
        return file;
    }

    Run convert(const QStringList& args, const QString& serviceFromEnvironment = {})
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));  // temp.zip goes to $HOME/Documents
        env.remove(QStringLiteral("XDG_DOCUMENTS_DIR"));
        env.insert(QStringLiteral("UNPLOT_SERVICE"),
                   serviceFromEnvironment.isEmpty() ? QStringLiteral("127.0.0.1:") + port_ : serviceFromEnvironment);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(UNPLOT_BINARY), QStringList{QStringLiteral("convert")} + args);
        Run run;
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.stdoutLines = linesOf(process.readAllStandardOutput());
        run.stderrLines = linesOf(process.readAllStandardError());
        return run;
    }

    static QJsonObject archiveFields(const QString& file)
    {
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly))
            return {};
        const QByteArray bytes = in.readAll();
        if (!bytes.startsWith("PK"))
            return {};
        return QJsonDocument::fromJson(bytes.mid(2)).object();
    }

private slots:
    void initTestCase()
    {
        if (!QFile::exists(QStringLiteral(UNPLOT_PYTHON)))
            QSKIP("no " UNPLOT_PYTHON " to run the scripted service");
        service_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        service_.start(QStringLiteral(UNPLOT_PYTHON), {QStringLiteral(SCRIPTED_SERVICE)});
        QVERIFY(service_.waitForStarted());
        QTRY_VERIFY(service_.canReadLine());
        const QString line = QString::fromLatin1(service_.readLine()).trimmed();
        QVERIFY2(line.startsWith(QLatin1String("PORT ")), qPrintable(line));
        port_ = line.mid(5);
    }
    void cleanupTestCase()
    {
        service_.kill();
        service_.waitForFinished();
    }
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        QDir().mkpath(path(QStringLiteral("home")));
    }

    void happyPathSendsTheOptionsAndWritesTheArchive()
    {
        const QString input = makePdf(QStringLiteral("plan.pdf"), "wait1");
        const QString output = path(QStringLiteral("plan out.zip"));
        const Run run = convert({input, "-o", output, "--dxf", "--pages", "1,3", "--version", "2004", "--service",
                                 "127.0.0.1:" + port_},
                                QStringLiteral("127.0.0.1:9"));  // --service wins over the environment
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.stderrLines.first(), QStringLiteral("Uploading..."));
        QVERIFY(run.stderrLines.contains(QStringLiteral("Converting...")));
        QVERIFY(run.stderrLines.contains(QStringLiteral("Convert successful")));
        QVERIFY(run.stdoutLines.contains(QStringLiteral("\"queue:1\"")));
        QVERIFY(!run.stdoutLines.filter(QStringLiteral("/download/")).isEmpty());

        const QJsonObject fields = archiveFields(output);
        QCOMPARE(fields.value("drp_Type").toString(), QStringLiteral("0"));
        QCOMPARE(fields.value("txt_Page").toString(), QStringLiteral("1,3"));
        QCOMPARE(fields.value("drp_Version").toString(), QStringLiteral("18"));
        QCOMPARE(fields.value("fileName").toString(), QStringLiteral("convert.pdf"));
        QVERIFY(QFile::exists(path(QStringLiteral("home/Documents/temp.zip"))));
    }

    void defaultsAreDwgAllPagesR14()
    {
        const QString output = path(QStringLiteral("out.zip"));
        const Run run = convert({makePdf(QStringLiteral("a.pdf"), "ok"), "-o", output});
        QCOMPARE(run.exitCode, 0);
        const QJsonObject fields = archiveFields(output);
        QCOMPARE(fields.value("drp_Type").toString(), QStringLiteral("1"));
        QCOMPARE(fields.value("txt_Page").toString(), QStringLiteral("-1"));
        QCOMPARE(fields.value("drp_Version").toString(), QStringLiteral("14"));
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QString>("stderrLine");  // a line that must be on standard error
        QTest::addColumn<QString>("stdoutLine");  // a line that must be on standard output, or empty
        QTest::newRow("rejected upload") << QByteArray("reject") << "convert The file is not a PDF drawing."
                                         << QString();
        QTest::newRow("failing status") << QByteArray("fail") << "unplot convert: %1: not converted"
                                        << "\"convert faild status: 30\"";
        QTest::newRow("download failure") << QByteArray("dlfail") << "Convert Faild" << QString();
    }
    void failures()
    {
        QFETCH(QByteArray, scenario);
        QFETCH(QString, stderrLine);
        QFETCH(QString, stdoutLine);
        const QString input = makePdf(QStringLiteral("in.pdf"), scenario);
        const QString output = path(QStringLiteral("out.zip"));
        const Run run = convert({input, "-o", output});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.stderrLines.contains(stderrLine.arg(input)), qPrintable(run.stderrLines.join('|')));
        if (!stdoutLine.isEmpty())
            QVERIFY2(run.stdoutLines.contains(stdoutLine), qPrintable(run.stdoutLines.join('|')));
        QVERIFY(!run.stderrLines.contains(QStringLiteral("Convert successful")));
        QVERIFY(!QFile::exists(output));
    }

    void unreadableInput()
    {
        const QString input = path(QStringLiteral("missing.pdf"));
        const QString output = path(QStringLiteral("out.zip"));
        const Run run = convert({input, "-o", output});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(!run.stderrLines.filter(input).isEmpty(), qPrintable(run.stderrLines.join('|')));
        QVERIFY(!QFile::exists(output));
    }

    void timeLimitEndsTheJob()
    {
        const QString output = path(QStringLiteral("out.zip"));
        const Run run = convert({makePdf(QStringLiteral("in.pdf"), "slow"), "-o", output, "--time-limit", "2"});
        QCOMPARE(run.exitCode, 1);
        const QStringList alerts = run.stderrLines.filter(QStringLiteral("Oops,  file conversion failed. Please"));
        QCOMPARE(alerts.size(), 1);
        QVERIFY(!QFile::exists(output));
    }

    void batchWithOneFailingFile()
    {
        const QString outDir = path(QStringLiteral("out"));
        const Run run = convert({makePdf(QStringLiteral("a.pdf"), "ok"), makePdf(QStringLiteral("b.PDF"), "fail"),
                                 makePdf(QStringLiteral("c.pdf"), "ok"), "-d", outDir});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(QFile::exists(outDir + QStringLiteral("/a.zip")));
        QVERIFY(!QFile::exists(outDir + QStringLiteral("/b.zip")));
        QVERIFY(QFile::exists(outDir + QStringLiteral("/c.zip")));
        QCOMPARE(run.stderrLines.filter(QStringLiteral("Convert successful")).size(), 2);
        QCOMPARE(run.stderrLines.filter(QStringLiteral("not converted")).size(), 1);
        QVERIFY(run.stdoutLines.contains(QStringLiteral("\"convert faild status: 30\"")));
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
        const Run run = convert(args);
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.stderrLines.size(), 1);
        QVERIFY2(run.stderrLines.first().contains(reason), qPrintable(run.stderrLines.first()));
        QVERIFY(run.stdoutLines.isEmpty());
    }

    void helpExplainsEveryOption()
    {
        const Run run = convert({"--help"});
        QCOMPARE(run.exitCode, 0);
        const QString text = run.stdoutLines.join('\n');
        for (const char* option : {"-o", "-d", "--dwg", "--dxf", "--pages", "--version", "--time-limit", "--service"})
            QVERIFY2(text.contains(QLatin1String(option)), option);
    }
};

QTEST_GUILESS_MAIN(TestConvertCommand)
#include "tst_convertcommand.moc"

// `unplot convert` as a user runs it: the built binary against the scripted conversion service.

#include "scriptedhttpserver.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace unplot::test;

class TestConvertCommand : public QObject {
    Q_OBJECT

    ScriptedHttpServer service;
    std::unique_ptr<QTemporaryDir> dir;
    int exitCode = -1;
    QStringList out, err; // the lines written to standard output and standard error

    QString path(const QString& name) const { return dir->filePath(name); }
    QString port() const { return QString::number(service.port()); }

    // A PDF whose bytes choose what the service does with it (ScriptedHttpServer::serveConversions).
    QString pdf(const QString& name, const QByteArray& scenario = "ok")
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write("%PDF-1.4\n% SCENARIO:" + scenario + "\n%%EOF\n") <= 0)
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }
    QByteArray read(const QString& name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    }

    void convert(const QStringList& args, const QString& serviceFromEnvironment = {}, rlim_t fileSizeLimit = 0)
    {
        run(QStringList{"convert"} + args, serviceFromEnvironment, fileSizeLimit);
    }
    // Runs `unplot ARGS` without a display; with a file size limit, files cannot grow past it, as on a full disk.
    void run(const QStringList& args, const QString& serviceFromEnvironment = {}, rlim_t fileSizeLimit = 0)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("HOME", path("home")); // temp.zip goes to $HOME/Documents
        env.remove("XDG_DOCUMENTS_DIR");
        env.insert("UNPLOT_SERVICE", serviceFromEnvironment.isEmpty() ? "127.0.0.1:" + port() : serviceFromEnvironment);
        process.setProcessEnvironment(env);
        if (fileSizeLimit > 0) {
            process.setChildProcessModifier([fileSizeLimit] {
                const rlimit limit{fileSizeLimit, fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                std::signal(SIGXFSZ, SIG_IGN);
            });
        }
        process.start(UNPLOT_BINARY, args);
        QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 120'000));
        exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        out = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        err = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    }

    // The plain fields of the last form the service received.
    QStringList sent() const
    {
        for (qsizetype i = service.requests().size() - 1; i >= 0; --i) {
            if (const auto form = readForm(service.requests()[i])) {
                QStringList values;
                for (const ReceivedPart& part : form->mid(1))
                    values << QString::fromUtf8(part.data);
                return values;
            }
        }
        return {};
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
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("sent"); // drp_Type, txt_Page, drp_Version
        QTest::newRow("defaults: DWG, all pages, R14") << QByteArray("wait1") << QStringList{} << QStringList{"1", "-1", "14"};
        QTest::newRow("DXF, pages 1 and 3, 2004") << QByteArray("ok")
            << QStringList{"--dxf", "--pages", "1,3", "--version", "2004"} << QStringList{"0", "1,3", "18"};
    }
    void convertsWithTheOptionsGiven()
    {
        QFETCH(QByteArray, scenario);
        QFETCH(QStringList, options);
        convert(QStringList{pdf("plan.pdf", scenario), "-o", path("plan out.zip"), "--service", "127.0.0.1:" + port()} +
                    options,
                "127.0.0.1:9"); // --service wins over the environment
        QCOMPARE(exitCode, 0);
        QCOMPARE(err.first(), QStringLiteral("Uploading..."));
        QVERIFY(err.contains("Converting...") && err.last() == "Convert successful");
        QVERIFY(out.contains("\"queue:1\"") == (scenario == "wait1") && !out.filter("/download/").isEmpty());
        QTEST(sent(), "sent");
        QVERIFY(read("plan out.zip").contains("drawing of page 1"));
        QVERIFY(QFile::exists(path("home/Documents/temp.zip")));
    }

    void warningsFollowTheSuccessLine()
    {
        convert({pdf("scan.pdf", "warn"), "-o", path("scan.zip")});
        QCOMPARE(exitCode, 0);
        QCOMPARE(err.mid(err.indexOf("Convert successful")),
                 (QStringList{"Convert successful", "warning: page 2: images are not converted yet",
                              "warning: page 3: shadings are not converted yet"}));
    }

    // Nothing is left behind but the previous output; the line says why.
    void failures_data()
    {
        QTest::addColumn<QByteArray>("scenario"); // "" for an input that does not exist
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("fileSizeLimit");
        QTest::addColumn<QString>("line"); // how a line of standard error starts; %1 stands for the input
        QTest::newRow("rejected upload") << QByteArray("reject") << QStringList{} << 0
                                         << "convert The file is not a PDF document.";
        QTest::newRow("failing status") << QByteArray("fail") << QStringList{} << 0
                                        << "unplot convert: %1: not converted: The engine could not read the file.";
        QTest::newRow("download failure") << QByteArray("dlfail") << QStringList{} << 0 << "Convert Faild ";
        QTest::newRow("unreadable input") << QByteArray() << QStringList{} << 0
                                          << "convert Cannot read the input file %1: No such file or directory.";
        QTest::newRow("time limit") << QByteArray("slow") << QStringList{"--time-limit", "2"} << 0
                                    << "Oops,  file conversion failed. Please email your PDF file to "
                                       "support@unplot.example for services.";
        QTest::newRow("no service") << QByteArray("ok") << QStringList{"--service", "127.0.0.1:1"} << 0
                                    << "convert The conversion service at 127.0.0.1:1 cannot be reached. Connection "
                                       "refused Start it with unplotd, or with ./run.sh in unplot's source folder.";
        QTest::newRow("archive larger than the free space") << QByteArray("size4000000") << QStringList{} << (1 << 20)
                                                            << "Convert Faild Cannot write \"$HOME/Documents/temp.zip\": "
                                                               "File too large";
    }
    void failures()
    {
        QFETCH(QByteArray, scenario);
        QFETCH(QStringList, options);
        QFETCH(int, fileSizeLimit);
        QFETCH(QString, line);
        const QString input = scenario.isEmpty() ? path("missing.pdf") : pdf("in.pdf", scenario);
        QFile previous(path("out.zip"));
        QVERIFY(previous.open(QIODevice::WriteOnly) && previous.write("the previous archive") > 0);
        previous.close();
        convert(QStringList{input, "-o", path("out.zip")} + options, {}, rlim_t(fileSizeLimit));
        QCOMPARE(exitCode, 1);
        QVERIFY2(err.filter(QRegularExpression('^' + QRegularExpression::escape(line.replace("%1", input).replace("$HOME", path("home"))))).size() == 1,
                 qPrintable(err.join('\n')));
        QVERIFY(!err.contains("Convert successful"));
        QCOMPARE(err.contains("Uploading..."), !scenario.isEmpty());
        QCOMPARE(read("out.zip"), QByteArray("the previous archive"));
        QCOMPARE(QDir(path("")).entryList(QDir::Files | QDir::Hidden).size(), scenario.isEmpty() ? 1 : 2);
    }

    // Each line names its file; a summary ends the run.
    void batch()
    {
        convert({pdf("a.pdf"), pdf("b.PDF", "fail"), pdf("c.pdf"), pdf("d.pdf", "reject"), "-d", path("out")});
        QCOMPARE(exitCode, 1);
        QCOMPARE(QDir(path("out")).entryList(QDir::Files), (QStringList{"a.zip", "c.zip"}));
        QVERIFY2(err.contains("a.pdf: Uploading...") && err.contains("c.pdf: Convert successful") &&
                     err.contains("d.pdf: convert The file is not a PDF document."),
                 qPrintable(err.join('\n')));
        QCOMPARE(err.last(), QStringLiteral("2 converted, 2 not converted: b.PDF (The engine could not read the file.), "
                                            "d.pdf (The file is not a PDF document.)"));
        QVERIFY(out.contains("\"convert faild status: 30\""));
    }

    // -o NAME.dxf (or .dwg) takes the one drawing of a single page, out of the archive, and its images beside it.
    void oneDrawing()
    {
        convert({pdf("plan.pdf", "pages1 SCENARIO:image"), "-o", path("plan.dxf")});
        QCOMPARE(exitCode, 0);
        QCOMPARE(read("plan.dxf"), QByteArray("drawing of page 1"));
        QCOMPARE(read("page-1-image-1.png"), QByteArray("pixels"));
        QCOMPARE(sent().first(), QStringLiteral("0"));
        convert({pdf("plan.pdf", "pages3"), "-o", path("plan.dwg")});
        QCOMPARE(exitCode, 2);
        QCOMPARE(err.last(), "unplot convert: " + path("plan.pdf") + " gave 3 drawings, and -o " + path("plan.dwg") +
                                 " takes one: choose a page with --pages N, or save them all with -o plan.zip");
        QVERIFY(!QFile::exists(path("plan.dwg")));
    }

    // Refused before anything is sent; the program's own arguments need no display.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line"); // a part of the first line written
        const auto row = [](const char* name, const QStringList& args, const char* line, int status = 2) {
            QTest::newRow(name) << args << status << line;
        };
        row("nothing", {"convert"}, "unplot convert: no input PDF given");
        row("no output", {"convert", "a.pdf"}, "no output given");
        row("unknown option", {"convert", "a.pdf", "-o", "a.zip", "--fast"}, "unknown option '--fast'");
        row("missing value", {"convert", "a.pdf", "-o"}, "-o needs a value");
        row("bad version", {"convert", "a.pdf", "-o", "a.zip", "--version", "16"}, "--version");
        row("bad pages", {"convert", "a.pdf", "-o", "a.zip", "--pages", "2-x"}, "--pages");
        row("bad time limit", {"convert", "a.pdf", "-o", "a.zip", "--time-limit", "0"}, "--time-limit");
        row("both types", {"convert", "a.pdf", "-o", "a.zip", "--dxf", "--dwg"}, "exclude each other");
        row("-o with two inputs", {"convert", "a.pdf", "b.pdf", "-o", "a.zip"}, "-o takes one input");
        row("-o and -d", {"convert", "a.pdf", "-o", "a.zip", "-d", "out"}, "exclude each other");
        row("-o names a folder", {"convert", "a.pdf", "-o", "."}, "-o . is a folder; use -d . to save");
        row("-o NAME.dxf, two pages", {"convert", "a.pdf", "-o", "a.dxf", "--pages", "1,3"},
            "-o a.dxf takes one drawing, but --pages 1,3 names more than one");
        row("-o NAME.dxf --dwg", {"convert", "a.pdf", "-o", "a.dxf", "--dwg"}, "names a DXF drawing");
        row("bad service", {"convert", "a.pdf", "-o", "a.zip", "--service", "a b"}, "--service");
        row("same output twice", {"convert", "x/a.pdf", "y/a.pdf", "-d", "out"}, "both be saved");
        row("convert --help", {"convert", "--help"}, "Usage: unplot convert", 0);
        row("--version", {"--version"}, "unplot ", 0);
        row("--help", {"--help"}, "Usage: unplot ", 0);
        row("unknown argument", {"--fast"}, "unplot: unknown argument '--fast'");
        row("no display for the window", {}, "unplot: no display", 1);
    }
    void refusals()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, line);
        const qsizetype requests = service.requests().size();
        run(args);
        QTEST(exitCode, "status");
        const QStringList written = out + err;
        QVERIFY2(written.value(0).contains(line), qPrintable(written.join('\n')));
        QVERIFY(exitCode == 0 ? err.isEmpty() : err.size() == 1 && out.isEmpty());
        QCOMPARE(service.requests().size(), requests);
    }
};

QTEST_GUILESS_MAIN(TestConvertCommand)
#include "tst_convertcommand.moc"

#include "convertcommand.h"

#include "convertoptions.h"
#include "drawingarchive.h"
#include "headlessview.h"
#include "qthttpclient.h"
#include "qttimer.h"
#include "serviceconfig.h"
#include "stdoutrelay.h"
#include "viewcontroller.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace unplot {

namespace {

constexpr int kConverted = 0;
constexpr int kNotConverted = 1;
constexpr int kUsageError = 2;

void printLine(std::FILE* stream, const QString& line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// Runs one job to its end; kConverted once its archive, or with `oneDrawing` its one drawing, is saved.
int runJob(ViewController& controller, HttpClient& http, HeadlessView& view, const ConvertJob& job,
           const ConvertOptions& options)
{
    view.resetJob();
    QTemporaryDir archiveFolder; // for the archive of a job that saves only its drawing
    const QString archive = options.oneDrawing ? archiveFolder.filePath(QStringLiteral("result.zip")) : job.output;
    view.setPaths(job.input, archive, options.batch ? QFileInfo(job.input).fileName() + QStringLiteral(": ") : "");

    QEventLoop loop;
    // stopConvertTask stops the busy indicator just before it clears `conversion`: look again once it returned.
    view.setOnBusyStopped([&] {
        QTimer::singleShot(0, &loop, [&] {
            if (!controller.conversion())
                loop.quit();
        });
    });

    bool timedOut = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        if (!controller.conversion())
            return;
        timedOut = true;
        const ServiceConfig& config = controller.config();
        view.showAlert(QStringLiteral("Oops, "), QStringLiteral("file conversion failed.\nPlease email your PDF file to ") +
                                                     config.supportEmail + QStringLiteral(" for services."));
        controller.stopConvertTask();
        http.cancelDownloads();
    });

    controller.convertAction();
    if (!controller.conversion())
        return kNotConverted; // the job did not start: the input cannot be read, and the controller said so
    if (options.timeLimitSeconds > 0)
        limit.start(std::chrono::seconds(options.timeLimitSeconds));
    loop.exec();
    view.setOnBusyStopped({});
    view.finishStatusLine();

    if (!view.succeeded() || timedOut) {
        if (view.alertCount() == 0 && !timedOut)
            view.printLine(QStringLiteral("unplot convert: %1: not converted: %2").arg(job.input, view.failure()));
        return kNotConverted;
    }
    if (!options.oneDrawing)
        return kConverted;
    if (const int drawings = countDrawings(archive); drawings > 1) {
        view.printLine(QStringLiteral("unplot convert: %1 gave %2 drawings, and -o %3 takes one: choose a page "
                                      "with --pages N, or save them all with -o %4.zip")
                           .arg(job.input)
                           .arg(drawings)
                           .arg(job.output, QFileInfo(job.output).completeBaseName()));
        return kUsageError;
    }
    if (const QString error = extractOnlyDrawing(archive, job.output); !error.isEmpty()) {
        view.printLine(QStringLiteral("unplot convert: %1: %2").arg(job.output, error));
        return kNotConverted;
    }
    return kConverted;
}

// "4 converted, 2 not converted: notes.pdf (not a PDF), scan.pdf (...)"
QString summary(int converted, const QStringList& failures)
{
    QString line = QStringLiteral("%1 converted").arg(converted);
    if (!failures.isEmpty())
        line += QStringLiteral(", %1 not converted: %2").arg(failures.size()).arg(failures.join(QStringLiteral(", ")));
    return line;
}

}  // namespace

int ConvertCommand::run(const QStringList& arguments)
{
    const ConvertParseResult parsed = parseConvertArguments(arguments);
    if (parsed.kind == ConvertParseResult::Kind::Help) {
        std::fputs(convertUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parsed.kind == ConvertParseResult::Kind::UsageError) {
        printLine(stderr, QStringLiteral("unplot convert: %1 (see unplot convert --help)").arg(parsed.error));
        return kUsageError;
    }
    const ConvertOptions& options = parsed.options;

    for (const ConvertJob& job : options.jobs) {
        const QString folder = QFileInfo(job.output).absolutePath();
        if (!QDir().mkpath(folder)) {
            printLine(stderr, QStringLiteral("unplot convert: cannot create the folder %1").arg(folder));
            return kUsageError;
        }
    }

    ServiceConfig config = ServiceConfig::fromEnvironment();
    if (!options.service.isEmpty())
        config.host = options.service;

    QtHttpClient http;
    QtTimerScheduler timers;
    const bool terminal = isatty(STDERR_FILENO) != 0;
    HeadlessView view(stderr, terminal);
    ViewController controller(view, http, timers, config);

    // On a terminal that standard output shares, its lines go above the status line instead of after it.
    std::unique_ptr<StdoutRelay> relay;
    StdoutRelay* through = nullptr;
    if (terminal && isatty(STDOUT_FILENO) != 0) {
        relay = std::make_unique<StdoutRelay>([&view, &through](const QByteArray& line) {
            view.finishStatusLine();
            through->writeThrough(line);
            view.redrawStatusLine();
        });
        through = relay.get();
        if (relay->active())
            view.setBeforeOutput([through] { through->drain(); });
        else
            relay.reset();
    }

    view.setOptions(options.dwg, options.pages ? &*options.pages : nullptr, options.versionIndex);
    controller.selectVersionAction();

    int status = kConverted;
    int converted = 0;
    QStringList failures; // "NAME (REASON)"
    for (const ConvertJob& job : options.jobs) {
        const int jobStatus = runJob(controller, http, view, job, options);
        status = std::max(status, jobStatus);
        if (jobStatus == kConverted)
            ++converted;
        else
            failures << QStringLiteral("%1 (%2)").arg(QFileInfo(job.input).fileName(),
                                                      view.failure().isEmpty() ? QStringLiteral("not converted")
                                                                               : view.failure());
    }
    if (options.batch)
        view.printLine(summary(converted, failures));
    view.setBeforeOutput({});
    relay.reset();
    return status;
}

}  // namespace unplot

#include "convertcommand.h"

#include "convertoptions.h"
#include "headlessview.h"
#include "qthttpclient.h"
#include "qttimer.h"
#include "serviceconfig.h"
#include "stdoutrelay.h"
#include "viewcontroller.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace unplot {

namespace {

constexpr int kUsageError = 2;

void printLine(std::FILE* stream, const QString& line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// Runs one job to its end; true when it ended with the "Convert" "successful" alert.
bool runJob(ViewController& controller, HeadlessView& view, const ConvertJob& job, int timeLimitSeconds)
{
    view.resetJob();
    view.setPaths(job.input, job.output);

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
        view.printMessage(QStringLiteral("Oops, "),
                          QStringLiteral("file conversion failed.\nPlease email your PDF file to ") +
                              config.supportEmail + QStringLiteral(" for services."));
        controller.stopConvertTask();
    });

    controller.convertAction();
    if (!controller.conversion()) {
        // The job did not start: the controller could not open the input file (and said so, or not).
        if (view.alertCount() == 0)
            view.printLine(QStringLiteral("unplot convert: %1: cannot be read").arg(job.input));
        return false;
    }
    if (timeLimitSeconds > 0)
        limit.start(std::chrono::seconds(timeLimitSeconds));
    loop.exec();
    view.setOnBusyStopped({});
    view.finishStatusLine();

    const bool ok = view.succeeded() && !timedOut;
    if (!ok && view.alertCount() == 0 && !timedOut)
        view.printLine(QStringLiteral("unplot convert: %1: not converted").arg(job.input));
    return ok;
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

    bool allConverted = true;
    for (const ConvertJob& job : options.jobs) {
        if (!runJob(controller, view, job, options.timeLimitSeconds))
            allConverted = false;
    }
    view.setBeforeOutput({});
    relay.reset();
    return allConverted ? 0 : 1;
}

}  // namespace unplot

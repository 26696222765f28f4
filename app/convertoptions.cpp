#include "convertoptions.h"

#include "protocol.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace unplot {

namespace {

ConvertParseResult usageError(const QString& reason)
{
    ConvertParseResult result;
    result.kind = ConvertParseResult::Kind::UsageError;
    result.error = reason;
    return result;
}

// "OUTDIR/<name without .pdf>.zip"
QString outputInDirectory(const QString& directory, const QString& input)
{
    QString name = QFileInfo(input).fileName();
    if (name.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive) && name.size() > 4)
        name.chop(4);
    return QDir(directory).filePath(name + QLatin1String(".zip"));
}

bool takeValue(const QStringList& args, qsizetype& i, QString& value, QString& error)
{
    if (i + 1 >= args.size()) {
        error = QStringLiteral("%1 needs a value").arg(args[i]);
        return false;
    }
    value = args[++i];
    return true;
}

}  // namespace

QString convertUsage()
{
    return QStringLiteral(
        "Usage: unplot convert INPUT.pdf -o OUTPUT.zip [options]\n"
        "       unplot convert A.pdf B.pdf ... -d OUTDIR [options]\n"
        "\n"
        "Converts PDF drawings into DWG or DXF drawings with the conversion service, without a window.\n"
        "Several inputs are converted one after the other into OUTDIR/<input name without .pdf>.zip.\n"
        "\n"
        "Options:\n"
        "  -o, --output FILE        the output archive (.zip) for a single input; a FILE ending in .dxf or .dwg\n"
        "                           receives the one drawing of a single page instead (DXF or DWG as it says)\n"
        "  -d, --output-dir DIR     the folder for the archives of one or more inputs (created when missing)\n"
        "      --dwg                DWG drawings (the default)\n"
        "      --dxf                DXF drawings\n"
        "      --pages LIST         only these pages, e.g. 1,3,5-7 (default: all pages)\n"
        "      --version CODE       drawing version: 14, 15, 18, 21, 23 or R14, 2000, 2004, 2007, 2010\n"
        "                           (default 14, that is R14)\n"
        "      --time-limit SECONDS give up on a file sooner than after 600 s, this program's budget for a whole\n"
        "                           file (upload, queue, conversion, download; a longer limit does not extend\n"
        "                           it). The conversion itself has the service's own limit (unplotd\n"
        "                           --job-seconds, 120 s unless its operator changed it)\n"
        "      --service HOST[:PORT] the conversion service (default: $UNPLOT_SERVICE, else localhost:8040)\n"
        "  -h, --help               show this text\n"
        "\n"
        "Progress goes to standard error, each message as one line \"question text\", followed by the warnings\n"
        "of a file converted with some (\"warning: page 2: ...\"); with -d every line starts with the file's name\n"
        "and a summary line ends the run. The diagnostic lines go to standard output.\n"
        "\n"
        "Exit status: 0 when every file was converted and saved; 1 when any file was not (rejected, failed, timed\n"
        "out, download failed, input unreadable); 2 for a usage error (also -o NAME.dxf for a file that gave\n"
        "more than one drawing).\n");
}

ConvertParseResult parseConvertArguments(const QStringList& args)
{
    ConvertOptions options;
    QStringList inputs;
    QString output;
    QString outputDir;
    bool sawDwg = false;
    bool sawDxf = false;
    bool onlyInputs = false;
    QString error;

    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (onlyInputs || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            inputs << arg;
            continue;
        }
        QString value;
        if (arg == QLatin1String("--")) {
            onlyInputs = true;
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            ConvertParseResult help;
            help.kind = ConvertParseResult::Kind::Help;
            return help;
        } else if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            if (!takeValue(args, i, value, error))
                return usageError(error);
            if (!output.isEmpty())
                return usageError(QStringLiteral("-o is given twice"));
            output = value;
        } else if (arg == QLatin1String("-d") || arg == QLatin1String("--output-dir")) {
            if (!takeValue(args, i, value, error))
                return usageError(error);
            if (!outputDir.isEmpty())
                return usageError(QStringLiteral("-d is given twice"));
            outputDir = value;
        } else if (arg == QLatin1String("--dwg")) {
            sawDwg = true;
        } else if (arg == QLatin1String("--dxf")) {
            sawDxf = true;
        } else if (arg == QLatin1String("--pages")) {
            if (!takeValue(args, i, value, error))
                return usageError(error);
            protocol::PageListError pageError;
            const auto parsed = protocol::parsePageList(value.toStdString(), 0, &pageError);
            if (!parsed)
                return usageError(QStringLiteral("--pages: %1").arg(QString::fromStdString(pageError.message)));
            options.pages = value;
        } else if (arg == QLatin1String("--version")) {
            if (!takeValue(args, i, value, error))
                return usageError(error);
            const auto version = protocol::parseVersion(value.trimmed().toStdString());
            if (!version)
                return usageError(QStringLiteral("--version: unknown version '%1' (use 14, 15, 18, 21, 23 or "
                                                 "R14, 2000, 2004, 2007, 2010)").arg(value));
            options.versionIndex = 0;
            for (int v = 0; v < int(std::size(protocol::kVersions)); ++v) {
                if (protocol::kVersions[v].code == version->code)
                    options.versionIndex = v;
            }
        } else if (arg == QLatin1String("--time-limit")) {
            if (!takeValue(args, i, value, error))
                return usageError(error);
            bool ok = false;
            const int seconds = value.toInt(&ok);
            if (!ok || seconds <= 0)
                return usageError(QStringLiteral("--time-limit: '%1' is not a whole number of seconds above 0")
                                      .arg(value));
            options.timeLimitSeconds = seconds;
        } else if (arg == QLatin1String("--service")) {
            if (!takeValue(args, i, value, error))
                return usageError(error);
            const QUrl url(QStringLiteral("http://") + value, QUrl::StrictMode);
            if (value.isEmpty() || !url.isValid() || url.host().isEmpty() || !url.path().isEmpty()
                || !url.userInfo().isEmpty())
                return usageError(QStringLiteral("--service: '%1' is not HOST or HOST:PORT").arg(value));
            options.service = value;
        } else {
            return usageError(QStringLiteral("unknown option '%1'").arg(arg));
        }
    }

    if (sawDwg && sawDxf)
        return usageError(QStringLiteral("--dwg and --dxf exclude each other"));
    options.dwg = !sawDxf;

    if (inputs.isEmpty())
        return usageError(QStringLiteral("no input PDF given"));
    for (const QString& input : inputs) {
        if (input.isEmpty())
            return usageError(QStringLiteral("an input path is empty"));
    }
    if (!output.isEmpty() && !outputDir.isEmpty())
        return usageError(QStringLiteral("-o and -d exclude each other"));
    if (output.isEmpty() && outputDir.isEmpty())
        return usageError(QStringLiteral("no output given (-o OUTPUT.zip, or -d OUTDIR)"));
    if (!output.isEmpty()) {
        if (inputs.size() > 1)
            return usageError(QStringLiteral("-o takes one input; use -d OUTDIR for several"));
        if (QFileInfo(output).isDir())
            return usageError(QStringLiteral("-o %1 is a folder; use -d %1 to save into it").arg(output));
        const QString suffix = QFileInfo(output).suffix().toLower();
        options.oneDrawing = suffix == QLatin1String("dxf") || suffix == QLatin1String("dwg");
        if (options.oneDrawing) {
            if ((suffix == QLatin1String("dxf") && sawDwg) || (suffix == QLatin1String("dwg") && sawDxf))
                return usageError(QStringLiteral("-o %1 names a %2 drawing but --%3 asks for the other format")
                                      .arg(output, suffix.toUpper(), sawDwg ? "dwg" : "dxf"));
            options.dwg = suffix == QLatin1String("dwg");
            const auto pages = options.pages ? protocol::parsePageList(options.pages->toStdString(), 0) : std::nullopt;
            if (pages && (pages->all || pages->pages.size() != 1))
                return usageError(QStringLiteral("-o %1 takes one drawing, but --pages %2 names more than one page; "
                                                 "give one page, or -o NAME.zip for them all")
                                      .arg(output, *options.pages));
        }
        options.jobs.append({inputs.first(), output});
    } else {
        options.batch = true;
        QStringList outputs;
        for (const QString& input : inputs) {
            const QString path = outputInDirectory(outputDir, input);
            if (outputs.contains(path))
                return usageError(QStringLiteral("two inputs would both be saved as %1").arg(path));
            outputs << path;
            options.jobs.append({input, path});
        }
    }

    ConvertParseResult result;
    result.kind = ConvertParseResult::Kind::Run;
    result.options = std::move(options);
    return result;
}

}  // namespace unplot

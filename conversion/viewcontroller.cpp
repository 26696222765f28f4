#include "viewcontroller.h"

#include "diagnostics.h"
#include "filefailure.h"
#include "protocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonObject>
#include <QSaveFile>
#include <QUrl>

#include <chrono>
#include <cmath>
#include <iterator>
#include <limits>
#include <string_view>

namespace unplot {
namespace {

QString qs(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

QByteArray qb(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

// A JSON number that holds a whole number in the range of qint64; anything else counts as missing.
std::optional<qint64> integerValue(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const qint64 integer = value.toInteger();
    if (integer == 0 && value.toDouble() != 0.0)
        return std::nullopt; // fractional or out of range
    return integer;
}

// Wraps an HTTP callback: it does nothing once the controller is gone, and a completion (once) runs at most once,
// whatever the HTTP layer does.
template <typename Arg, typename Handler>
std::function<void(Arg)> guarded(const std::shared_ptr<bool>& alive, bool once, Handler handler)
{
    return [alive = std::weak_ptr<bool>(alive), once, handler = std::move(handler),
            done = std::make_shared<bool>(false)](Arg arg) {
        if (alive.expired() || *done)
            return;
        *done = once;
        handler(arg);
    };
}

bool sameService(const QUrl& url, const QUrl& service)
{
    return url.isValid() && url.scheme() == service.scheme() && url.userInfo().isEmpty() &&
           url.host().compare(service.host(), Qt::CaseInsensitive) == 0 && url.port(80) == service.port(80);
}

const QString kNotUnderstood = QStringLiteral("The service's reply could not be understood.");

// Why a file cannot be read, or nothing when it can.
QString unreadable(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("no file is given");
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString() : file.errorString();
}

// Whether a host names this machine, where our own service would run.
bool isThisMachine(const QString& host)
{
    return host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback() ||
           host.compare(QHostInfo::localHostName(), Qt::CaseInsensitive) == 0;
}

constexpr qint64 kCopyChunk = 1 << 20;

} // namespace

// Counts an alert or chooser as open for as long as it runs: ticks that a nested event loop delivers meanwhile are
// held back.
class ViewController::ModalScope {
public:
    explicit ModalScope(ViewController& controller) : controller_(controller) { ++controller_.modalDepth_; }
    ~ModalScope() { --controller_.modalDepth_; }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

private:
    ViewController& controller_;
};

ViewController::ViewController(ConversionView& view, HttpClient& http, TimerScheduler& timers, ServiceConfig config)
    : view_(view), http_(http), timers_(timers), config_(std::move(config)),
      uploadFileUrl_(config_.baseUrl() + qs(protocol::kUploadPath))
{}

ViewController::~ViewController() = default;

QString ViewController::tempZipPath() const
{
    return config_.documentsDir + QStringLiteral("/temp.zip");
}

// ---- Starting a job and the upload ----

void ViewController::convertAction()
{
    if (conversion_)
        return;

    if (view_.inputPath().isEmpty() && selectFileFunc().isEmpty()) {
        dialogOKCancelWithQuestion(QStringLiteral("convert"),
                                   QStringLiteral("Input file or output file/folder is empty."));
        return;
    }
    if (view_.outputPath().isEmpty() && saveFileSelectFunc().isEmpty())
        return;

    if (view_.pageListState() != 0 && view_.pagesText().isEmpty()) {
        view_.setAllPagesState(1);
        view_.setPageListState(0);
    }

    const QString input = view_.inputPath();
    if (const QString reason = unreadable(input); !reason.isEmpty()) {
        dialogOKCancelWithQuestion(QStringLiteral("convert"),
                                   QStringLiteral("Cannot read the input file %1: %2.").arg(input, reason));
        return;
    }

    conversion_ = true;
    jobNotes_.clear();
    const quint64 job = ++job_;
    view_.startBusyIndicator();
    view_.setStatusText(QStringLiteral("Uploading..."));

    if (!uploadFileToWebServerWithQurl(input)) {
        // The file went away since it was checked. Nothing was sent: end the job now instead of leaving
        // "Uploading..." behind with nothing running.
        stopConvertTask();
        dialogOKCancelWithQuestion(QStringLiteral("convert"),
                                   QStringLiteral("Cannot read the input file %1: %2.").arg(input, unreadable(input)));
        view_.jobEnded({});
        return;
    }

    convertRespnseTimer_ = timers_.scheduleRepeating(std::chrono::milliseconds(1000), [this, job] {
        if (isCurrent(job))
            getConvertResponseTimer();
    });
}

bool ViewController::uploadFileToWebServerWithQurl(const QString& path)
{
    {
        QFile probe(path);
        if (path.isEmpty() || !probe.open(QIODevice::ReadOnly))
            return false;
    }

    std::vector<FormPart> parts;
    FormPart file;
    file.name = qs(protocol::kFieldFile);
    file.fileName = qs(protocol::kUploadFileName);
    file.contentType = qs(protocol::kUploadContentType);
    file.filePath = path; // streamed from disk by the HTTP layer
    parts.push_back(std::move(file));

    FormPart type;
    type.name = qs(protocol::kFieldType);
    type.data = qb(view_.dwgState() != 0 ? protocol::kTypeDwg : protocol::kTypeDxf);
    parts.push_back(std::move(type));

    FormPart pages;
    pages.name = qs(protocol::kFieldPages);
    pages.data = view_.allPagesState() != 0 ? qb(protocol::kAllPages) : view_.pagesText().toUtf8();
    parts.push_back(std::move(pages));

    FormPart version;
    version.name = qs(protocol::kFieldVersion);
    version.data = QByteArray::number(selectVersion_);
    parts.push_back(std::move(version));

    const quint64 job = job_;
    http_.upload(uploadFileUrl_, std::move(parts),
                 guarded<const QString&>(alive_, true,
                                         [this, job](const QString& error) {
                                             if (isCurrent(job))
                                                 printPlain(error);
                                         }),
                 guarded<const JsonReply&>(alive_, true,
                                           [this, job](const JsonReply& reply) { handleUploadReply(job, reply); }));
    return true;
}

void ViewController::handleUploadReply(quint64 job, const JsonReply& reply)
{
    if (!isCurrent(job))
        return;
    if (reply.transportError) {
        QString text =
            QStringLiteral("The conversion service at ") + config_.host + QStringLiteral(" cannot be reached.");
        if (!reply.errorText.isEmpty())
            text += QLatin1Char('\n') + reply.errorText;
        if (isThisMachine(QUrl(config_.baseUrl()).host()))
            text += QStringLiteral("\nStart it with unplotd, or with ./run.sh in unplot's source folder.");
        stopConvertTask();
        dialogOKCancelWithQuestion(QStringLiteral("convert"), text);
        view_.jobEnded({});
        return;
    }
    if (!reply.value || !reply.value->isObject())
        return;
    const QJsonObject object = reply.value->toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
            return;
    }

    const QString fileId = object.value(QStringLiteral("fileId")).toString();
    if (object.value(QStringLiteral("result")).toString() != qs(protocol::kUploadAccepted) || fileId.isEmpty()) {
        const QString message = object.value(QStringLiteral("message")).toString();
        stopConvertTask();
        dialogOKCancelWithQuestion(QStringLiteral("convert"),
                                   message.isEmpty() ? QStringLiteral("The conversion service did not accept the file.")
                                                     : message);
        view_.jobEnded({});
        return;
    }
    downloadID_ = fileId;
    view_.setStatusText(QStringLiteral("Converting..."));
}

// ---- Queue polling ----

void ViewController::getConvertResponseTimer()
{
    if (modalDepth_ > 0)
        return; // a nested event loop of an open alert or chooser delivered this tick

    if (convert_timeout_ <= 0) {
        http_.cancelDownloads(); // a download that never ends ends here
        const quint64 job = job_;
        dialogOKCancelWithQuestion(QStringLiteral("Oops, "),
                                   QStringLiteral("file conversion failed.\nPlease email your PDF file to ") +
                                       config_.supportEmail + QStringLiteral(" for services."));
        if (isCurrent(job))
            endJob({});
        return;
    }
    --convert_timeout_;
    if (downloadID_.isEmpty())
        return;

    const QString url =
        config_.baseUrl() + qs(protocol::kQueuePathPrefix) + QString::fromLatin1(QUrl::toPercentEncoding(downloadID_));
    downloadHolder_ = downloadID_;
    downloadID_.clear();
    const quint64 job = job_;
    http_.getJson(url, guarded<const JsonReply&>(alive_, true, [this, job](const JsonReply& reply) {
                      if (isCurrent(job))
                          handleConvertQueueResponse(reply);
                  }));
}

void ViewController::handleConvertQueueResponse(const JsonReply& reply)
{
    if (reply.transportError || !reply.value || !reply.value->isObject()) {
        downloadID_ = downloadHolder_; // no usable answer: ask again on the next tick
        return;
    }
    const QJsonObject object = reply.value->toObject();

    const std::optional<qint64> num = integerValue(object.value(QStringLiteral("num")));
    if (!num) {
        endJob({false, {}, kNotUnderstood});
        printDiagnostic(QStringLiteral("protocol error"));
        return;
    }
    if (*num > 0) {
        downloadID_ = downloadHolder_;
        printDiagnostic(QStringLiteral("queue:") + QString::number(*num));
        return;
    }
    if (*num == protocol::kNumUnknownFile) {
        endJob({false, {}, QStringLiteral("The service does not know the file.")});
        printDiagnostic(QStringLiteral("file dose not exist"));
        return;
    }

    const std::optional<qint64> status = integerValue(object.value(QStringLiteral("status")));
    if (!status)
        return;
    if (*status == protocol::status::kWaiting || *status == protocol::status::kConverting) {
        downloadID_ = downloadHolder_;
        printDiagnostic(QStringLiteral("file upload success, wait 1s reload"));
        return;
    }
    const QString message = object.value(QStringLiteral("message")).toString();
    if (*status != protocol::status::kDone && *status != protocol::status::kDoneWithWarnings) {
        endJob({false, {},
                message.isEmpty() ? QStringLiteral("The conversion failed (status %1).").arg(*status) : message});
        printDiagnostic(QStringLiteral("convert faild status: ") + QString::number(*status));
        return;
    }

    const QString result = object.value(QStringLiteral("result")).toString();
    if (result.isEmpty())
        return;

    // The archive must come from the service itself: a result naming another scheme, host, port or user is refused.
    const QUrl service(config_.baseUrl());
    const QUrl reference(result);
    const bool namesAuthority = !reference.scheme().isEmpty() || result.startsWith(QStringLiteral("//")) ||
                                result.startsWith(QLatin1Char('@')) || result.startsWith(QLatin1Char(':'));
    const QString url =
        config_.baseUrl() + (result.startsWith(QLatin1Char('/')) ? result : QStringLiteral("/") + result);
    if (namesAuthority || !sameService(QUrl(url), service)) {
        endJob({false, {}, kNotUnderstood});
        printDiagnostic(QStringLiteral("protocol error"));
        return;
    }
    jobNotes_ = message; // the warnings of a result that is ready
    printDiagnostic(url);
    downloadConvertResult(url);
}

// ---- Download and saving ----

void ViewController::downloadConvertResult(const QString& url)
{
    QDir().mkpath(config_.documentsDir);
    const quint64 job = job_;
    http_.download(
        url, tempZipPath(),
        guarded<double>(alive_, false, [this, job](double fraction) { handleDownloadProgress(job, fraction); }),
        guarded<const DownloadResult&>(
            alive_, true, [this, job](const DownloadResult& result) { handleDownloadFinished(job, result); }));
}

void ViewController::handleDownloadProgress(quint64 job, double fraction)
{
    if (!isCurrent(job))
        return;
    const double percent = fraction * 100.0;
    if (!std::isfinite(percent) || std::fabs(percent) >= 9.0e18)
        return;
    view_.setStatusText(QStringLiteral("Downloading... ") + QString::number(static_cast<qint64>(percent)) +
                        QStringLiteral(" %"));
}

void ViewController::handleDownloadFinished(quint64 job, const DownloadResult& result)
{
    if (!isCurrent(job))
        return;
    QString error; // why the archive was not saved, shown on a line of its own after "Faild"
    if (result.transportError)
        error = result.errorText.isEmpty() ? QStringLiteral("The download failed.") : result.errorText;
    else if (result.httpStatus >= 200 && result.httpStatus < 300)
        error = saveResult();
    else
        error = QStringLiteral("The service answered with HTTP status %1.").arg(result.httpStatus);
    const QString output = view_.outputPath();
    dialogOKCancelWithQuestion(QStringLiteral("Convert"),
                               error.isEmpty() ? QStringLiteral("successful") : QStringLiteral("Faild\n") + error);
    if (isCurrent(job))
        endJob({error.isEmpty(), output, error.isEmpty() ? jobNotes_ : QString()});
}

QString ViewController::saveResult()
{
    const QString outputPath = view_.outputPath();
    QFile source(tempZipPath());
    if (!source.open(QIODevice::ReadOnly))
        return source.errorString();
    if (outputPath.isEmpty())
        return QStringLiteral("No output file is given.");

    QSaveFile target(outputPath);
    if (!target.open(QIODevice::WriteOnly))
        return target.errorString();
    QByteArray chunk;
    while (!source.atEnd()) {
        chunk = source.read(kCopyChunk);
        if (chunk.isEmpty() && source.error() != QFileDevice::NoError) {
            target.cancelWriting();
            return source.errorString();
        }
        if (target.write(chunk) != chunk.size()) {
            const QString error = failureOf(target);
            target.cancelWriting();
            return error;
        }
    }
    if (!target.commit())
        return failureOf(target);
    return {};
}

// ---- Ending a job ----

void ViewController::endJob(const JobOutcome& outcome)
{
    stopConvertTask();
    view_.jobEnded(outcome);
}

void ViewController::stopConvertTask()
{
    if (convertRespnseTimer_)
        convertRespnseTimer_->invalidate();
    convert_timeout_ = kTimeBudgetTicks;
    downloadID_.clear();
    view_.setStatusText(QString());
    view_.stopBusyIndicator();
    conversion_ = false;
}

// ---- Option controls ----

void ViewController::dwgAction()
{
    view_.setDxfState(0);
}

void ViewController::dxfAction()
{
    view_.setDwgState(0);
}

void ViewController::AllPageOption()
{
    view_.setPageListState(0);
}

void ViewController::SelectPageOption()
{
    view_.setAllPagesState(0);
}

void ViewController::selectVersionAction()
{
    const int index = view_.versionIndex();
    constexpr int count = int(std::size(protocol::kVersions));
    selectVersion_ = (index >= 0 && index < count) ? protocol::kVersions[index].code : protocol::kVersions[0].code;
}

// ---- Choosers and alerts ----

QString ViewController::selectFileFunc()
{
    ModalScope modal(*this);
    return view_.runInputChooser();
}

QString ViewController::saveFileSelectFunc()
{
    ModalScope modal(*this);
    return view_.runOutputChooser();
}

void ViewController::SelectFileAction()
{
    printDiagnostic(selectFileFunc());
}

void ViewController::saveFileAction()
{
    printDiagnostic(saveFileSelectFunc());
}

void ViewController::dialogOKCancelWithQuestion(const QString& question, const QString& text)
{
    ModalScope modal(*this);
    view_.showAlert(question, text);
}

} // namespace unplot

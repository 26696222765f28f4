#pragma once
// The controller of the conversion window: the settings it reads from the view, the state of the one job that can
// run at a time, and that job's lifecycle: upload, queue polling, download, saving.

#include "conversionview.h"
#include "httpclient.h"
#include "serviceconfig.h"
#include "timer.h"

#include <QJsonValue>
#include <QString>

#include <memory>
#include <optional>

namespace unplot {

class ViewController {
public:
    static constexpr qint64 kTimeBudgetTicks = 600;

    ViewController(ConversionView& view, HttpClient& http, TimerScheduler& timers, ServiceConfig config);
    ~ViewController();
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // Actions.
    void convertAction();
    bool uploadFileToWebServerWithQurl(const QString& path);
    void getConvertResponseTimer();
    void handleConvertQueueResponse(const JsonReply& reply);
    void downloadConvertResult(const QString& url);
    void stopConvertTask();

    // The option controls.
    void dwgAction();
    void dxfAction();
    void AllPageOption();
    void SelectPageOption();
    void selectVersionAction();

    // The choosers and the alert, as the window's buttons and the job run them. Ticks of the poll timer that fall
    // while one of these is open are held back.
    QString selectFileFunc();
    QString saveFileSelectFunc();
    void SelectFileAction();
    void saveFileAction();
    void dialogOKCancelWithQuestion(const QString& question, const QString& text);

    // State, read-only for the window and tests.
    const QString& uploadFileUrl() const { return uploadFileUrl_; }
    const QString& downloadID() const { return downloadID_; }
    const QString& downloadHolder() const { return downloadHolder_; }
    qint64 selectVersion() const { return selectVersion_; }
    void setSelectVersion(qint64 code) { selectVersion_ = code; }
    bool conversion() const { return conversion_; }
    qint64 convert_timeout() const { return convert_timeout_; }
    const RepeatingTimer* convertRespnseTimer() const { return convertRespnseTimer_.get(); }
    const ServiceConfig& config() const { return config_; }
    QString tempZipPath() const;

private:
    class ModalScope;
    bool isCurrent(quint64 job) const { return conversion_ && job == job_; }
    void handleUploadReply(quint64 job, const JsonReply& reply);
    void handleDownloadProgress(quint64 job, double fraction);
    void handleDownloadFinished(quint64 job, const DownloadResult& result);
    QString saveResult(); // copies temp.zip to the output path; the reason of a failure, or empty
    void endJob(const JobOutcome& outcome); // stopConvertTask, then tells the view how the job went

    ConversionView& view_;
    HttpClient& http_;
    TimerScheduler& timers_;
    ServiceConfig config_;

    QString uploadFileUrl_;
    QString downloadID_;
    QString downloadHolder_;
    qint64 selectVersion_ = 14;
    bool conversion_ = false;
    qint64 convert_timeout_ = kTimeBudgetTicks;
    std::unique_ptr<RepeatingTimer> convertRespnseTimer_;

    QString jobNotes_;   // the warnings that came with the job's result
    quint64 job_ = 0;    // increases with every job started; replies carry the job that sent their request
    int modalDepth_ = 0; // alerts and choosers open right now
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // HTTP callbacks do nothing once it is gone
};

}  // namespace unplot

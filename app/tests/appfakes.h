#pragma once
// Fakes for the window tests: an HTTP client and a timer that act only when the test says so, and a dialog runner
// that records each dialog the window builds and answers it at once.

#include "dialogrunner.h"
#include "httpclient.h"
#include "timer.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <deque>
#include <memory>
#include <vector>

namespace unplot::test {

class FakeHttp final : public HttpClient {
public:
    struct Upload {
        QString url;
        std::vector<FormPart> parts;
        JsonHandler reply;
    };
    struct Get {
        QString url;
        JsonHandler reply;
    };
    struct Download {
        QString url;
        QString destination;
        DownloadHandler done;
    };
    std::vector<Upload> uploads;
    std::vector<Get> gets;
    std::vector<Download> downloads;

    void upload(const QString& url, std::vector<FormPart> parts, EncodingFailed, JsonHandler onReply) override
    {
        uploads.push_back({url, std::move(parts), std::move(onReply)});
    }
    void getJson(const QString& url, JsonHandler onReply) override { gets.push_back({url, std::move(onReply)}); }
    void download(const QString& url, const QString& destination, ProgressHandler, DownloadHandler onDone) override
    {
        downloads.push_back({url, destination, std::move(onDone)});
    }

    static JsonReply json(const QJsonObject& object)
    {
        JsonReply reply;
        reply.httpStatus = 200;
        reply.value = QJsonValue(object);
        return reply;
    }
    // Writes `body` where the download goes, as the Qt client would, and completes it.
    static void finish(const Download& download, const QByteArray& body)
    {
        QFile file(download.destination);
        if (file.open(QIODevice::WriteOnly))
            file.write(body);
        file.close();
        DownloadResult result;
        result.httpStatus = 200;
        result.bytesWritten = body.size();
        download.done(result);
    }
};

class FakeTimers final : public TimerScheduler {
public:
    struct State {
        std::function<void()> tick;
        bool valid = true;
    };
    std::vector<std::shared_ptr<State>> scheduled;

    std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::milliseconds, std::function<void()> tick) override
    {
        auto state = std::make_shared<State>(State{std::move(tick), true});
        scheduled.push_back(state);
        return std::make_unique<Timer>(state);
    }
    // Fires the latest timer; an invalidated timer does not tick.
    void fire(int times = 1)
    {
        for (int i = 0; i < times && !scheduled.empty(); ++i) {
            const auto state = scheduled.back();
            if (state->valid)
                state->tick();
        }
    }
    bool running() const { return !scheduled.empty() && scheduled.back()->valid; }

private:
    class Timer final : public RepeatingTimer {
    public:
        explicit Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}
        ~Timer() override { state_->valid = false; }
        Timer(const Timer&) = delete;
        Timer& operator=(const Timer&) = delete;
        void invalidate() override { state_->valid = false; }
        bool isValid() const override { return state_->valid; }

    private:
        std::shared_ptr<State> state_;
    };
};

class RecordingDialogs final : public DialogRunner {
public:
    struct Box {
        QString text;
        QString informativeText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttons;
    };
    struct FileDialog {
        QString title;
        QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
        QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
        QStringList nameFilters;
        QFileDialog::Options options;
        QString defaultSuffix;
    };
    std::vector<Box> boxes;
    std::vector<FileDialog> fileDialogs;
    std::deque<QStringList> fileAnswers;   // one per file dialog; an empty list (or none left) cancels
    std::function<void()> whileBoxOpen;    // runs inside each message box, as the user's waiting would

    void runMessageBox(QMessageBox& box) override
    {
        Box seen{box.text(), box.informativeText(), box.icon(), {}};
        for (QAbstractButton* button : box.buttons())
            seen.buttons << button->text();
        boxes.push_back(seen);
        if (whileBoxOpen)
            whileBoxOpen();
    }
    QStringList runFileDialog(QFileDialog& dialog) override
    {
        fileDialogs.push_back({dialog.windowTitle(), dialog.acceptMode(), dialog.fileMode(), dialog.nameFilters(),
                               dialog.options(), dialog.defaultSuffix()});
        if (fileAnswers.empty())
            return {};
        QStringList answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
};

}  // namespace unplot::test

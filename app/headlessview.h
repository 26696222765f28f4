#pragma once
// The conversion controller's view for `unplot convert`: the settings come from the command line, the choosers
// answer with the given paths, the status line and the alerts go to standard error.

#include "conversionview.h"

#include <QString>

#include <cstdio>
#include <functional>

namespace unplot {

class HeadlessView final : public ConversionView {
public:
    // `stream` receives the status and the alerts; `terminal` rewrites the status line in place.
    HeadlessView(std::FILE* stream, bool terminal);

    // The settings of the next job; `linePrefix` starts each of its status and message lines.
    void setPaths(const QString& input, const QString& output, const QString& linePrefix = {});
    void setOptions(bool dwg, const QString* pages, int versionIndex);

    // What the job showed since resetJob(): its alerts, whether it saved the archive, and if not, why not in a few
    // words.
    void resetJob();
    int alertCount() const { return alertCount_; }
    bool succeeded() const { return succeeded_; }
    QString failure() const { return failure_; }

    // Ends a status line left open on a terminal, so that the next output starts on a line of its own.
    void finishStatusLine();
    // Draws the status line again after finishStatusLine (on a terminal).
    void redrawStatusLine();
    // Runs before the view writes anything: lets other output that is still buffered go first.
    void setBeforeOutput(std::function<void()> hook) { beforeOutput_ = std::move(hook); }

    // Writes one line of the front end's own.
    void printLine(const QString& line);

    void setOnBusyStopped(std::function<void()> callback) { onBusyStopped_ = std::move(callback); }

    // ConversionView.
    void setStatusText(const QString& text) override;
    void startBusyIndicator() override {}
    void stopBusyIndicator() override;
    void showAlert(const QString& question, const QString& text) override;
    void jobEnded(const JobOutcome& outcome) override;
    QString runInputChooser() override { return input_; }
    QString runOutputChooser() override { return output_; }
    QString inputPath() const override { return input_; }
    QString outputPath() const override { return output_; }
    QString pagesText() const override { return pages_; }
    int dwgState() const override { return dwg_; }
    int allPagesState() const override { return allPages_; }
    int pageListState() const override { return pageList_; }
    int versionIndex() const override { return versionIndex_; }
    void setDwgState(int state) override { dwg_ = state; }
    void setDxfState(int) override {}
    void setAllPagesState(int state) override { allPages_ = state; }
    void setPageListState(int state) override { pageList_ = state; }

private:
    void write(const QString& text);
    // Writes one message line (question + " " + text, line breaks turned into blanks).
    void printMessage(const QString& question, const QString& text);

    std::FILE* stream_;
    bool terminal_;
    bool lineOpen_ = false;
    QString lastStatus_;  // the status text shown last
    QString linePrefix_;
    std::function<void()> beforeOutput_;

    QString input_;
    QString output_;
    QString pages_;
    int dwg_ = 1;
    int allPages_ = 1;
    int pageList_ = 0;
    int versionIndex_ = 0;

    int alertCount_ = 0;
    bool succeeded_ = false;
    QString failure_;
    std::function<void()> onBusyStopped_;
};

}  // namespace unplot

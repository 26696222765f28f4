#pragma once
// A window for controller tests: records what the controller shows and answers the choosers from a script.

#include "conversionview.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace unplot::test {

class FakeView final : public ConversionView {
public:
    struct Alert {
        QString question;
        QString text;
    };

    // Everything the controller did to the view, in order: "status:TEXT", "busy:start", "busy:stop",
    // "alert:QUESTION|TEXT", "chooser:input", "chooser:output".
    QStringList events;
    QStringList statusTexts;
    QList<Alert> alerts;
    bool busy = false;

    // The controls.
    QString input;
    QString output;
    QString pages;
    int dwg = 1;
    int dxf = 0;
    int allPages = 1;
    int pageList = 0;
    int version = 0;

    // What the choosers pick; nullopt is a cancel.
    std::optional<QString> inputChoice;
    std::optional<QString> outputChoice;

    // Runs inside every alert and chooser, as a nested event loop would (ticks, replies).
    std::function<void()> whileModal;

    QString status() const { return statusTexts.isEmpty() ? QString() : statusTexts.constLast(); }
    qsizetype indexOf(const QString& event) const { return events.indexOf(event); }

    void setStatusText(const QString& text) override
    {
        statusTexts << text;
        events << QStringLiteral("status:") + text;
    }
    void startBusyIndicator() override
    {
        busy = true;
        events << QStringLiteral("busy:start");
    }
    void stopBusyIndicator() override
    {
        busy = false;
        events << QStringLiteral("busy:stop");
    }
    void showAlert(const QString& question, const QString& text) override
    {
        alerts << Alert{question, text};
        events << QStringLiteral("alert:") + question + QLatin1Char('|') + text;
        modal();
    }
    QString runInputChooser() override
    {
        events << QStringLiteral("chooser:input");
        modal();
        if (inputChoice)
            input = *inputChoice;
        return input;
    }
    QString runOutputChooser() override
    {
        events << QStringLiteral("chooser:output");
        modal();
        if (outputChoice)
            output = *outputChoice;
        return output;
    }

    QString inputPath() const override { return input; }
    QString outputPath() const override { return output; }
    QString pagesText() const override { return pages; }
    int dwgState() const override { return dwg; }
    int allPagesState() const override { return allPages; }
    int pageListState() const override { return pageList; }
    int versionIndex() const override { return version; }

    void setDwgState(int state) override { dwg = state; }
    void setDxfState(int state) override { dxf = state; }
    void setAllPagesState(int state) override { allPages = state; }
    void setPageListState(int state) override { pageList = state; }

private:
    void modal()
    {
        if (whileModal)
            whileModal();
    }
};

} // namespace unplot::test

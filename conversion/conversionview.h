#pragma once
// What the conversion controller needs from its window. The desktop window implements it with widgets, the
// headless `unplot convert` front end with its command-line arguments and standard error, tests with a recorder.

#include <QString>

namespace unplot {

// How a job ended, for the view to tell the user after the job's alert, if it had one.
struct JobOutcome {
    bool saved = false; // the archive was written to `output`
    QString output;
    QString notes; // what the service said about the job (its warnings, or why it failed), one per line
};

class ConversionView {
public:
    virtual ~ConversionView() = default;

    // Status line and busy indicator.
    virtual void setStatusText(const QString& text) = 0;   // replaces the whole line
    virtual void startBusyIndicator() = 0;
    virtual void stopBusyIndicator() = 0;                 // a stopped indicator is hidden

    // A modal alert: returns once the user has dismissed it. Shown as question + " " + text.
    virtual void showAlert(const QString& question, const QString& text) = 0;

    // The job has ended and the controller is idle again.
    virtual void jobEnded(const JobOutcome& outcome) = 0;

    // The file choosers: run modally; a confirmed choice is written into the path field. Each returns the field's
    // text after the chooser has closed, chosen or cancelled.
    virtual QString runInputChooser() = 0;
    virtual QString runOutputChooser() = 0;

    // Settings as the controls hold them. Button states are 1 (on) and 0 (off).
    virtual QString inputPath() const = 0;
    virtual QString outputPath() const = 0;
    virtual QString pagesText() const = 0;
    virtual int dwgState() const = 0;
    virtual int allPagesState() const = 0;
    virtual int pageListState() const = 0;
    virtual int versionIndex() const = 0;  // selected entry of the version pop-up, -1 when none

    // Control changes made by the controller.
    virtual void setDwgState(int state) = 0;
    virtual void setDxfState(int state) = 0;
    virtual void setAllPagesState(int state) = 0;
    virtual void setPageListState(int state) = 0;
};

}  // namespace unplot

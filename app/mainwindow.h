#pragma once
// The conversion window. Its layout comes from mainwindow.ui; the conversion itself is ViewController's, to which
// every control's action is wired. The window is the controller's view: it shows the status line, the busy
// indicator, the alerts and the file choosers, and hands the controls' settings over.

#include "conversionview.h"
#include "serviceconfig.h"

#include <QWidget>

#include <memory>

class QFileDialog;
class QLineEdit;

namespace Ui {
class MainWindow;
}

namespace unplot {

class DialogRunner;
class HttpClient;
class TimerScheduler;
class ViewController;

class MainWindow final : public QWidget, public ConversionView {
    Q_OBJECT
public:
    MainWindow(HttpClient& http, TimerScheduler& timers, ServiceConfig config, DialogRunner& dialogs,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    ViewController& controller() { return *controller_; }

    // ConversionView.
    void setStatusText(const QString& text) override;
    void startBusyIndicator() override;
    void stopBusyIndicator() override;
    void showAlert(const QString& question, const QString& text) override;
    void jobEnded(const JobOutcome& outcome) override;
    QString runInputChooser() override;
    QString runOutputChooser() override;
    QString inputPath() const override;
    QString outputPath() const override;
    QString pagesText() const override;
    int dwgState() const override;
    int allPagesState() const override;
    int pageListState() const override;
    int versionIndex() const override;
    void setDwgState(int state) override;
    void setDxfState(int state) override;
    void setAllPagesState(int state) override;
    void setPageListState(int state) override;

    // Window lifecycle.
    void viewDidLoad();
    void viewDidAppear();
    void windowShouldClose();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override; // a PDF file dropped on the window is the input
    void dropEvent(QDropEvent* event) override;

private:
    void connectActions();
    void setJobRunning(bool running);
    // Runs a file dialog that opens where `shown` is (else in the folder last chosen under `key`) and writes the
    // choice into `field`; returns the field's text.
    QString runChooser(QFileDialog& dialog, QLineEdit* field, const QString& shown, const char* key);

    std::unique_ptr<Ui::MainWindow> ui_;
    DialogRunner& dialogs_;
    std::unique_ptr<ViewController> controller_;
};

}  // namespace unplot

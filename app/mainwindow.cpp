#include "mainwindow.h"

#include "dialogrunner.h"
#include "ui_mainwindow.h"
#include "viewcontroller.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QShortcut>

namespace unplot {

namespace {

int stateOf(const QAbstractButton* button)
{
    return button->isChecked() ? 1 : 0;
}

// The path a file dialog delivered, written as a plain path (no URL form, no percent escapes).
QString firstPath(const QStringList& files)
{
    return files.isEmpty() || files.first().isEmpty() ? QString() : QDir::toNativeSeparators(files.first());
}

// The settings kept between runs: the folders last chosen.
QSettings settings()
{
    return QSettings(QStringLiteral("unplot"), QStringLiteral("unplot"));
}

// NAME.zip beside NAME.pdf.
QString suggestedOutput(const QString& input)
{
    const QFileInfo info(input);
    return QDir::toNativeSeparators(info.dir().filePath(info.completeBaseName() + QStringLiteral(".zip")));
}

// The one local PDF file a drag carries, or nothing.
QString draggedPdf(const QMimeData* data)
{
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    const QString path = urls.size() == 1 ? urls.first().toLocalFile() : QString();
    return path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive) && QFileInfo(path).isFile()
               ? QDir::toNativeSeparators(path)
               : QString();
}

}  // namespace

MainWindow::MainWindow(HttpClient& http, TimerScheduler& timers, ServiceConfig config, DialogRunner& dialogs,
                       QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::MainWindow>()), dialogs_(dialogs)
{
    ui_->setupUi(this);
    controller_ = std::make_unique<ViewController>(*this, http, timers, std::move(config));
    connectActions();
    viewDidLoad();
}

MainWindow::~MainWindow() = default;

void MainWindow::connectActions()
{
    ViewController& c = *controller_;
    connect(ui_->selectFileButton, &QPushButton::clicked, this, [&c] { c.SelectFileAction(); });
    connect(ui_->saveFileButton, &QPushButton::clicked, this, [&c] { c.saveFileAction(); });
    connect(ui_->dwgControl, &QAbstractButton::clicked, this, [&c] { c.dwgAction(); });
    connect(ui_->dxfControl, &QAbstractButton::clicked, this, [&c] { c.dxfAction(); });
    connect(ui_->optionAllPage, &QAbstractButton::clicked, this, [&c] { c.AllPageOption(); });
    connect(ui_->optionPage, &QAbstractButton::clicked, this, [&c] { c.SelectPageOption(); });
    connect(ui_->versionControl, &QComboBox::activated, this, [&c] { c.selectVersionAction(); });
    connect(ui_->convertButton, &QPushButton::clicked, this, [&c] { c.convertAction(); });

    // Ctrl+Q, and the desktop's own keys to quit and to close, close the window (and so end the application).
    QList<QKeySequence> closeKeys{QKeySequence(Qt::CTRL | Qt::Key_Q)};
    for (const auto standard : {QKeySequence::Quit, QKeySequence::Close}) {
        for (const QKeySequence& key : QKeySequence::keyBindings(standard)) {
            if (!closeKeys.contains(key)) // one shortcut per key: two would make it ambiguous
                closeKeys << key;
        }
    }
    for (const QKeySequence& key : closeKeys)
        connect(new QShortcut(key, this), &QShortcut::activated, this, &QWidget::close);

    // Return or Enter anywhere in the window presses Convert, as the default button of a dialog would.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, ui_->convertButton, &QPushButton::animateClick);
    }
}

void MainWindow::viewDidLoad()
{
    setWindowIcon(QIcon(QStringLiteral(":/unplot/unplot-256.png")));
    ui_->dwgControl->setChecked(true);
    ui_->optionAllPage->setChecked(true);
    ui_->statusBar->setText(QString());
    QSizePolicy keepPlace = ui_->statusIcon->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);  // the status text stays put when the indicator comes and goes
    ui_->statusIcon->setSizePolicy(keepPlace);
    ui_->statusIcon->setVisible(false);  // shown only while busy
    ui_->selectFilename->setFocus();
    setAcceptDrops(true);
    adjustSize();
}

void MainWindow::viewDidAppear()
{
    // Nothing to attach: this window reports its own closing (closeEvent).
}

void MainWindow::windowShouldClose()
{
    // Ends the application at once, whatever runs: no question, nothing cancelled or cleaned up.
    QCoreApplication::exit(0);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    viewDidAppear();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    windowShouldClose();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (ui_->selectFilename->isEnabled() && !draggedPdf(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QString pdf = draggedPdf(event->mimeData());
    if (!ui_->selectFilename->isEnabled() || pdf.isEmpty())
        return;
    event->acceptProposedAction();
    ui_->selectFilename->setText(pdf);
    if (ui_->saveFilename->text().isEmpty())
        ui_->saveFilename->setText(suggestedOutput(pdf));
}

void MainWindow::setStatusText(const QString& text)
{
    ui_->statusBar->setTextFormat(Qt::PlainText);
    ui_->statusBar->setText(text);
    ui_->statusBar->setToolTip(QString());
}

void MainWindow::startBusyIndicator()
{
    ui_->statusIcon->setVisible(true);
    setJobRunning(true);
}

void MainWindow::stopBusyIndicator()
{
    ui_->statusIcon->setVisible(false);
    setJobRunning(false);
}

// While a job runs, Convert and the settings (which it no longer reads) look disabled.
void MainWindow::setJobRunning(bool running)
{
    for (QWidget* control : std::initializer_list<QWidget*>{
             ui_->selectFilename, ui_->selectFileButton, ui_->saveFilename, ui_->saveFileButton, ui_->dwgControl,
             ui_->dxfControl, ui_->versionControl, ui_->optionAllPage, ui_->optionPage, ui_->pagesText,
             ui_->convertButton})
        control->setEnabled(!running);
}

// The status line says what became of the job: where the archive went (with a link to its folder) and the
// service's warnings, or why nothing was converted when no alert said so.
void MainWindow::jobEnded(const JobOutcome& outcome)
{
    const QStringList notes = outcome.notes.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QString text;
    if (outcome.saved) {
        text = QStringLiteral("Saved %1").arg(QFileInfo(outcome.output).fileName());
        if (!notes.isEmpty())
            text += notes.size() == 1 ? QStringLiteral(", with a warning: %1").arg(notes.first())
                                      : QStringLiteral(", with %1 warnings: %2").arg(notes.size()).arg(notes.join("; "));
        text = text.toHtmlEscaped() +
               QStringLiteral(". <a href=\"%1\">Open the folder</a>")
                   .arg(QUrl::fromLocalFile(QFileInfo(outcome.output).absolutePath()).toString().toHtmlEscaped());
    } else if (!notes.isEmpty()) {
        text = QStringLiteral("Not converted: %1").arg(notes.join(QStringLiteral("; "))).toHtmlEscaped();
    }
    ui_->statusBar->setTextFormat(Qt::RichText);
    ui_->statusBar->setText(text);
    ui_->statusBar->setToolTip(outcome.notes);
}

void MainWindow::showAlert(const QString& question, const QString& text)
{
    QMessageBox box(this);
    box.setWindowTitle(windowTitle());
    box.setTextFormat(Qt::PlainText);
    box.setText(QString());
    box.setInformativeText(question + QLatin1Char(' ') + text);
    box.setIcon(QMessageBox::Warning);
    // With no headline Qt sizes the box by the body alone and wraps it into a narrow column: give it room.
    box.setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 24em; }"));
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    dialogs_.runMessageBox(box);
}

QString MainWindow::runChooser(QFileDialog& dialog, QLineEdit* field, const QString& shown, const char* key)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog); // the widget dialog honours ReadOnly (no new folder)
    dialog.setOption(QFileDialog::ReadOnly);
    dialog.setSizeGripEnabled(true);
    const QFileInfo info(shown);
    const QString last = settings().value(QLatin1String(key)).toString();
    if (!shown.isEmpty() && info.absoluteDir().exists())
        dialog.setDirectory(info.absolutePath());
    else
        dialog.setDirectory(!last.isEmpty() && QFileInfo(last).isDir() ? last : QDir::homePath());
    if (dialog.acceptMode() == QFileDialog::AcceptSave && !shown.isEmpty())
        dialog.selectFile(info.fileName());
    const QString chosen = firstPath(dialogs_.runFileDialog(dialog));
    if (!chosen.isEmpty()) {
        field->setText(chosen);
        settings().setValue(QLatin1String(key), QFileInfo(chosen).absolutePath());
    }
    return field->text();
}

QString MainWindow::runInputChooser()
{
    QFileDialog dialog(this, QStringLiteral("Choose a .pdf file"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("PDF files (*.pdf)"));
    return runChooser(dialog, ui_->selectFilename, ui_->selectFilename->text(), "folders/input");
}

// The output chooser opens where the output field points, else beside the input with the input's name.
QString MainWindow::runOutputChooser()
{
    QFileDialog dialog(this, QStringLiteral("Choose the output .zip file"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("ZIP archives (*.zip)"));
    dialog.setDefaultSuffix(QStringLiteral("zip"));
    const QString output = ui_->saveFilename->text();
    const QString input = ui_->selectFilename->text();
    return runChooser(dialog, ui_->saveFilename, output.isEmpty() && !input.isEmpty() ? suggestedOutput(input) : output,
                      "folders/output");
}

QString MainWindow::inputPath() const
{
    return ui_->selectFilename->text();
}

QString MainWindow::outputPath() const
{
    return ui_->saveFilename->text();
}

QString MainWindow::pagesText() const
{
    return ui_->pagesText->text();
}

int MainWindow::dwgState() const
{
    return stateOf(ui_->dwgControl);
}

int MainWindow::allPagesState() const
{
    return stateOf(ui_->optionAllPage);
}

int MainWindow::pageListState() const
{
    return stateOf(ui_->optionPage);
}

int MainWindow::versionIndex() const
{
    return ui_->versionControl->currentIndex();
}

void MainWindow::setDwgState(int state)
{
    ui_->dwgControl->setChecked(state != 0);
}

void MainWindow::setDxfState(int state)
{
    ui_->dxfControl->setChecked(state != 0);
}

void MainWindow::setAllPagesState(int state)
{
    ui_->optionAllPage->setChecked(state != 0);
}

void MainWindow::setPageListState(int state)
{
    ui_->optionPage->setChecked(state != 0);
}

}  // namespace unplot

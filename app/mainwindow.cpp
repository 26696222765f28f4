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

// A chooser opens in the folder of the path its field shows, else in the home folder.
QString startFolder(const QString& fieldText)
{
    const QFileInfo shown(fieldText);
    if (!fieldText.isEmpty() && shown.absoluteDir().exists())
        return shown.absolutePath();
    return QDir::homePath();
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

void MainWindow::setStatusText(const QString& text)
{
    ui_->statusBar->setText(text);
}

void MainWindow::startBusyIndicator()
{
    ui_->statusIcon->setVisible(true);
}

void MainWindow::stopBusyIndicator()
{
    ui_->statusIcon->setVisible(false);
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

QString MainWindow::runInputChooser()
{
    QFileDialog dialog(this, QStringLiteral("Choose a .pdf file"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);  // the widget dialog honours ReadOnly (no new folder)
    dialog.setOption(QFileDialog::ReadOnly);
    dialog.setSizeGripEnabled(true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDirectory(startFolder(ui_->selectFilename->text()));
    dialog.setNameFilter(QStringLiteral("PDF files (*.pdf)"));
    const QString chosen = firstPath(dialogs_.runFileDialog(dialog));
    if (!chosen.isEmpty())
        ui_->selectFilename->setText(chosen);
    return ui_->selectFilename->text();
}

QString MainWindow::runOutputChooser()
{
    QFileDialog dialog(this, QStringLiteral("Choose the output .zip file"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ReadOnly);
    dialog.setSizeGripEnabled(true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDirectory(startFolder(ui_->saveFilename->text()));
    dialog.setNameFilter(QStringLiteral("ZIP archives (*.zip)"));
    dialog.setDefaultSuffix(QStringLiteral("zip"));
    const QString chosen = firstPath(dialogs_.runFileDialog(dialog));
    if (!chosen.isEmpty())
        ui_->saveFilename->setText(chosen);
    return ui_->saveFilename->text();
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

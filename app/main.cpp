// unplot: the conversion window, or with "convert" as its first argument the same conversion without a window.

#include "appdelegate.h"
#include "convertcommand.h"
#include "dialogrunner.h"
#include "mainwindow.h"
#include "qthttpclient.h"
#include "qttimer.h"
#include "serviceconfig.h"
#include "version.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "Usage: unplot                open the conversion window\n"
    "       unplot convert ...    convert without a window (see unplot convert --help)\n"
    "       unplot --version      show the version and the commit it was built from\n"
    "\n"
    "The window and unplot convert talk to the conversion service at $UNPLOT_SERVICE, else localhost:8040 (start\n"
    "it with unplotd, or with ./run.sh in unplot's source folder). Qt's own settings, such as the platform, come\n"
    "from its environment variables (QT_QPA_PLATFORM=offscreen, ...).\n";

} // namespace

int main(int argc, char* argv[])
{
    // Everything but the window is decided before Qt starts, so that it works without a display.
    const char* first = argc > 1 ? argv[1] : "";
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (std::strcmp(first, "--version") == 0) {
        std::fputs(unplot::versionText("unplot").c_str(), stdout);
        return 0;
    }
    if (std::strcmp(first, "convert") == 0) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("unplot"));
        return unplot::ConvertCommand::run(QCoreApplication::arguments().mid(2));
    }
    if (argc > 1) {
        std::fprintf(stderr, "unplot: unknown argument '%s' (see unplot --help)\n", first);
        return 2;
    }
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        std::fputs("unplot: no display: the window needs a desktop session; without one, use unplot convert "
                   "(see unplot --help)\n",
                   stderr);
        return 1;
    }

    int qtArgc = 1; // no arguments reach Qt: it would take some for its own and pass the rest
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("unplot"));
    QApplication::setDesktopFileName(QStringLiteral("unplot"));

    unplot::AppDelegate delegate;
    unplot::QtHttpClient http;
    unplot::QtTimerScheduler timers;
    unplot::ModalDialogRunner dialogs;
    unplot::MainWindow window(http, timers, unplot::ServiceConfig::fromEnvironment(), dialogs);
    window.show();
    QApplication::exec();
    return 0;
}

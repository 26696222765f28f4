// unplot: the conversion window, or with "convert" as its first argument the same conversion without a window.

#include "appdelegate.h"
#include "convertcommand.h"
#include "dialogrunner.h"
#include "mainwindow.h"
#include "qthttpclient.h"
#include "qttimer.h"
#include "serviceconfig.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {
constexpr const char* kUsage = "Usage: unplot            open the conversion window\n"
                               "       unplot convert    convert without a window (see unplot convert --help)\n";
}

int main(int argc, char* argv[])
{
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "convert") == 0) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("unplot"));
        return unplot::ConvertCommand::run(QCoreApplication::arguments().mid(2));
    }

    QApplication app(argc, argv);  // takes Qt's own options (-platform, -style, ...)
    QApplication::setApplicationName(QStringLiteral("unplot"));
    QApplication::setDesktopFileName(QStringLiteral("unplot"));
    if (QCoreApplication::arguments().size() > 1) {
        std::fprintf(stderr, "unplot: unknown command '%s'\n%s", qPrintable(QCoreApplication::arguments().at(1)),
                     kUsage);
        return 2;
    }

    unplot::AppDelegate delegate;
    unplot::QtHttpClient http;
    unplot::QtTimerScheduler timers;
    unplot::ModalDialogRunner dialogs;
    unplot::MainWindow window(http, timers, unplot::ServiceConfig::fromEnvironment(), dialogs);
    window.show();
    QApplication::exec();
    return 0;
}

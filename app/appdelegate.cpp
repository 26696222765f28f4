#include "appdelegate.h"

#include <QCoreApplication>
#include <QTimer>

namespace unplot {

AppDelegate::AppDelegate(QObject* parent) : QObject(parent)
{
    // Launching has finished once the main loop runs its first events.
    QTimer::singleShot(0, this, &AppDelegate::applicationDidFinishLaunching);
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
}

void AppDelegate::applicationDidFinishLaunching() {}

void AppDelegate::applicationWillTerminate() {}

}  // namespace unplot

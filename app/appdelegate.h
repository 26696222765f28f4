#pragma once
#include <QObject>

namespace unplot {

// The application's delegate. Its two hooks are called when the application has started and when it is about to
// end; neither does anything.
class AppDelegate final : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);

public slots:
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
};

}  // namespace unplot

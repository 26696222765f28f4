#include "viewcontroller.h"

// Placeholder bodies: the job logic lands in the next commit.
namespace unplot {
ViewController::ViewController(ConversionView& view, HttpClient& http, TimerScheduler& timers, ServiceConfig config)
    : view_(view), http_(http), timers_(timers), config_(std::move(config))
{
}
ViewController::~ViewController() = default;
void ViewController::convertAction() {}
bool ViewController::uploadFileToWebServerWithQurl(const QString&) { return false; }
void ViewController::getConvertResponseTimer() {}
void ViewController::handleConvertQueueResponse(const JsonReply&) {}
void ViewController::downloadConvertResult(const QString&) {}
void ViewController::stopConvertTask() {}
void ViewController::dwgAction() {}
void ViewController::dxfAction() {}
void ViewController::AllPageOption() {}
void ViewController::SelectPageOption() {}
void ViewController::selectVersionAction() {}
QString ViewController::selectFileFunc() { return {}; }
QString ViewController::saveFileSelectFunc() { return {}; }
void ViewController::SelectFileAction() {}
void ViewController::saveFileAction() {}
void ViewController::dialogOKCancelWithQuestion(const QString&, const QString&) {}
QString ViewController::tempZipPath() const { return {}; }
}  // namespace unplot

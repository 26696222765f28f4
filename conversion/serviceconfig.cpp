#include "serviceconfig.h"

#include "protocol.h"

#include <QStandardPaths>

namespace unplot {

ServiceConfig ServiceConfig::fromEnvironment()
{
    ServiceConfig config;
    const QString fromEnv = qEnvironmentVariable(protocol::kHostEnvironmentVariable).trimmed();
    config.host = fromEnv.isEmpty()
                      ? QString::fromLatin1(protocol::kDefaultHost.data(), qsizetype(protocol::kDefaultHost.size()))
                      : fromEnv;
    config.documentsDir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    config.supportEmail = QString::fromLatin1(kSupportEmail);
    return config;
}

}  // namespace unplot

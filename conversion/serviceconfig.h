#pragma once
#include <QString>

namespace unplot {

// Where the controller finds its service and its files. Built once at start-up; tests build their own.
struct ServiceConfig {
    QString host;           // "host" or "host:port"; every address is "http://" + host + path
    QString documentsDir;   // where temp.zip goes (created when missing)
    QString supportEmail;   // quoted in the time-out alert

    // The default host (our own service on localhost), overridden by UNPLOT_SERVICE; the user's documents folder.
    static ServiceConfig fromEnvironment();

    QString baseUrl() const { return QStringLiteral("http://") + host; }
};

inline constexpr const char* kSupportEmail = "support@unplot.example";

}  // namespace unplot

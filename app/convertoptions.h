#pragma once
// The command line of `unplot convert`.

#include <QString>
#include <QStringList>

#include <optional>

namespace unplot {

struct ConvertJob {
    QString input;
    QString output;
};

struct ConvertOptions {
    QList<ConvertJob> jobs;         // in the order given
    bool batch = false;             // -d: several files, each line names its file, a summary at the end
    bool oneDrawing = false;        // -o names a .dxf or .dwg: the one drawing goes there, not the archive
    bool dwg = true;                // false: DXF
    std::optional<QString> pages;   // absent: all pages
    int versionIndex = 0;           // entry of the version list (0 = R14, code 14)
    int timeLimitSeconds = 0;       // 0: only the controller's own budget of 600 ticks
    QString service;                // empty: UNPLOT_SERVICE or the default host
};

struct ConvertParseResult {
    enum class Kind { Run, Help, UsageError };
    Kind kind = Kind::UsageError;
    ConvertOptions options;
    QString error;  // one line, for a usage error
};

// Reads the arguments that follow "convert". Creates nothing on disk.
ConvertParseResult parseConvertArguments(const QStringList& arguments);

// The text printed by --help.
QString convertUsage();

}  // namespace unplot

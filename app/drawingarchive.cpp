#include "drawingarchive.h"

#include "filefailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>

#include <zip.h>

namespace unplot {
namespace {

// Opens the archive and finds its drawings; the archive is null when it cannot be read.
struct Drawings {
    zip_t* archive = nullptr;
    QList<zip_uint64_t> members;

    explicit Drawings(const QString& path)
    {
        archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, nullptr);
        for (zip_int64_t i = 0; archive && i < zip_get_num_entries(archive, 0); ++i) {
            const QString name = QString::fromUtf8(zip_get_name(archive, zip_uint64_t(i), ZIP_FL_ENC_GUESS));
            if (name.endsWith(QLatin1String(".dxf"), Qt::CaseInsensitive) ||
                name.endsWith(QLatin1String(".dwg"), Qt::CaseInsensitive))
                members << zip_uint64_t(i);
        }
    }
    ~Drawings()
    {
        if (archive)
            zip_discard(archive);
    }
    Drawings(const Drawings&) = delete;
    Drawings& operator=(const Drawings&) = delete;
};

} // namespace

int countDrawings(const QString& archive)
{
    const Drawings drawings(archive);
    return drawings.archive ? int(drawings.members.size()) : -1;
}

namespace {

// Writes one member of the archive to `target`; the reason when that fails, else "".
QString extractMember(zip_t* archive, zip_uint64_t index, const QString& target)
{
    zip_file_t* member = zip_fopen_index(archive, index, 0);
    if (!member)
        return QString::fromUtf8(zip_strerror(archive));
    const auto closeMember = qScopeGuard([member] { zip_fclose(member); });
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return out.errorString();
    char buffer[1 << 16];
    zip_int64_t got = 0;
    while ((got = zip_fread(member, buffer, sizeof buffer)) > 0) {
        if (out.write(buffer, got) != got)
            return failureOf(out);
    }
    if (got < 0)
        return QStringLiteral("The result archive is damaged.");
    return out.commit() ? QString() : failureOf(out);
}

} // namespace

QString extractOnlyDrawing(const QString& archive, const QString& target)
{
    const Drawings drawings(archive);
    if (!drawings.archive)
        return QStringLiteral("The result archive cannot be read.");
    if (drawings.members.size() != 1)
        return QStringLiteral("The result archive holds %1 drawings, not one.").arg(drawings.members.size());
    if (const QString error = extractMember(drawings.archive, drawings.members.first(), target); !error.isEmpty())
        return error;
    // The drawing's image files go beside it, where its relative paths name them.
    const QDir folder = QFileInfo(target).dir();
    for (zip_int64_t i = 0; i < zip_get_num_entries(drawings.archive, 0); ++i) {
        const QString name = QString::fromUtf8(zip_get_name(drawings.archive, zip_uint64_t(i), ZIP_FL_ENC_GUESS));
        const bool image = name.endsWith(QLatin1String(".png")) || name.endsWith(QLatin1String(".jpg"));
        if (image && !name.contains(QLatin1Char('/')) && !name.startsWith(QLatin1Char('.')))
            if (const QString error = extractMember(drawings.archive, zip_uint64_t(i), folder.filePath(name));
                !error.isEmpty())
                return error;
    }
    return {};
}

} // namespace unplot

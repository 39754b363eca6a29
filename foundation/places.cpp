#include "foundation/places.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

QSettings fileSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("allstats"),
                     QStringLiteral("allstats"));
}

const QString kLastFolderKey = QStringLiteral("export/folder");

} // namespace

QString demoDatabasePath()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/allstats/demo.sqlite");
}

QString dataDir(const QString& name)
{
    // Relative to the executable, so an unpacked package finds its data wherever it lies.
    const QString app = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {app + u'/' + name, app + QStringLiteral("/../share/allstats/") + name}) {
        if (QDir(candidate).exists())
            return QDir(candidate).canonicalPath();
    }
    return {};
}

QString defaultHooksDir()
{
    return dataDir(QStringLiteral("hooks"));
}

QString pictureDir()
{
    return dataDir(QStringLiteral("pic"));
}

QString outputDir()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    const QString dir = base + QStringLiteral("/allstats/out");
    QDir().mkpath(dir);
    return dir;
}

QString documentsDir()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (dir.isEmpty())
        dir = QDir::homePath();
    QDir().mkpath(dir);
    return dir;
}

QString lastFileFolder()
{
    const QString folder = fileSettings().value(kLastFolderKey).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        return folder;
    return documentsDir();
}

void rememberFileFolder(const QString& folder)
{
    if (!folder.isEmpty())
        fileSettings().setValue(kLastFolderKey, QDir::cleanPath(folder));
}

QString reportFileStem(const QString& title, const QString& regionName, const QString& period)
{
    QStringList parts;
    for (const QString& p : {title, regionName, period})
        if (!p.trimmed().isEmpty())
            parts << p.trimmed();
    QString name = parts.join(u'-');
    for (QChar& c : name)
        if (QStringLiteral("/\\:*?\"<>|").contains(c) || c.unicode() < 0x20)
            c = u'_';
    return name.isEmpty() ? QStringLiteral("报表") : name;
}

QString freeFilePath(const QString& path)
{
    if (!QFileInfo::exists(path))
        return path;
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    const QString stem = info.fileName().chopped(suffix.size());
    for (int n = 2;; ++n) {
        const QString candidate =
            info.dir().filePath(QStringLiteral("%1(%2)%3").arg(stem).arg(n).arg(suffix));
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

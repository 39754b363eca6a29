// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/places.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kLastFolderKey = QStringLiteral("export/folder");

} // namespace

QSettings userSettings(SettingsUse use)
{
    // The file is the user's own: made readable by nobody else before anything
    // is written into it, and kept so (each save replaces it with the same permissions).
    const QString path = QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("allstats"),
                                   QStringLiteral("allstats"))
                             .fileName();
    const QByteArray name = QFile::encodeName(path);
    struct stat st = {};
    if (::stat(name.constData(), &st) != 0) {
        if (use == SettingsUse::Write) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0)
                ::close(fd);
        }
    } else if (st.st_mode & 077) {
        ::chmod(name.constData(), 0600);
    }
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("allstats"),
                     QStringLiteral("allstats"));
}

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
    const QString folder = userSettings(SettingsUse::Read).value(kLastFolderKey).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        return folder;
    return documentsDir();
}

void rememberFileFolder(const QString& folder)
{
    if (!folder.isEmpty())
        userSettings(SettingsUse::Write).setValue(kLastFolderKey, QDir::cleanPath(folder));
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

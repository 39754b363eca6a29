#include "foundation/places.h"

#include <QCoreApplication>
#include <QDir>

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

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

QString defaultHooksDir()
{
    const QString app = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {app + QStringLiteral("/hooks"), app + QStringLiteral("/../share/allstats/hooks")}) {
        if (QDir(candidate).exists())
            return QDir(candidate).canonicalPath();
    }
    return {};
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

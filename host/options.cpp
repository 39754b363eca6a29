// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/options.h"

#include "foundation/dbname.h"
#include "foundation/host.h"
#include "foundation/places.h"

#include <QCommandLineParser>
#include <QSettings>
#include <QStandardPaths>

namespace {

QCommandLineOption dbOption()
{
    return {QStringLiteral("db"), QStringLiteral("Database: a SQLite file or a postgresql:// URL."),
            QStringLiteral("DB")};
}
QCommandLineOption regionOption()
{
    return {QStringLiteral("user-region"), QStringLiteral("The user's region code (gs_userqybm)."),
            QStringLiteral("CODE")};
}
QCommandLineOption periodOption()
{
    return {QStringLiteral("period"),
            QStringLiteral("Current accounting period (gs_kjqj), default this month."),
            QStringLiteral("YYYYMM")};
}
QCommandLineOption grantOption()
{
    return {QStringLiteral("grant"), QStringLiteral("Rights string (gs_usergrant)."),
            QStringLiteral("RIGHTS")};
}
QCommandLineOption hooksOption()
{
    return {QStringLiteral("hooks"), QStringLiteral("Folder of the host routines' SQL files."),
            QStringLiteral("DIR")};
}

} // namespace

void addSessionOptions(QCommandLineParser& parser)
{
    parser.addOption(dbOption());
    parser.addOption(regionOption());
    parser.addOption(periodOption());
    parser.addOption(grantOption());
    parser.addOption(hooksOption());
}

void addDesktopOptions(QCommandLineParser& parser)
{
    addSessionOptions(parser);
    parser.addOption({QStringLiteral("open"),
                      QStringLiteral("Opens a screen at start (w_xmjdzl, w_zbfa_set, w_guide_set, w_trend)."),
                      QStringLiteral("NAME")});
}

QString repeatedOption(const QCommandLineParser& parser, const QStringList& several)
{
    for (const QString& name : parser.optionNames()) {
        if (!several.contains(name) && parser.values(name).size() > 1)
            return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    }
    return QString();
}

bool checkDatabaseOption(const QCommandLineParser& parser, QString* error)
{
    return !parser.isSet(QStringLiteral("db")) ||
           parseDatabaseName(parser.value(QStringLiteral("db")), error);
}

SessionOptions readSessionOptions(const QCommandLineParser& parser)
{
    SessionOptions o;
    QSettings s = userSettings(SettingsUse::Read);
    o.db = s.value(QStringLiteral("session/db")).toString();
    if (hasPassword(o.db)) {
        // Saved by an earlier version: this session still connects with it, the file forgets it.
        s.setValue(QStringLiteral("session/db"), hidePassword(o.db));
        s.sync();
    }
    o.userRegion = s.value(QStringLiteral("session/userRegion")).toString();
    o.period = s.value(QStringLiteral("session/period")).toString();
    if (s.contains(QStringLiteral("session/grant")))
        o.grant = s.value(QStringLiteral("session/grant")).toString();
    o.hooksDir = s.value(QStringLiteral("session/hooks")).toString();

    if (parser.isSet(QStringLiteral("db")))
        o.db = parser.value(QStringLiteral("db"));
    if (parser.isSet(QStringLiteral("user-region")))
        o.userRegion = parser.value(QStringLiteral("user-region")).trimmed();
    if (parser.isSet(QStringLiteral("period")))
        o.period = parser.value(QStringLiteral("period")).trimmed();
    if (parser.isSet(QStringLiteral("grant"))) {
        // Given on the command line, even empty, the rights string is no longer null.
        o.grant = parser.value(QStringLiteral("grant"));
        if (o.grant.isNull())
            o.grant = QStringLiteral("");
    }
    if (parser.isSet(QStringLiteral("hooks")))
        o.hooksDir = parser.value(QStringLiteral("hooks"));

    if (o.userRegion.isNull())
        o.userRegion = QStringLiteral("");
    if (o.period.isEmpty())
        o.period = currentPeriod();
    if (o.hooksDir.isEmpty())
        o.hooksDir = defaultHooksDir();
    return o;
}

void saveSessionOptions(const SessionOptions& o)
{
    QSettings s = userSettings(SettingsUse::Write);
    // A server's password never goes into the file (the file is plain text).
    s.setValue(QStringLiteral("session/db"), hidePassword(o.db));
    s.setValue(QStringLiteral("session/userRegion"), o.userRegion);
    // The period follows the calendar unless the user fixed it.
    if (o.period == currentPeriod())
        s.remove(QStringLiteral("session/period"));
    else
        s.setValue(QStringLiteral("session/period"), o.period);
    if (o.grant.isNull())
        s.remove(QStringLiteral("session/grant"));
    else
        s.setValue(QStringLiteral("session/grant"), o.grant);
    s.setValue(QStringLiteral("session/hooks"), o.hooksDir);
}

void saveSessionDatabase(const QString& db)
{
    QSettings s = userSettings(SettingsUse::Write);
    s.setValue(QStringLiteral("session/db"), hidePassword(db));
}

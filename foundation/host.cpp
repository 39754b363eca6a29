// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/host.h"

#include "foundation/users.h"

#include <QDate>

namespace {

// Set by tests that need a fixed day (a year's first month, say).
QDate g_today;

} // namespace

QDate today()
{
    return g_today.isValid() ? g_today : QDate::currentDate();
}

void overrideToday(const QDate& date)
{
    g_today = date;
}

QString currentPeriod()
{
    return today().toString(QStringLiteral("yyyyMM"));
}

QString previousPeriod(const QString& period)
{
    if (!isValidPeriod(period))
        return {};
    const QDate first(period.left(4).toInt(), period.mid(4).toInt(), 1);
    return first.addMonths(-1).toString(QStringLiteral("yyyyMM"));
}

bool isValidPeriod(const QString& period)
{
    if (period.size() != 6)
        return false;
    for (const QChar c : period)
        if (c < u'0' || c > u'9')
            return false;
    const int year = period.left(4).toInt();
    const int month = period.mid(4).toInt();
    return year >= kFirstYear && month >= 1 && month <= 12;
}

QString periodRule()
{
    return QStringLiteral("YYYYMM with a year from %1 to 9999 and a month from 01 to 12").arg(kFirstYear);
}

bool rightsDenied(const QString& grant, int position)
{
    if (grant.isNull() || position < 1 || grant.size() < position)
        return false;
    return grant.at(position - 1) == u'0';
}

bool regionInScope(const QString& scope, const QString& region)
{
    return scope.isNull() || region.trimmed().startsWith(scope.trimmed());
}

QString regionRefusal(const QString& region, const QString& scope)
{
    return QStringLiteral("无权查询该区域“%1”，只能查询本用户的区域“%2”及其下级区域")
        .arg(region.trimmed(), scope.trimmed());
}

Status Host::mayQuery(const QString& region)
{
    if (!regionInScope(regionScope, region))
        return Status::failure(regionRefusal(region, regionScope));
    if (!signedInRole.isEmpty())
        return users::stillAUser(sqlca(), signedInRole);
    return Status::success();
}

#include "foundation/host.h"

#include <QDate>

QString currentPeriod()
{
    return QDate::currentDate().toString(QStringLiteral("yyyyMM"));
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

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
    const int month = period.mid(4).toInt();
    return month >= 1 && month <= 12;
}

bool rightsDenied(const QString& grant, int position)
{
    if (grant.isNull() || position < 1 || grant.size() < position)
        return false;
    return grant.at(position - 1) == u'0';
}

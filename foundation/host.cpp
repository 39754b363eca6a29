#include "foundation/host.h"

#include <QDate>

QString currentPeriod()
{
    return QDate::currentDate().toString(QStringLiteral("yyyyMM"));
}

bool rightsDenied(const QString& grant, int position)
{
    if (grant.isNull() || position < 1 || grant.size() < position)
        return false;
    return grant.at(position - 1) == u'0';
}

#include "foundation/host.h"

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
    const int month = period.mid(4).toInt();
    return month >= 1 && month <= 12;
}

bool rightsDenied(const QString& grant, int position)
{
    if (grant.isNull() || position < 1 || grant.size() < position)
        return false;
    return grant.at(position - 1) == u'0';
}

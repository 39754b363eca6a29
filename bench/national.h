// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// The national size on PostgreSQL: 600,000 villages in 30 provinces, 80
// indicators, two periods, H_stat partitioned by period. Into a database that
// `allstats init-db --partitioned` made and that is otherwise empty: the
// catalogue, one period's load without the triggers of the kept figures and
// the other's with them; the whole nation built anew for a period; the report
// of each level once built (against the scan); every row of one province
// changed and that province rebuilt; one village's change and the province
// report after it.
namespace national {

struct Result
{
    QStringList table;   // printed lines
    QStringList targets; // "met     …" / "MISSED  …"
    int compared = 0;
    int differing = 0;
    QString error; // the measure could not be made
    QJsonObject json;
};

Result measure(const QString& db, int reps);

} // namespace national

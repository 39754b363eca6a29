// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bench/benchdata.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

// The kept per-level figures against the scan, on one loaded database: the
// report of each level with the period built and scanned; the province report
// after one village's change and the first one after a month's load (rebuild
// included); `rollup rebuild --period` after the load; the month's load with
// and without the triggers; the province trend over every month; and every
// county and city, the province and sampled towns and villages compared, kept
// against scanned.
namespace kept {

struct Result
{
    QString backend;
    QStringList table;   // printed lines
    QStringList targets; // "met     …" / "MISSED  …"
    int compared = 0;
    int differing = 0;
    QString error; // the measure could not be made
    QJsonObject json;
};

Result measure(const QString& db, const benchdata::Size& size, int reps);

} // namespace kept

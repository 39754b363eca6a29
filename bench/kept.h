// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bench/benchdata.h"
#include "foundation/gridbuffer.h"
#include "host/sqlhost.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

// The kept per-level figures against the scan, on one loaded database: the
// report of each level with the period built and scanned; the province report
// after one village's change and the first one after a month's load (rebuild
// included); `rollup rebuild --period` after the load; the month's load with
// and without the triggers; the province trend over every month; and every
// county and city, the province and sampled towns and villages compared, kept
// against scanned.
namespace kept {

// The median of timings (0 for none), and milliseconds as the tables print them.
double median(QList<double> s);
QString ms(double v);

// One report run as the screen makes it, with no host routines (an empty
// hooks folder); the milliseconds, or -1 with *error. `keptFigures` false:
// the scan, as without the kept figures.
class Reporter final
{
public:
    Reporter(Sqlca& sqlca, const QString& hooks);
    double run(const QString& region, const QString& period, bool keptFigures, QString* error);
    // The region's report from the kept figures and by the scan: whether their
    // t_stat rows are equal; nullopt with *error where a run failed. The
    // scan's milliseconds into *scanMs where given.
    std::optional<bool> keptEqualsScan(const QString& region, const QString& period, QString* error,
                                       double* scanMs = nullptr);

private:
    Sqlca& m_sqlca;
    SqlHost m_host;
    GridBuffer m_grid;
};

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

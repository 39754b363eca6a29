// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class Sqlca;

// Kept per-level figures: beside H_stat, the table H_statqy holds for every
// period, region and indicator the exact sum, the count, the largest and the
// smallest value of each figure over the units of the region, for the region
// levels 2 (province), 4 (city), 6 (county) and 9 (town), in the column jb.
// A report of such a region reads its few rows instead of scanning the units;
// a village (12) reads its own few rows of H_stat as before.
//
// The units are aggregated once, by the first nine characters of their code
// (the town rows; a shorter code is a row of its own, which no town's report
// reads); the county rows (jb 6, keyed by the first six characters, which is
// the part below) are those rows merged, and the city and province rows the
// county rows merged. A change to one village costs one county's scan.
//
// Never stale: triggers on H_stat mark in H_statbj, in the writer's own
// transaction, each part (period and the first six characters of the unit's
// code) a change touched. A report whose region holds a marked part rebuilds
// those parts first (one transaction: their county and town rows from H_stat,
// then the cities and provinces above them, and the marks' removal), or, where
// another session is rebuilding or writing them at that moment, scans H_stat
// as before; inside the run's snapshot it reads the kept rows only when that
// snapshot holds no mark of the region. Maxima and minima are made again by
// the rebuild, never patched.
//
// Opt-in on a host's database (enable / disable); init-db enables it on a
// database it makes. A database without them works exactly as before.
namespace rollup {

// Whether reports of the region read kept figures: codes of 2, 4, 6 or 9 characters.
bool isKeptLevel(const QString& region);

// Whether the kept figures are in use: both tables there and the triggers on
// H_stat (a host that made H_stat anew has none). nullopt on error.
std::optional<bool> isEnabled(Sqlca& sqlca, QString* error);

// Creates the tables, the triggers that mark (and on PostgreSQL the functions
// behind them and the rebuild), and marks every part of every period H_stat
// holds; where the database has users (init-db --roles), a user reads the
// kept rows of its own region only. One transaction. Refused with a clear
// message where the role may not create triggers on H_stat. Running it again
// makes the triggers and functions again; the figures stay unless the
// triggers were missing (then every part is marked).
struct Enabled
{
    bool already = false; // the tables and triggers were there
    int parts = 0;        // parts marked to be built
};
Status enable(Sqlca& sqlca, Enabled* enabled = nullptr);
// Removes the tables, the triggers and the functions; H_stat stays as it is.
Status disable(Sqlca& sqlca);

// One period, for `allstats rollup status`.
struct PeriodState
{
    QString period;
    qint64 keptRows = 0;
    int builtParts = 0;     // parts with kept rows
    int staleParts = 0;     // parts marked
    bool inFigures = false; // H_stat holds figures of the period
};
std::optional<QList<PeriodState>> status(Sqlca& sqlca, QString* error);

enum class Wait
{
    No,
    Yes,
};
struct Rebuilt
{
    enum Kind
    {
        Done,
        Busy, // another session is rebuilding the period or writing its marked parts
        Failed,
    };
    Kind kind = Done;
    int parts = 0;
    QString error;
    // Failed at a second row for the same unit, indicator and period in a
    // table without the key init-db gives H_stat: `error` names the first.
    bool duplicate = false;
};
// Rebuilds the marked parts of a period that lie in the region or hold it (an
// empty region: every marked part), or with `whole` the whole period from
// H_stat, marks or not. One transaction of its own (not inside another).
// Without waiting it gives up at once (Busy) where it would wait.
Rebuilt rebuild(Sqlca& sqlca, const QString& period, const QString& region, bool whole, Wait wait);
// The periods with marked parts.
std::optional<QStringList> stalePeriods(Sqlca& sqlca, QString* error);

// Whether this process's reports read kept figures at all (default true): the
// benchmark times the scan beside them on one database.
void setReadByReports(bool read);

// For the statistics run. Before its snapshot, outside a transaction: whether
// the run may read kept figures of the region (kept level, enabled), after
// rebuilding its marked parts where that can be done at once. Where that
// rebuild finds a second row for a unit, indicator and period, `refusal` says
// which (the first) and the run must not sum it.
bool prepare(Sqlca& sqlca, const QString& period, const QString& region, QString* refusal);
// Inside the run's snapshot: whether it holds no mark of the region.
std::optional<bool> freshInSnapshot(Sqlca& sqlca, const QString& period, const QString& region);
// The aggregation rows of the region from its kept figures, with the rows of
// zeros of the indicators without aggregation, into t_stat: the rows the
// scan gives.
bool fillWorkingRows(Sqlca& sqlca, const QString& period, const QString& region);

} // namespace rollup

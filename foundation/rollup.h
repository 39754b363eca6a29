#pragma once

#include "foundation/host.h"

#include <QList>
#include <QString>
#include <optional>

class Sqlca;

// Kept per-level figures: beside H_stat, the table H_statqy holds for every
// period, region and indicator the exact sum, the count, the largest and the
// smallest value of each figure over the units of the region, for the regions
// of the levels in keptLevels() (province 2, city 4, county 6, town 9). A
// report of such a region reads its few rows instead of scanning the units.
//
// Never stale: triggers on H_stat mark in H_statbj, in the writer's own
// transaction, each part (period and county: the first six characters of a
// unit's code) a change touched. A report whose region holds a marked part
// rebuilds those parts first (one grouped pass over their units, every level
// and the marks' removal in one transaction), or, where another session is
// rebuilding them at that moment, scans H_stat as before; inside the run's
// snapshot it reads the kept rows only when that snapshot holds no mark of
// the region. Maxima and minima are made again by the rebuild, never patched.
//
// Opt-in on a host's database (enable / disable); init-db enables it on a
// database it makes. A database without H_statqy works exactly as before.
namespace rollup {

// The region code lengths kept. A village (12) is its own unit: its report
// reads its few rows of H_stat, which are what a kept row would hold.
const QList<int>& keptLevels();
bool isKeptLevel(const QString& region);
// The part a unit's change marks stale: the first six characters of its code.
constexpr int kPartLength = 6;

// Whether the kept figures are there (H_statqy and H_statbj exist); nullopt on error.
std::optional<bool> isEnabled(Sqlca& sqlca, QString* error);

// Creates the kept figures' tables, the triggers that mark (and on
// PostgreSQL the functions behind them and the rebuild), marks every part of
// every period H_stat holds, and where the database has users (init-db
// --roles) the row-level security and the grants of the report group. One
// transaction. Refused where the role does not own H_stat. Running it again
// makes the triggers and functions again and changes no figure.
struct Enabled
{
    bool already = false; // the tables were there
    int parts = 0;        // parts of H_stat marked to be built
};
Status enable(Sqlca& sqlca, Enabled* enabled = nullptr);
// Removes the tables, the triggers and the functions; H_stat stays as it is.
Status disable(Sqlca& sqlca);

// One period of the kept figures, for `allstats rollup status`.
struct PeriodState
{
    QString period;
    qint64 keptRows = 0;
    int builtParts = 0; // parts with kept rows
    int staleParts = 0; // parts marked
    bool uncovered = false; // H_stat holds figures of the period, the kept figures nothing
};
std::optional<QList<PeriodState>> status(Sqlca& sqlca, QString* error);

// Rebuilds the marked parts of a period that lie in the region or hold it (an
// empty region: every marked part), or with `whole` every part of the period
// from H_stat, marks or not. Without waiting it gives up at once (Busy) when
// another session is rebuilding the period (PostgreSQL) or holds the database's
// write lock (SQLite). Inside a caller's transaction it runs in a savepoint and
// leaves the commit to the caller.
struct Rebuilt
{
    enum Kind
    {
        Done,
        Busy,
        Failed,
    };
    Kind kind = Done;
    int parts = 0;
    QString error;
    // Failed at a figure H_stat holds (no number, beyond 16 digits): the scan
    // refuses it where the report's region holds it, else gives the figures.
    bool figureProblem = false;
    // Failed at a second row for the same unit, indicator and period.
    bool duplicate = false;
};
enum class Wait
{
    No,
    Yes,
};
Rebuilt rebuild(Sqlca& sqlca, const QString& period, const QString& region, bool whole, Wait wait);
// The periods with marked parts, for rebuilding all of them.
std::optional<QStringList> stalePeriods(Sqlca& sqlca, QString* error);

// For the statistics run. Before its snapshot, outside a transaction: whether
// the run may read kept figures of the region (kept level, enabled, readable),
// after rebuilding its marked parts where that can be done at once. Failed
// only where the rebuild found a duplicate row (the report must not sum it).
struct Preparation
{
    bool kept = false;
    QString error; // a duplicate: the run fails with it
};
Preparation prepare(Sqlca& sqlca, const QString& period, const QString& region);
// Inside the run's snapshot: whether it holds no mark of the region.
std::optional<bool> freshInSnapshot(Sqlca& sqlca, const QString& period, const QString& region);
// The aggregation rows of the region from its kept figures, with the rows of
// zeros of the indicators without aggregation, into t_stat: the rows the
// scan gives.
bool fillWorkingRows(Sqlca& sqlca, const QString& period, const QString& region);

} // namespace rollup

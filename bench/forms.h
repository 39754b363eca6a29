// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/decimal.h"
#include "foundation/host.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class Dialect;
class Sqlca;

// The three ways the benchmark fills or reads the report's figures, besides
// the statistics run itself.
namespace benchforms {

// The five aggregation inserts in the report's original form: one statement
// per aggregation kind (1 sum, 2 average, 3 maximum, 4 minimum, then the zero
// rows), text with the region and period written in, the region found by the
// prefix test left(H_stat.number, N) = '<code>' (substr on SQLite). The select
// is parenthesised where the backend accepts that; on SQLite each aggregate
// passes through the same two-decimal rounding a decimal(2) column applies
// on PostgreSQL.
QStringList literalInserts(const Dialect& dialect, const QString& region, const QString& period);

// Empties t_stat, runs the five inserts and trims and orders by the scheme
// (the joined delete and update, scheme name bound), in one exclusive
// transaction as the run holds it.
Status runLiteral(Sqlca& sqlca, const QString& region, const QString& period, const QString& scheme);

// The engine's lower bound for the work: one aggregating query over the
// region's H_stat rows of the period, every result row fetched.
// *groups receives the number of result rows.
QString floorQuery(const Dialect& dialect);
Status runFloor(Sqlca& sqlca, const QString& region, const QString& period, long* groups);

// H_stat rows of the region and period (what the run aggregates).
std::optional<long long> countRows(Sqlca& sqlca, const QString& region, const QString& period);

// The working table as the forms leave it, ordered by indicator code.
struct StatRow
{
    QString zbbm;
    std::optional<Decimal> qichu;
    std::optional<Decimal> fasheng;
    std::optional<Decimal> leiji;
    int hh = 0;
    bool operator==(const StatRow&) const = default;
};
std::optional<QList<StatRow>> workingRows(Sqlca& sqlca);
QString describe(const StatRow& row);

} // namespace benchforms

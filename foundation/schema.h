// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class Dialect;
class Sqlca;

namespace schema {

// The six tables the module works on.
QStringList tableNames();

// Creates what is missing of the six tables and their indexes; never drops or
// changes existing data. Running it twice is harmless. Runs in one transaction.
// An H_stat made here takes one row per period, unit and indicator (a unique
// index); one that exists already gets the same index without the key.
// PostgreSQL: with Figures::PartitionedByPeriod a new H_stat is partitioned by
// kjqj (LIST, with the default partition H_stat_default taking every period
// without a partition of its own); the key, the triggers of the kept figures
// and the row-level security are those of the plain table. An H_stat that
// exists stays as it is. Refused on SQLite.
enum class Figures
{
    Plain,
    PartitionedByPeriod,
};
bool create(Sqlca& sqlca, QString* error, Figures figures = Figures::Plain);

// PostgreSQL, a partitioned H_stat: the partition of one period (YYYYMM),
// H_stat_YYYYMM, made where it is missing. Refused where the default
// partition already holds rows of that period (a host moves them first) and
// where H_stat is not partitioned.
bool addPeriodPartition(Sqlca& sqlca, const QString& period, QString* error);

// Whether H_stat is partitioned (PostgreSQL); nullopt on error.
std::optional<bool> isPartitioned(Sqlca& sqlca, QString* error);

// The tables of the six that do not exist; empty when the database is complete.
QStringList missingTables(Sqlca& sqlca);

// A column as the schema declares it: its name and its type (with any default).
struct Column
{
    QString name;
    QString type;
};

// The columns of t_stat: the shared table init-db makes and the working table
// every connection makes of its own are declared alike.
QList<Column> workingTableColumns(const Dialect& dialect);

// This connection's own working table: a temporary t_stat of the same
// columns, made once, which an unqualified t_stat names from then on (the run,
// the hooks and the report grid), so each run sees exactly its own rows and
// none waits for another. The shared t_stat stays for the hosts that read it;
// one that lacks a column the run needs is refused, naming the column.
bool prepareWorkingTable(Sqlca& sqlca, QString* error);
// A query expression that is 1 when an unqualified t_stat names this
// connection's own working table, else 0.
QString workingTableInPlace(const Dialect& dialect);

} // namespace schema

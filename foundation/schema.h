// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class Dialect;
class Sqlca;

namespace schema {

// The six tables the module works on.
QStringList tableNames();

// Creates what is missing of the six tables and their indexes; never drops or
// changes existing data. Running it twice is harmless. Runs in one transaction.
// An H_stat made here takes one row per period, unit and indicator (a unique
// index); one that exists already gets the same index without the key.
bool create(Sqlca& sqlca, QString* error);

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

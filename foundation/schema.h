#pragma once

#include <QString>
#include <QStringList>

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

} // namespace schema

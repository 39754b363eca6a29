#pragma once

// What the parts of the transaction object share among themselves.

#include <QString>

class QSqlError;

// The database's own text of an error, else the driver's.
QString errorText(const QSqlError& e);

class QSqlDatabase;
struct sqlite3;

// The SQLite connection under Qt's driver (null for another driver), for what
// is written against SQLite's own interface.
sqlite3* sqliteHandleOf(const QSqlDatabase& db);

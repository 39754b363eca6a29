// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the parts of the transaction object share among themselves.

#include <QString>

class QSqlError;

// The database's own text of an error, else the driver's.
QString errorText(const QSqlError& e);

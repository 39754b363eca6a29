// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QSqlDatabase;

// SQLite's own figure functions, registered on every SQLite connection:
// round2(x), kind_figures(...) and kind_figure(...), which keep the run's
// figures exact in cents where SQLite itself would compute with doubles.
bool registerSqliteFunctions(QSqlDatabase& db);

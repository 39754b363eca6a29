// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// `allstats rollup enable|disable|status|rebuild --db DB [--period YYYYMM]`:
// the kept per-level figures of a database (see foundation/rollup.h).
int runRollup(const QStringList& args);

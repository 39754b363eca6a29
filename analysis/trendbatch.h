// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host/exitcode.h"

#include <QStringList>

// `allstats trend ...`: an indicator's figures over months; args as QCoreApplication::arguments().
int runTrend(const QStringList& args);
// `allstats rank ...`: the sub-regions of a region ranked by an indicator in one month.
int runRank(const QStringList& args);

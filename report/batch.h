#pragma once

#include "host/exitcode.h"

#include <QStringList>

// `allstats report ...`; args as QCoreApplication::arguments().
int runReport(const QStringList& args);
// `allstats pack ...`: the report of every region of a level under a region.
int runPack(const QStringList& args);

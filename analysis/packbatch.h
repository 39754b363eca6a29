// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host/exitcode.h"

#include <QStringList>

// `allstats pack ...`: the report of every region of a level under a region.
int runPack(const QStringList& args);

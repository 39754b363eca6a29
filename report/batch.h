// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host/exitcode.h"

#include <QStringList>

// `allstats report ...`; args as QCoreApplication::arguments().
int runReport(const QStringList& args);

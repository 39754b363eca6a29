// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/version.h"

// ALLSTATS_VERSION comes from the project version in CMakeLists.txt, set on
// this one file only.
#ifndef ALLSTATS_VERSION
#error "ALLSTATS_VERSION is not defined"
#endif

QString allstatsVersion()
{
    return QStringLiteral(ALLSTATS_VERSION);
}

QString allstatsNameAndVersion()
{
    return QStringLiteral("allstats ") + allstatsVersion();
}

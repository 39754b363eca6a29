// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The program's version, as the build's project version gives it ("0.1").
QString allstatsVersion();
// "allstats 0.1": how written files name the program that made them.
QString allstatsNameAndVersion();

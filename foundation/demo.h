// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class Sqlca;

namespace demo {

// Fills an empty database (tables created) with the demo province: regions,
// the indicator catalogue, two kind-1 schemes and 24 months of figures ending
// at `lastPeriod` (YYYYMM). Refuses a database that already holds regions.
bool populate(Sqlca& sqlca, const QString& lastPeriod, QString* error);
// Whether the demo province is in the database (populate then leaves it as it is).
bool isPopulated(Sqlca& sqlca);

// The first month of the demo figures that end at `lastPeriod`; a period of
// the program (isValidPeriod) only when lastPeriod lies late enough.
QString firstPeriod(const QString& lastPeriod);

} // namespace demo

#pragma once

// What SQLite's figure functions share with the rebuild of the kept per-level
// figures, so both read a figure of H_stat alike and refuse the same ones.

#include "foundation/decimal.h"

#include <QString>

struct sqlite3_value;

namespace sqlitefigures {

using Units = Decimal::Units;

enum class FigureRead
{
    Ok,
    NotANumber,
    OutOfRange,
};

// One figure of H_stat in whole ten-thousandths. SQLite keeps what it is
// given: integers are exact, doubles carry 15 significant digits (read as the
// decimal they were typed as: 12345678901.2345 stays that), and text counts
// only when it is a plain number ('1,000' is not).
FigureRead figureUnits(sqlite3_value* v, Units* out);

// The refusal of a figure that figureUnits did not take, naming unit, indicator and period.
QString refusal(FigureRead read, const QString& column, const QString& value, const QString& unit,
                const QString& indicator, const QString& period);

} // namespace sqlitefigures

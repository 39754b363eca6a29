// SPDX-License-Identifier: GPL-3.0-or-later
// SQLite's own figure functions: exact cents over SQLite's doubles, the
// rounding PostgreSQL does, and the refusal of a figure no number or too large.
#include "foundation/sqlitefigures.h"

#include "foundation/decimal.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>
#include <cmath>
#include <cstring>
#include <limits>
#include <sqlite3.h>

namespace {

using Units = Decimal::Units;

// t_stat holds 16 integer digits and two decimals, in cents below 10^18.
constexpr Units kCentsLimit = Units(1000000000000000000LL);
// A SQLite figure with cents is a double: exact (read back as typed) up to 15
// significant digits, so cents are exact below 10^13.
constexpr Units kExactDoubleCents = Units(1000000000000000LL);

// Cents into a t_stat column: an integer when whole, else the double that
// reads back as exactly these cents. False when SQLite cannot hold them exactly.
bool resultCents(sqlite3_context* ctx, Units cents)
{
    const Units mag = cents < 0 ? -cents : cents;
    if (cents % 100 == 0 && mag / 100 <= Units(std::numeric_limits<sqlite3_int64>::max())) {
        sqlite3_result_int64(ctx, sqlite3_int64(cents / 100));
        return true;
    }
    const QString text = Decimal::fromUnits(cents * (Decimal::One / 100)).toString(2);
    sqlite3_result_double(ctx, text.toDouble());
    return mag < kExactDoubleCents;
}

// round2(x): two decimals, half away from zero, computed on the decimal form of
// the value so that 1.625 and 2.675 both round up as they do in PostgreSQL.
void sqliteRound2(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL:
        sqlite3_result_null(ctx);
        return;
    case SQLITE_INTEGER:
        sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
        return;
    default:
        break;
    }
    const auto* raw = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    QVariant v = sqlite3_value_type(argv[0]) == SQLITE_FLOAT ? QVariant(sqlite3_value_double(argv[0]))
                                                             : QVariant(QString::fromUtf8(raw));
    const auto d = Decimal::fromVariant(v);
    if (!d) {
        sqlite3_result_null(ctx);
        return;
    }
    resultCents(ctx, d->rounded(2).units() / (Decimal::One / 100));
}

// One figure of H_stat in whole ten-thousandths. SQLite keeps what it is
// given: integers are exact, doubles carry 15 significant digits (read as the
// decimal they were typed as: 12345678901.2345 stays that), and text counts
// only when it is a plain number ('1,000' is not).
enum class FigureRead
{
    Ok,
    NotANumber,
    OutOfRange,
};

FigureRead figureUnits(sqlite3_value* v, Units* out)
{
    constexpr double kLimit = 1e16; // t_stat's 16 integer digits
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: {
        const sqlite3_int64 i = sqlite3_value_int64(v);
        if (i >= sqlite3_int64(kLimit) || i <= -sqlite3_int64(kLimit))
            return FigureRead::OutOfRange;
        *out = Units(i) * Decimal::One;
        return FigureRead::Ok;
    }
    case SQLITE_FLOAT: {
        const double x = sqlite3_value_double(v);
        if (!std::isfinite(x))
            return FigureRead::NotANumber;
        const double mag = std::fabs(x);
        if (mag >= kLimit)
            return FigureRead::OutOfRange;
        if (mag < 1e11) { // four decimals within 15 digits
            *out = std::llround(x * 10000.0);
            return FigureRead::Ok;
        }
        const double whole = std::trunc(x);
        int digits = 0;
        for (double p = 1; p <= std::fabs(whole); p *= 10)
            ++digits;
        const int keep = std::clamp(15 - digits, 0, 4);
        sqlite3_int64 step = 1;
        for (int k = keep; k < Decimal::Scale; ++k)
            step *= 10;
        *out = Units(sqlite3_int64(whole)) * Decimal::One +
               Units(std::llround((x - whole) * double(Decimal::One / step))) * step;
        return FigureRead::Ok;
    }
    case SQLITE_TEXT: {
        const auto d =
            Decimal::parse(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(v))));
        if (!d)
            return FigureRead::NotANumber;
        if (!d->fitsDigits(16))
            return FigureRead::OutOfRange;
        *out = d->units();
        return FigureRead::Ok;
    }
    default:
        return FigureRead::NotANumber;
    }
}

QString argText(sqlite3_value* v)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return text ? QString::fromUtf8(text) : QString();
}

// The running figures of one indicator over a region's units: the exact sum in
// whole ten-thousandths, the count, the largest and the smallest value.
// kind_figures(x, unit, indicator, period, column) gathers them in one step
// per row and stops the statement at a figure that is no number or lies
// beyond what t_stat can hold, naming it; kind_figure(acc, flag1, indicator,
// column) then gives the figure the indicator's aggregation kind asks for
// (1 sum, 2 average, 3 maximum, 4 minimum), rounded to cents half away from
// zero like PostgreSQL's numeric(18,2), or null.
struct KindFigures
{
    Units units;
    Units max;
    Units min;
    sqlite3_int64 count;
};

void kindFiguresStep(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return;
    Units x = 0;
    if (const FigureRead r = figureUnits(argv[0], &x); r != FigureRead::Ok) {
        const QString where = QStringLiteral("unit %1, indicator %2, period %3")
                                  .arg(argText(argv[1]), argText(argv[2]), argText(argv[3]));
        const QString text =
            r == FigureRead::NotANumber
                ? QStringLiteral("H_stat holds a %1 figure that is not a number (%2) for %3")
                      .arg(argText(argv[4]), argText(argv[0]), where)
                : QStringLiteral("H_stat holds a %1 figure (%2) for %3 beyond the 16 integer digits "
                                 "the report can hold")
                      .arg(argText(argv[4]), argText(argv[0]), where);
        const QByteArray utf8 = text.toUtf8();
        sqlite3_result_error(ctx, utf8.constData(), int(utf8.size()));
        return;
    }
    auto* acc = static_cast<KindFigures*>(sqlite3_aggregate_context(ctx, sizeof(KindFigures)));
    if (!acc)
        return;
    acc->units += x;
    if (acc->count == 0 || x > acc->max)
        acc->max = x;
    if (acc->count == 0 || x < acc->min)
        acc->min = x;
    ++acc->count;
}

void kindFiguresFinal(sqlite3_context* ctx)
{
    auto* acc = static_cast<KindFigures*>(sqlite3_aggregate_context(ctx, 0));
    if (!acc || acc->count == 0) {
        sqlite3_result_null(ctx);
        return;
    }
    sqlite3_result_blob(ctx, acc, int(sizeof(KindFigures)), SQLITE_TRANSIENT);
}

// kind_merge(acc): the running figures of several regions as those of their
// union, for the kept figures of a level from those of the level below.
void kindMergeStep(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) != SQLITE_BLOB ||
        sqlite3_value_bytes(argv[0]) != int(sizeof(KindFigures)))
        return;
    KindFigures part;
    std::memcpy(&part, sqlite3_value_blob(argv[0]), sizeof part);
    if (part.count <= 0)
        return;
    auto* acc = static_cast<KindFigures*>(sqlite3_aggregate_context(ctx, sizeof(KindFigures)));
    if (!acc)
        return;
    acc->units += part.units;
    if (acc->count == 0 || part.max > acc->max)
        acc->max = part.max;
    if (acc->count == 0 || part.min < acc->min)
        acc->min = part.min;
    acc->count += part.count;
}

void kindFigure(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) != SQLITE_BLOB ||
        sqlite3_value_bytes(argv[0]) != int(sizeof(KindFigures))) {
        sqlite3_result_null(ctx);
        return;
    }
    KindFigures acc;
    std::memcpy(&acc, sqlite3_value_blob(argv[0]), sizeof acc);
    if (acc.count <= 0) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto sign = [](Units v) { return v < 0 ? Units(-1) : Units(1); };
    const auto abs = [](Units v) { return v < 0 ? -v : v; };
    const auto cents = [&](Units units) { return sign(units) * ((abs(units) + 50) / 100); };
    Units result = 0;
    switch (sqlite3_value_int(argv[1])) {
    case 1: // the sum: ten-thousandths to cents, half away from zero
        result = cents(acc.units);
        break;
    case 2: // the average in cents: sign(s) * floor((2|s| + 100n) / (200n))
        result = sign(acc.units) * ((2 * abs(acc.units) + 100 * acc.count) / (200 * Units(acc.count)));
        break;
    case 3:
        result = cents(acc.max);
        break;
    case 4:
        result = cents(acc.min);
        break;
    default:
        sqlite3_result_null(ctx);
        return;
    }
    if (abs(result) >= kCentsLimit) {
        const QByteArray text =
            QStringLiteral("the %1 figure of indicator %2 (%3) is beyond the 16 integer digits the report "
                           "can hold")
                .arg(argText(argv[3]), argText(argv[2]), Decimal::fromUnits(result * 100).toString(2))
                .toUtf8();
        sqlite3_result_error(ctx, text.constData(), int(text.size()));
        return;
    }
    if (!resultCents(ctx, result)) {
        const QByteArray text =
            QStringLiteral("the %1 figure of indicator %2 (%3) has more significant digits than a SQLite "
                           "database holds exactly (15); keep such figures in PostgreSQL")
                .arg(argText(argv[3]), argText(argv[2]), Decimal::fromUnits(result * 100).toString(2))
                .toUtf8();
        sqlite3_result_error(ctx, text.constData(), int(text.size()));
    }
}

} // namespace

bool registerSqliteFunctions(QSqlDatabase& db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3* h = *static_cast<sqlite3* const*>(handle.data());
    if (!h)
        return false;
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    return sqlite3_create_function(h, "round2", 1, flags, nullptr, sqliteRound2, nullptr, nullptr) ==
               SQLITE_OK &&
           sqlite3_create_function(h, "kind_figures", 5, flags, nullptr, nullptr, kindFiguresStep,
                                   kindFiguresFinal) == SQLITE_OK &&
           sqlite3_create_function(h, "kind_figure", 4, flags, nullptr, kindFigure, nullptr, nullptr) ==
               SQLITE_OK &&
           sqlite3_create_function(h, "kind_merge", 1, flags, nullptr, nullptr, kindMergeStep,
                                   kindFiguresFinal) == SQLITE_OK;
}

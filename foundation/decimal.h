// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariant>
#include <compare>
#include <cstdint>
#include <optional>

// An exact decimal figure with four fractional digits, enough for the money
// columns (two decimals) and for ratios before they are shown as percentages.
// No binary floating point is involved in parsing, arithmetic or formatting.
// The units are 128-bit integers: every figure the tables can hold (t_stat up
// to 16 integer digits, sums and percentages of them) fits with room to spare;
// text beyond MaxDigits integer digits does not parse.
class Decimal final
{
public:
    using Units = __int128;
    static constexpr int Scale = 4;
    static constexpr std::int64_t One = 10000;
    static constexpr int MaxDigits = 28;

    constexpr Decimal() = default;
    static constexpr Decimal fromUnits(Units units)
    {
        Decimal d;
        d.m_units = units;
        return d;
    }
    static constexpr Decimal fromInt(std::int64_t v) { return fromUnits(Units(v) * One); }

    // Parses "123", "-1.625", "1e3", " 2.50 "; extra digits are rounded half away from zero.
    static std::optional<Decimal> parse(const QString& text);
    // A database or grid value: numbers and numeric text; null or non-numeric gives nullopt.
    // Doubles are read through their shortest decimal form, so 2.675 stays 2.675.
    static std::optional<Decimal> fromVariant(const QVariant& v);

    Units units() const { return m_units; }
    // True when the magnitude is below 10^digits (whole part), e.g. the 16 digits of t_stat.
    bool fitsDigits(int digits) const;
    bool isZero() const { return m_units == 0; }

    // Rounds half away from zero to the given number of fractional digits (0..4).
    Decimal rounded(int digits) const;

    // Plain text with exactly `digits` fractional digits, rounded half away from zero.
    QString toString(int digits = 2) const;
    // Shortest exact text ("1.5", "2", "-0.0625"), used for binding to the database.
    QString toPlainString() const;
    double toDouble() const { return double(m_units) / double(One); }

    Decimal operator+(Decimal o) const { return fromUnits(m_units + o.m_units); }
    Decimal operator-(Decimal o) const { return fromUnits(m_units - o.m_units); }
    Decimal operator-() const { return fromUnits(-m_units); }
    auto operator<=>(const Decimal&) const = default;

private:
    Units m_units = 0;
};

Q_DECLARE_METATYPE(Decimal)

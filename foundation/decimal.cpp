// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/decimal.h"

#include <cmath>
#include <cstdlib>

namespace {

Decimal::Units pow10(int n)
{
    Decimal::Units p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

} // namespace

std::optional<Decimal> Decimal::parse(const QString& input)
{
    const QString text = input.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    int i = 0;
    bool negative = false;
    if (text[i] == u'+' || text[i] == u'-') {
        negative = text[i] == u'-';
        ++i;
    }
    // Collect all significant digits and the position of the decimal point.
    QString digits;
    int pointAt = -1;
    bool any = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isDigit()) {
            digits.append(c);
            any = true;
        } else if (c == u'.' && pointAt < 0) {
            pointAt = int(digits.size());
        } else {
            break;
        }
    }
    if (!any)
        return std::nullopt;
    if (pointAt < 0)
        pointAt = int(digits.size());
    int exponent = 0;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        bool ok = false;
        exponent = text.mid(i + 1).toInt(&ok);
        if (!ok)
            return std::nullopt;
        i = int(text.size());
    }
    if (i != text.size())
        return std::nullopt;
    pointAt += exponent;
    // Integer part = digits[0, pointAt); fraction follows. Keep Scale digits plus one for rounding.
    Units units = 0;
    const int keep = pointAt + Scale;
    if (keep > MaxDigits + Scale)
        return std::nullopt; // out of range
    for (int k = 0; k < keep; ++k) {
        const int d = (k >= 0 && k < digits.size()) ? digits[k].digitValue() : 0;
        units = units * 10 + (k < 0 ? 0 : d);
    }
    if (keep < 0)
        units = 0;
    const int next = keep;
    if (next >= 0 && next < digits.size() && digits[next].digitValue() >= 5)
        units += 1;
    return fromUnits(negative ? -units : units);
}

std::optional<Decimal> Decimal::fromVariant(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return std::nullopt;
    if (v.canConvert<Decimal>() && v.metaType() == QMetaType::fromType<Decimal>())
        return v.value<Decimal>();
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::Short:
        return fromInt(v.toLongLong());
    case QMetaType::ULongLong:
        return fromUnits(Units(v.toULongLong()) * One);
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (!std::isfinite(d))
            return std::nullopt;
        // The shortest text that reads back as the same double: 2.675 stays "2.675".
        return parse(QString::number(d, 'g', 15));
    }
    default:
        return parse(v.toString());
    }
}

Decimal Decimal::rounded(int digits) const
{
    if (digits >= Scale)
        return *this;
    const Units step = pow10(Scale - digits);
    const Units mag = m_units < 0 ? -m_units : m_units;
    const Units r = (mag + step / 2) / step * step;
    return fromUnits(m_units < 0 ? -r : r);
}

QString Decimal::toString(int digits) const
{
    const Decimal r = rounded(digits);
    const Units mag = r.m_units < 0 ? -r.m_units : r.m_units;
    Units whole = mag / One;
    const auto frac = qint64((mag % One) / pow10(Scale - digits));
    QString s;
    do {
        s.prepend(QChar(u'0' + int(whole % 10)));
        whole /= 10;
    } while (whole > 0);
    if (digits > 0)
        s += u'.' + QString::number(frac).rightJustified(digits, u'0');
    if (r.m_units < 0)
        s.prepend(u'-');
    return s;
}

bool Decimal::fitsDigits(int digits) const
{
    const Units mag = m_units < 0 ? -m_units : m_units;
    return mag < pow10(digits + Scale);
}

QString Decimal::toPlainString() const
{
    QString s = toString(Scale);
    if (s.contains(u'.')) {
        while (s.endsWith(u'0'))
            s.chop(1);
        if (s.endsWith(u'.'))
            s.chop(1);
    }
    if (s == u"-0")
        s = QStringLiteral("0");
    return s;
}

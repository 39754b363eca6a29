// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/gridlayout.h"

#include "foundation/dialect.h"

#include <cstdlib>

int GridLayout::columnIndex(const QString& columnName) const
{
    for (int i = 0; i < columns.size(); ++i)
        if (columns[i].name.compare(columnName, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QList<int> GridLayout::displayIndices() const
{
    QList<int> order;
    for (const QString& name : displayOrder)
        if (const int i = columnIndex(name); i >= 0 && !order.contains(i))
            order << i;
    for (int i = 0; i < columns.size(); ++i)
        if (!order.contains(i))
            order << i;
    return order;
}

const GridText* GridLayout::text(const QString& textName) const
{
    for (const GridText& t : texts)
        if (t.name.compare(textName, Qt::CaseInsensitive) == 0)
            return &t;
    return nullptr;
}

QString GridLayout::queryFor(const Dialect& dialect) const
{
    if (!dialect.isSQLite() && !queryPostgres.isEmpty())
        return queryPostgres;
    return query;
}

namespace {

// Inserts thousands separators into a run of digits.
QString groupThousands(const QString& digits)
{
    QString out;
    const int n = int(digits.size());
    for (int i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += u',';
        out += digits[i];
    }
    return out;
}

} // namespace

QString formatFigure(const std::optional<Decimal>& value, const QString& mask)
{
    if (!value)
        return {};
    const QString m = mask.trimmed();
    if (m.isEmpty() || m.compare(QStringLiteral("[general]"), Qt::CaseInsensitive) == 0)
        return value->toPlainString();

    // A numeric picture: optional thousands separator, fixed decimals after the
    // point, an optional trailing percent sign (the value is shown times 100).
    const bool percent = m.endsWith(u'%');
    const QString picture = percent ? m.left(m.size() - 1) : m;
    const qsizetype point = picture.indexOf(u'.');
    int decimals = 0;
    if (point >= 0)
        for (qsizetype i = point + 1; i < picture.size() && (picture[i] == u'0' || picture[i] == u'#'); ++i)
            ++decimals;
    decimals = std::min(decimals, Decimal::Scale);
    const bool grouped = picture.contains(u',');

    // Times 100 for a percentage is exact on the units; no floating point anywhere.
    Decimal v = *value;
    if (percent)
        v = Decimal::fromUnits(v.units() * 100);
    QString text = v.toString(decimals);
    bool negative = text.startsWith(u'-');
    if (negative)
        text.remove(0, 1);
    QString whole = text;
    QString fraction;
    if (const qsizetype dot = text.indexOf(u'.'); dot >= 0) {
        whole = text.left(dot);
        fraction = text.mid(dot);
    }
    if (grouped)
        whole = groupThousands(whole);
    // A figure that rounds to zero is shown unsigned: "-0.00" would only confuse.
    if (negative && v.rounded(decimals).isZero())
        negative = false;
    return (negative ? QStringLiteral("-") : QString()) + whole + fraction +
           (percent ? QStringLiteral("%") : QString());
}

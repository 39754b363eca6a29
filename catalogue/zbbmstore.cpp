// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/zbbmstore.h"

#include "foundation/gridbuffer.h"
#include "foundation/sqlca.h"

namespace zbbm {

namespace {

const QString kCode = QStringLiteral("number");

// Where an indicator code is used: the schemes by name, the figures by count
// and periods. Empty when nothing uses it; nullopt when a look-up failed.
std::optional<QString> usesOf(Sqlca& sqlca, const QString& code)
{
    QStringList where;
    const auto schemes =
        sqlca.selectAll(QStringLiteral("SELECT falx, famc FROM s_zbfa WHERE zbbm = ? GROUP BY falx, famc "
                                       "ORDER BY falx, min(fabm)"),
                        {code});
    if (!schemes)
        return std::nullopt;
    QStringList names;
    for (const QVariantList& s : *schemes) {
        const int kind = s.value(0).toInt();
        const QString name = s.value(1).toString().trimmed();
        // The report's schemes are kind 1; others a host keeps say their kind.
        names << (kind == 1 ? name : QStringLiteral("%1（第%2类）").arg(name).arg(kind));
    }
    if (!names.isEmpty())
        where << QStringLiteral("  指标方案：%1").arg(names.join(QStringLiteral("、")));

    const auto figures = sqlca.selectRow(
        QStringLiteral("SELECT count(*), min(kjqj), max(kjqj) FROM H_stat WHERE zbbm = ?"), {code});
    if (!figures)
        return std::nullopt;
    if (const qlonglong count = figures->value(0).toLongLong(); count > 0) {
        const QString first = periodName(figures->value(1).toString().trimmed());
        const QString last = periodName(figures->value(2).toString().trimmed());
        where << QStringLiteral("  统计数据：%1 条（%2）")
                     .arg(count)
                     .arg(first == last ? first : QStringLiteral("%1—%2").arg(first, last));
    }
    return where.join(u'\n');
}

bool differs(const QVariant& a, const QVariant& b)
{
    return a.isNull() != b.isNull() || a.toString() != b.toString();
}

} // namespace

QString periodName(const QString& kjqj)
{
    bool ok = false;
    const int month = kjqj.mid(4).toInt(&ok);
    if (kjqj.size() != 6 || !ok)
        return kjqj;
    return QStringLiteral("%1年%2月").arg(kjqj.left(4)).arg(month);
}

QString codeChangeRefusal(Sqlca& sqlca, const GridBuffer& grid)
{
    QStringList refused;
    for (long row = 1; row <= grid.RowCount(); ++row) {
        if (!grid.IsRowModified(row))
            continue;
        const QVariant was = grid.GetItemOriginal(row, kCode);
        const QString now = grid.GetItemString(row, kCode);
        if (was.isNull() || was.toString() == now)
            continue;
        const QString old = was.toString();
        const auto uses = usesOf(sqlca, old);
        if (!uses)
            return sqlca.SQLErrText;
        if (uses->isEmpty())
            continue;
        QString name = grid.GetItemOriginal(row, QStringLiteral("zbmc")).toString().trimmed();
        if (name.isEmpty())
            name = grid.GetItemString(row, QStringLiteral("zbmc")).trimmed();
        refused << QStringLiteral("指标“%1”（编码 %2）已在使用，不能把编码改为“%3”：\n%4")
                       .arg(name, old.trimmed(), now.trimmed(), *uses);
    }
    if (refused.isEmpty())
        return {};
    return refused.join(QStringLiteral("\n\n")) +
           QStringLiteral("\n\n方案和统计数据按编码找指标，编码一改，报表中就少了这个指标。"
                          "请把编码改回原来的编码；没有使用的指标才可以修改编码。本次修改都没有保存。");
}

std::optional<QList<Renamed>> renamedInSchemes(Sqlca& sqlca, const GridBuffer& grid)
{
    QList<Renamed> list;
    for (long row = 1; row <= grid.RowCount(); ++row) {
        if (!grid.IsRowModified(row))
            continue;
        Renamed r;
        r.code = grid.GetItemOriginal(row, kCode).toString();
        for (const QString& column :
             {QStringLiteral("zblx"), QStringLiteral("zbmc"), QStringLiteral("zbms")}) {
            const QVariant now = grid.GetItem(row, column);
            if (differs(grid.GetItemOriginal(row, column), now)) {
                r.columns << column;
                r.values << now;
            }
        }
        if (r.columns.isEmpty() || r.code.isEmpty())
            continue;
        const QVariant held =
            sqlca.selectValue(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE zbbm = ?"), {r.code});
        if (sqlca.SQLCode != 0)
            return std::nullopt;
        if (held.toInt() > 0)
            list << r;
    }
    return list;
}

bool copyIntoSchemes(Sqlca& sqlca, const QList<Renamed>& renamed)
{
    for (const Renamed& r : renamed) {
        QStringList sets;
        for (const QString& column : r.columns)
            sets << column + QStringLiteral(" = ?");
        QVariantList binds = r.values;
        binds << r.code;
        if (!sqlca.execute(
                QStringLiteral("UPDATE s_zbfa SET %1 WHERE zbbm = ?").arg(sets.join(QStringLiteral(", "))),
                binds))
            return false;
    }
    return true;
}

} // namespace zbbm

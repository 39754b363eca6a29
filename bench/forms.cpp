// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/forms.h"

#include "foundation/dialect.h"
#include "foundation/sqlca.h"

namespace benchforms {

namespace {

// A text literal, quotes doubled: the codes come from our own data set, but a
// statement built as text never trusts its pieces.
QString quoted(const QString& text)
{
    QString t = text;
    t.replace(u'\'', QStringLiteral("''"));
    return u'\'' + t + u'\'';
}

Status dbError(Sqlca& sqlca, const QString& what)
{
    return Status::failure(QStringLiteral("%1: %2").arg(what, sqlca.SQLErrText));
}

} // namespace

QStringList literalInserts(const Dialect& dialect, const QString& region, const QString& period)
{
    // PostgreSQL takes "insert into T(cols)(select ...)" as written; SQLite
    // wants the select without the parentheses.
    const bool parenthesised = !dialect.isSQLite();
    auto insert = [&](const QString& select) {
        return parenthesised ? QStringLiteral("insert into T_stat(zbbm,qichu,fasheng,leiji)(%1)").arg(select)
                             : QStringLiteral("insert into T_stat(zbbm,qichu,fasheng,leiji) %1").arg(select);
    };
    QStringList out;
    const QString prefix = dialect.left(QStringLiteral("H_stat.number"), QString::number(region.size()));
    const char* functions[] = {"sum", "avg", "max", "min"};
    for (int kind = 1; kind <= 4; ++kind) {
        const QString f = QString::fromLatin1(functions[kind - 1]);
        auto agg = [&](const char* column) {
            return dialect.money(QStringLiteral("%1(H_stat.%2)").arg(f, QString::fromLatin1(column)));
        };
        out << insert(
            QStringLiteral("select H_stat.zbbm,%1,%2,%3 from H_stat,S_zbbm where %4 = %5 and "
                           "H_stat.kjqj = %6 and H_stat.zbbm = S_zbbm.number and S_zbbm.flag1 = %7 "
                           "group by H_stat.zbbm")
                .arg(agg("qichu"), agg("fasheng"), agg("leiji"), prefix, quoted(region), quoted(period))
                .arg(kind));
    }
    out << insert(QStringLiteral("select S_zbbm.number,0,0,0 from S_zbbm where S_zbbm.flag1 = 0"));
    return out;
}

Status runLiteral(Sqlca& sqlca, const QString& region, const QString& period, const QString& scheme)
{
    const Dialect& d = sqlca.dialect();
    TransactionGuard tx(sqlca, true);
    if (!tx.active())
        return dbError(sqlca, QStringLiteral("begin"));
    if (!sqlca.executeImmediate(QStringLiteral("DELETE FROM t_stat")))
        return dbError(sqlca, QStringLiteral("emptying t_stat"));
    for (const QString& sql : literalInserts(d, region, period))
        if (!sqlca.executeImmediate(sql))
            return dbError(sqlca, sql);
    const QString off = d.joinedDelete(QStringLiteral("t_stat"), QStringLiteral("s_zbfa"),
                                       QStringLiteral("( t_stat.zbbm =s_zbfa.zbbm ) AND ( s_zbfa.xz =0 ) AND "
                                                      "( s_zbfa.famc =? ) and ( s_zbfa.falx =1 )"));
    if (!sqlca.execute(off, {scheme}))
        return dbError(sqlca, off);
    const QString order =
        d.joinedUpdate(QStringLiteral("t_stat"), QStringLiteral("hh =s_zbfa.hh"), QStringLiteral("s_zbfa"),
                       QStringLiteral("( t_stat.zbbm =s_zbfa.zbbm ) AND ( s_zbfa.famc =? ) and "
                                      "( s_zbfa.falx =1 )"));
    if (!sqlca.execute(order, {scheme}))
        return dbError(sqlca, order);
    if (!tx.commit())
        return dbError(sqlca, QStringLiteral("commit"));
    return Status::success();
}

QString floorQuery(const Dialect& dialect)
{
    return QStringLiteral(
               "SELECT zbbm, sum(qichu), sum(fasheng), sum(leiji) FROM H_stat WHERE kjqj = ? AND %1 "
               "GROUP BY zbbm")
        .arg(dialect.prefixRange(QStringLiteral("number")));
}

Status runFloor(Sqlca& sqlca, const QString& region, const QString& period, long* groups)
{
    Cursor c(sqlca, floorQuery(sqlca.dialect()), {period, region, Dialect::prefixUpperBound(region)});
    if (!c.open())
        return dbError(sqlca, QStringLiteral("floor query"));
    long n = 0;
    QVariantList row;
    while (c.fetch(row))
        ++n;
    if (sqlca.SQLCode == -1)
        return dbError(sqlca, QStringLiteral("floor query"));
    if (groups)
        *groups = n;
    return Status::success();
}

std::optional<long long> countRows(Sqlca& sqlca, const QString& region, const QString& period)
{
    const QVariant n = sqlca.selectValue(QStringLiteral("SELECT count(*) FROM H_stat WHERE kjqj = ? AND %1")
                                             .arg(sqlca.dialect().prefixRange(QStringLiteral("number"))),
                                         {period, region, Dialect::prefixUpperBound(region)});
    if (sqlca.SQLCode != 0)
        return std::nullopt;
    return n.toLongLong();
}

std::optional<QList<StatRow>> workingRows(Sqlca& sqlca)
{
    const auto rows = sqlca.selectAll(QStringLiteral("SELECT zbbm, qichu, fasheng, leiji, hh FROM t_stat "
                                                     "ORDER BY zbbm, hh"));
    if (!rows)
        return std::nullopt;
    QList<StatRow> out;
    for (const QVariantList& r : *rows)
        out << StatRow{r[0].toString(), Decimal::fromVariant(r[1]), Decimal::fromVariant(r[2]),
                       Decimal::fromVariant(r[3]), r[4].toInt()};
    return out;
}

QString describe(const StatRow& row)
{
    auto text = [](const std::optional<Decimal>& d) {
        return d ? d->toPlainString() : QStringLiteral("null");
    };
    return QStringLiteral("%1 %2 %3 %4 hh=%5")
        .arg(row.zbbm, text(row.qichu), text(row.fasheng), text(row.leiji))
        .arg(row.hh);
}

} // namespace benchforms

// SPDX-License-Identifier: GPL-3.0-or-later
#include "schemes/schemestore.h"

#include "foundation/gridbuffer.h"
#include "foundation/sqlca.h"

namespace zbfa {

namespace {

const QString kCatalogue =
    QStringLiteral("SELECT s_zbbm.number, s_zbbm.zblx, s_zbbm.zbmc, s_zbbm.zbms, s_zbbm.flag2 FROM s_zbbm");

// One row of a scheme; deffa is 0, xz as given.
const QString kInsertRow =
    QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, zbms, deffa, xz, flag2) "
                   "VALUES (?, ?, ?, ?, ?, ?, ?, ?, 0, ?, ?)");

// Holds the kind's scheme codes until the transaction ends (see Dialect).
bool lockKind(Sqlca& sqlca, int falx)
{
    const QString lock = sqlca.dialect().lockSchemeKind();
    return lock.isEmpty() || sqlca.execute(lock, {falx});
}

Status failure(Sqlca& sqlca)
{
    return Status::failure(sqlca.SQLErrText);
}

} // namespace

QStringList names(Sqlca& sqlca, int falx)
{
    QStringList list;
    Cursor sel_famc(
        sqlca,
        QStringLiteral("SELECT s_zbfa.famc FROM s_zbfa WHERE s_zbfa.falx = ? GROUP BY s_zbfa.famc "
                       "ORDER BY min(s_zbfa.fabm)"),
        {falx});
    if (!sel_famc.open())
        return list;
    QVariantList row;
    while (sel_famc.fetch(row))
        list << row.value(0).toString();
    sel_famc.close();
    return list;
}

int lookUp(Sqlca& sqlca, const QString& famc, int falx)
{
    const auto row = sqlca.selectRow(
        QStringLiteral("SELECT s_zbfa.fabm FROM s_zbfa WHERE s_zbfa.famc = ? AND s_zbfa.falx = ? "
                       "GROUP BY s_zbfa.fabm"),
        {famc, falx});
    if (!row || row->isEmpty())
        return 0;
    return row->first().toInt();
}

bool isDefault(Sqlca& sqlca, const QString& famc, int falx)
{
    return sqlca
               .selectValue(QStringLiteral("SELECT max(deffa) FROM s_zbfa WHERE falx = ? AND famc = ?"),
                            {falx, famc})
               .toInt() == 1;
}

int kindRows(Sqlca& sqlca, int falx)
{
    return sqlca
        .selectValue(QStringLiteral("SELECT %1 FROM s_zbfa WHERE falx = ?")
                         .arg(sqlca.dialect().isnull(QStringLiteral("count(*)"), QStringLiteral("0"))),
                     {falx})
        .toInt();
}

QString defaultName(int fabm)
{
    return QStringLiteral("方案") + QString::number(fabm);
}

std::optional<Added> add(Sqlca& sqlca, int falx, const std::function<void(int fabm)>& afterCodeRead)
{
    TransactionGuard tx(sqlca, TransactionGuard::Writes::AtOnce);
    if (!tx.active() || !lockKind(sqlca, falx))
        return std::nullopt;
    const auto highest =
        sqlca.selectRow(QStringLiteral("SELECT %1 FROM s_zbfa WHERE s_zbfa.falx = ?")
                            .arg(sqlca.dialect().isnull(QStringLiteral("max(fabm)"), QStringLiteral("0"))),
                        {falx});
    if (!highest)
        return std::nullopt;
    Added added;
    added.fabm = highest->value(0).toInt() + 1;
    added.famc = defaultName(added.fabm);
    if (afterCodeRead)
        afterCodeRead(added.fabm);

    const auto catalogue = sqlca.selectAll(kCatalogue);
    if (!catalogue)
        return std::nullopt;
    int hh = 10;
    for (const QVariantList& r : *catalogue) {
        if (!sqlca.execute(kInsertRow, {falx, added.fabm, added.famc, hh, r.value(0), r.value(1), r.value(2),
                                        r.value(3), 1, r.value(4)}))
            return std::nullopt; // the guard rolls every row of the add back
        hh += 10;
    }
    if (!tx.commit())
        return std::nullopt;
    return added;
}

namespace {

// The scheme's rows and the catalogue's indicators; false when a count fails.
bool counts(Sqlca& sqlca, int falx, int fabm, qlonglong* rows, qlonglong* indicators)
{
    *indicators = sqlca.selectValue(QStringLiteral("SELECT count(*) FROM s_zbbm")).toLongLong();
    if (sqlca.SQLCode != 0)
        return false;
    *rows = sqlca
                .selectValue(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = ? AND fabm = ?"),
                             {falx, fabm})
                .toLongLong();
    return sqlca.SQLCode == 0;
}

} // namespace

int topUp(Sqlca& sqlca, int falx, int fabm, const QString& famc)
{
    // Counts, not sets: a scheme as long as the catalogue is left alone.
    qlonglong rows = 0, indicators = 0;
    if (!counts(sqlca, falx, fabm, &rows, &indicators))
        return -1;
    if (rows >= indicators)
        return 0;
    // Counted again under the kind's lock, so two users opening the editor at
    // once do not both append the same indicators.
    TransactionGuard tx(sqlca, TransactionGuard::Writes::AtOnce);
    if (!tx.active() || !lockKind(sqlca, falx) || !counts(sqlca, falx, fabm, &rows, &indicators))
        return -1;
    if (rows >= indicators) {
        tx.rollback();
        sqlca.setOk();
        return 0;
    }
    const QVariant next =
        sqlca.selectValue(QStringLiteral("SELECT %1 + 10 FROM s_zbfa WHERE falx = ? AND fabm = ?")
                              .arg(sqlca.dialect().isnull(QStringLiteral("max(hh)"), QStringLiteral("0"))),
                          {falx, fabm});
    if (sqlca.SQLCode != 0)
        return -1;
    const auto catalogue = sqlca.selectAll(kCatalogue);
    if (!catalogue)
        return -1;
    int hh = next.toInt();
    int added = 0;
    for (const QVariantList& r : *catalogue) {
        const QVariant listed = sqlca.selectValue(
            QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = ? AND fabm = ? AND zbbm = ?"),
            {falx, fabm, r.value(0)});
        if (sqlca.SQLCode != 0)
            return -1;
        if (listed.toInt() != 0)
            continue;
        if (!sqlca.execute(kInsertRow, {falx, fabm, famc, hh, r.value(0), r.value(1), r.value(2), r.value(3),
                                        0, r.value(4)}))
            return -1;
        hh += 10;
        ++added;
    }
    if (!tx.commit())
        return -1;
    return added;
}

Status remove(Sqlca& sqlca, int falx, int fabm)
{
    TransactionGuard tx(sqlca);
    if (!tx.active() ||
        !sqlca.execute(QStringLiteral("DELETE FROM s_zbfa WHERE fabm = ? AND falx = ?"), {fabm, falx}) ||
        !tx.commit())
        return failure(sqlca);
    return Status::success();
}

Status makeDefault(Sqlca& sqlca, int falx, const QString& famc)
{
    TransactionGuard tx(sqlca);
    if (!tx.active())
        return failure(sqlca);
    const int fabm = lookUp(sqlca, famc, falx);
    if (sqlca.SQLCode == -1)
        return failure(sqlca);
    if (!sqlca.execute(QStringLiteral("UPDATE s_zbfa SET deffa = 0 WHERE s_zbfa.falx = ?"), {falx}) ||
        !sqlca.execute(
            QStringLiteral("UPDATE s_zbfa SET deffa = 1 WHERE s_zbfa.fabm = ? AND s_zbfa.falx = ?"),
            {fabm, falx}))
        return failure(sqlca);
    // A scheme that is gone (another user deleted it) must not leave the kind without a default.
    if (sqlca.SQLNRows < 1) {
        sqlca.setError(QStringLiteral("方案“%1”已不存在").arg(famc));
        return failure(sqlca);
    }
    if (!tx.commit())
        return failure(sqlca);
    return Status::success();
}

Status save(Sqlca& sqlca, GridBuffer& grid, int falx, const QString& famc)
{
    // Every row of the grid, the ones the view filter hides included.
    const QString filter = grid.filterExpression();
    const bool redraw = grid.redrawOn();
    grid.SetRedraw(false);
    if (!filter.isEmpty()) {
        grid.SetFilter(QString());
        grid.Filter();
    }
    QVariant fabm;
    for (long row = 1; row <= grid.RowCount(); ++row) {
        grid.SetItem(row, QStringLiteral("s_zbfa_famc"), famc);
        if (fabm.isNull())
            fabm = grid.GetItemOriginal(row, QStringLiteral("fabm"));
    }
    if (!filter.isEmpty()) {
        grid.SetFilter(filter);
        grid.Filter();
    }
    grid.SetRedraw(redraw);

    TransactionGuard tx(sqlca);
    if (!tx.active())
        return failure(sqlca);
    if (!fabm.isNull()) {
        // Within a kind a name belongs to one scheme.
        const QVariant others = sqlca.selectValue(
            QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = ? AND famc = ? AND fabm <> ?"),
            {falx, famc, fabm});
        if (sqlca.SQLCode != 0)
            return failure(sqlca);
        if (others.toInt() > 0)
            return Status::failure(QStringLiteral("方案名称“%1”已被其他方案使用，请另取名称").arg(famc));
    }
    if (grid.Update() != 1)
        return failure(sqlca);
    // The scheme's stored rows the grid does not show (their indicator left the
    // catalogue) take the name too, so the scheme never answers to two names.
    if (!fabm.isNull() &&
        !sqlca.execute(QStringLiteral("UPDATE s_zbfa SET famc = ? WHERE falx = ? AND fabm = ? "
                                      "AND (famc IS NULL OR famc <> ?)"),
                       {famc, falx, fabm, famc}))
        return failure(sqlca);
    if (!tx.commit())
        return failure(sqlca);
    return Status::success();
}

} // namespace zbfa

// SPDX-License-Identifier: GPL-3.0-or-later
// The grid row buffer on both backends: retrieve with its hooks, filter, sort,
// edits through SetItem and SetText, and Update writing changed rows by their
// original key values, all or nothing.
#include "foundation/gridbuffer.h"
#include "schemes/dw_zbfa.h"
#include "support/testdb.h"

namespace {

// The figures of the working table, written back by indicator code.
GridLayout figureLayout()
{
    GridLayout l;
    l.name = QStringLiteral("figures");
    l.query = QStringLiteral("SELECT zbbm, qichu, fasheng, leiji, hh FROM t_stat ORDER BY hh");
    for (const QString& n : {QStringLiteral("zbbm"), QStringLiteral("qichu"), QStringLiteral("fasheng"),
                             QStringLiteral("leiji"), QStringLiteral("hh")}) {
        GridColumn c;
        c.name = n;
        c.source = n;
        c.type = n == u"zbbm" ? ColumnType::Text : (n == u"hh" ? ColumnType::Integer : ColumnType::Decimal);
        l.columns << c;
    }
    l.updateTable = QStringLiteral("t_stat");
    l.keyColumns = {QStringLiteral("zbbm")};
    return l;
}

class GridBufferTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (IsSkipped())
            return;
        for (const QString& code :
             {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D")})
            db->exec(
                QStringLiteral(
                    "INSERT INTO s_zbbm (number, zblx, zbmc, zbms, flag1, flag2) VALUES (?, ?, ?, ?, 1, 0)"),
                {code, QStringLiteral("类型"), QStringLiteral("指标") + code, QStringLiteral("目录描述")});
        // Scheme 1 of kind 1: A 10 (selected), B 20, C 30 (selected), D 40.
        addSchemeRow(1, 1, QStringLiteral("A"), 10, 1);
        addSchemeRow(1, 1, QStringLiteral("B"), 20, 0);
        addSchemeRow(1, 1, QStringLiteral("C"), 30, 1);
        addSchemeRow(1, 1, QStringLiteral("D"), 40, 0);
        // The same indicator and row order in another scheme and in another kind.
        addSchemeRow(1, 2, QStringLiteral("A"), 10, 1);
        addSchemeRow(2, 1, QStringLiteral("A"), 10, 1);
        grid = std::make_unique<GridBuffer>(dw_zbfa()); // the scheme grid
        grid->SetTransObject(&sqlca());
    }

    void addSchemeRow(int falx, int fabm, const QString& zbbm, const QVariant& hh, int xz)
    {
        db->exec(
            QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, zbms, deffa, xz) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, 0, ?)"),
            {falx, fabm, QStringLiteral("方案%1").arg(fabm), hh, zbbm, QStringLiteral("类型"),
             QStringLiteral("指标") + zbbm, QStringLiteral("描述"), xz});
    }

    QVariant stored(const QString& column, int falx, int fabm, const QString& zbbm)
    {
        return sqlca().selectValue(
            QStringLiteral("SELECT %1 FROM s_zbfa WHERE falx = ? AND fabm = ? AND zbbm = ?").arg(column),
            {falx, fabm, zbbm});
    }

    QStringList shownCodes() const
    {
        QStringList codes;
        for (long r = 1; r <= grid->RowCount(); ++r)
            codes << grid->GetItemString(r, QStringLiteral("zbbm"));
        return codes;
    }

    std::unique_ptr<GridBuffer> grid;
};

const QString kZbbm = QStringLiteral("zbbm");
const QString kHh = QStringLiteral("hh");
const QString kXz = QStringLiteral("xz");
const QString kName = QStringLiteral("s_zbfa_zbmc");

TEST_P(GridBufferTest, FilterSortEditAndUpdateWriteHiddenRowsOfThisSchemeOnly)
{
    ASSERT_EQ(grid->Retrieve({1, 1}), 4);
    EXPECT_EQ(shownCodes(), (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                                         QStringLiteral("D")}));
    EXPECT_EQ(grid->GetItem(1, kHh).metaType().id(), QMetaType::LongLong);
    EXPECT_EQ(grid->GetItemString(1, QStringLiteral("zbms")), QStringLiteral("目录描述"));

    ASSERT_EQ(grid->SetSort(QStringLiteral("hh desc")), 1);
    grid->Sort();
    EXPECT_EQ(shownCodes(), (QStringList{QStringLiteral("D"), QStringLiteral("C"), QStringLiteral("B"),
                                         QStringLiteral("A")}));
    // B is edited while shown, then hidden by the filter.
    EXPECT_EQ(grid->SetItem(3, kName, QStringLiteral("乙改")), 1);
    ASSERT_EQ(grid->SetFilter(QStringLiteral("xz = 1")), 1);
    grid->Filter();
    EXPECT_EQ(shownCodes(), (QStringList{QStringLiteral("C"), QStringLiteral("A")}));
    EXPECT_EQ(grid->RowCount(), 2);
    EXPECT_EQ(grid->SetItem(2, kName, QStringLiteral("甲改")), 1);
    EXPECT_EQ(grid->SetItem(2, QStringLiteral("s_zbfa_famc"), QStringLiteral("新方案")), 1);
    EXPECT_EQ(grid->SetItem(3, kName, QStringLiteral("x")), -1); // only shown rows are reachable
    EXPECT_EQ(grid->ModifiedCount(), 2);
    EXPECT_TRUE(grid->IsRowModified(2));
    EXPECT_FALSE(grid->IsRowModified(1));

    ASSERT_EQ(grid->Update(), 1) << grid->transObject()->SQLErrText.toStdString();
    EXPECT_EQ(grid->ModifiedCount(), 0);
    EXPECT_EQ(stored(QStringLiteral("zbmc"), 1, 1, QStringLiteral("A")).toString(), QStringLiteral("甲改"));
    EXPECT_EQ(stored(QStringLiteral("famc"), 1, 1, QStringLiteral("A")).toString(), QStringLiteral("新方案"));
    EXPECT_EQ(stored(QStringLiteral("zbmc"), 1, 1, QStringLiteral("B")).toString(), QStringLiteral("乙改"));
    // The rows with the same zbbm + hh in another scheme and another kind are untouched.
    EXPECT_EQ(stored(QStringLiteral("zbmc"), 1, 2, QStringLiteral("A")).toString(), QStringLiteral("指标A"));
    EXPECT_EQ(stored(QStringLiteral("zbmc"), 2, 1, QStringLiteral("A")).toString(), QStringLiteral("指标A"));
    EXPECT_EQ(stored(QStringLiteral("famc"), 1, 2, QStringLiteral("A")).toString(), QStringLiteral("方案2"));

    // Setting a value back to what was read leaves the row unmodified.
    grid->SetItem(1, kName, QStringLiteral("临时"));
    EXPECT_EQ(grid->ModifiedCount(), 1);
    grid->SetItem(1, kName, QStringLiteral("指标C"));
    EXPECT_EQ(grid->ModifiedCount(), 0);

    // The filter stays in force across a retrieve; the query's order comes back.
    ASSERT_EQ(grid->Retrieve({1, 1}), 2);
    EXPECT_EQ(shownCodes(), (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
    grid->SetFilter(QString());
    grid->Filter();
    EXPECT_EQ(grid->RowCount(), 4);
}

TEST_P(GridBufferTest, AChangedKeyStillFindsTheStoredRowByItsOriginalValue)
{
    addSchemeRow(1, 1, QStringLiteral("D"), QVariant(), 1); // D listed twice; this copy has no row order
    ASSERT_EQ(grid->Retrieve({1, 1}), 5);
    // Nulls sort first on both backends' reading of the rows.
    grid->SetSort(QStringLiteral("hh asc"));
    grid->Sort();
    ASSERT_TRUE(grid->GetItem(1, kHh).isNull());
    EXPECT_EQ(grid->SetItem(1, kHh, 50), 1);
    EXPECT_EQ(grid->SetItem(2, kHh, 15), 1); // A: 10 -> 15
    ASSERT_EQ(grid->Update(), 1) << sqlca().SQLErrText.toStdString();
    EXPECT_EQ(sqlca()
                  .selectValue(QStringLiteral(
                      "SELECT count(*) FROM s_zbfa WHERE falx = 1 AND fabm = 1 AND hh IS NULL"))
                  .toInt(),
              0);
    EXPECT_EQ(sqlca()
                  .selectValue(
                      QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 1 AND fabm = 1 AND zbbm = 'D'"
                                     " AND hh = 50"))
                  .toInt(),
              1);
    EXPECT_EQ(stored(kHh, 1, 1, QStringLiteral("A")).toInt(), 15);
    EXPECT_EQ(stored(kHh, 1, 2, QStringLiteral("A")).toInt(), 10);

    // After a successful write the new values are the originals: a second change finds 15.
    EXPECT_EQ(grid->SetItem(2, kHh, 25), 1);
    EXPECT_EQ(grid->GetItemOriginal(2, kHh).toInt(), 15);
    ASSERT_EQ(grid->Update(), 1);
    EXPECT_EQ(stored(kHh, 1, 1, QStringLiteral("A")).toInt(), 25);
}

TEST_P(GridBufferTest, AnUpdateWhoseRowIsGoneFailsAndWritesNothing)
{
    ASSERT_EQ(grid->Retrieve({1, 1}), 4);
    auto other = db->connectAgain();
    ASSERT_TRUE(other);
    // A is written first; B was removed by another user since it was read.
    ASSERT_EQ(grid->SetItem(1, kName, QStringLiteral("甲改")), 1);
    ASSERT_EQ(grid->SetItem(2, kXz, 1), 1);
    ASSERT_TRUE(other->execute(QStringLiteral("DELETE FROM s_zbfa WHERE falx = ? AND fabm = ? AND zbbm = ?"),
                               {1, 1, QStringLiteral("B")}));
    EXPECT_EQ(grid->Update(), -1);
    EXPECT_EQ(sqlca().SQLCode, -1);
    const QString why = sqlca().SQLErrText;
    EXPECT_TRUE(why.contains(QStringLiteral("第2行")) && why.contains(QStringLiteral("“B”")) &&
                why.contains(QStringLiteral("已被他人修改或删除")))
        << why.toStdString();
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(stored(QStringLiteral("zbmc"), 1, 1, QStringLiteral("A")).toString(), QStringLiteral("指标A"))
        << "the row written before is rolled back";
    EXPECT_EQ(grid->ModifiedCount(), 2) << "every edit is kept";
    EXPECT_TRUE(grid->IsRowModified(1) && grid->IsRowModified(2));
    EXPECT_EQ(grid->GetItemString(1, kName), QStringLiteral("甲改"));

    // A key another user changed: the row is not there as it was read either.
    ASSERT_TRUE(grid->SetItem(2, kXz, 0) == 1 && grid->ModifiedCount() == 1);
    ASSERT_TRUE(
        other->execute(QStringLiteral("UPDATE s_zbfa SET hh = ? WHERE falx = ? AND fabm = ? AND zbbm = ?"),
                       {35, 1, 1, QStringLiteral("C")}));
    ASSERT_EQ(grid->SetItem(3, kName, QStringLiteral("丙改")), 1);
    EXPECT_EQ(grid->Update(), -1);
    EXPECT_TRUE(sqlca().SQLErrText.contains(QStringLiteral("“C”"))) << sqlca().SQLErrText.toStdString();
    EXPECT_EQ(stored(QStringLiteral("zbmc"), 1, 1, QStringLiteral("A")).toString(), QStringLiteral("指标A"));
    EXPECT_EQ(grid->ModifiedCount(), 2);

    // The rows as they stand now save as usual.
    ASSERT_EQ(grid->Retrieve({1, 1}), 3);
    ASSERT_EQ(grid->SetItem(1, kName, QStringLiteral("甲改")), 1);
    EXPECT_EQ(grid->Update(), 1) << sqlca().SQLErrText.toStdString();
    EXPECT_EQ(stored(QStringLiteral("zbmc"), 1, 1, QStringLiteral("A")).toString(), QStringLiteral("甲改"));
}

TEST_P(GridBufferTest, AFailedUpdateWritesNothingAndKeepsEditsAndStatuses)
{
    ASSERT_EQ(grid->Retrieve({1, 1}), 4);
    grid->SetItem(1, kName, QStringLiteral("先写"));
    // NOT NULL on s_zbfa.falx: refused by both backends.
    ASSERT_EQ(grid->SetItem(4, QStringLiteral("falx"), QVariant()), 1);
    EXPECT_EQ(grid->ModifiedCount(), 2);

    EXPECT_EQ(grid->Update(), -1);
    EXPECT_EQ(sqlca().SQLCode, -1);
    EXPECT_FALSE(sqlca().SQLErrText.isEmpty());
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(stored(QStringLiteral("zbmc"), 1, 1, QStringLiteral("A")).toString(), QStringLiteral("指标A"));
    EXPECT_EQ(grid->ModifiedCount(), 2);
    EXPECT_EQ(grid->GetItemString(1, kName), QStringLiteral("先写"));
    EXPECT_TRUE(grid->GetItem(4, QStringLiteral("falx")).isNull());

    // Inside an open transaction the failure rolls back to a savepoint only:
    // the caller's earlier work survives and the transaction stays usable.
    ASSERT_TRUE(sqlca().begin());
    db->exec(QStringLiteral("UPDATE s_zbfa SET famc = ? WHERE falx = 2"), {QStringLiteral("外层")});
    EXPECT_EQ(grid->Update(), -1);
    EXPECT_EQ(sqlca().SQLCode, -1);
    EXPECT_TRUE(sqlca().inTransaction());
    EXPECT_EQ(stored(QStringLiteral("famc"), 2, 1, QStringLiteral("A")).toString(), QStringLiteral("外层"));
    // Put the value back; now the same edits go through and commit with the caller.
    grid->SetItem(4, QStringLiteral("falx"), 1);
    ASSERT_EQ(grid->Update(), 1) << sqlca().SQLErrText.toStdString();
    EXPECT_TRUE(sqlca().inTransaction());
    ASSERT_TRUE(sqlca().commit());
    EXPECT_EQ(stored(QStringLiteral("zbmc"), 1, 1, QStringLiteral("A")).toString(), QStringLiteral("先写"));
    EXPECT_EQ(grid->ModifiedCount(), 0);

    // A grid without a table to write to fails without touching the database.
    GridLayout readOnly = figureLayout();
    readOnly.updateTable.clear();
    GridBuffer report(readOnly);
    report.SetTransObject(&sqlca());
    EXPECT_EQ(report.Update(), -1);
    EXPECT_EQ(sqlca().SQLCode, -1);
}

TEST_P(GridBufferTest, ItemChangedSeesTheOldValueAndASortInsideStillStoresIntoTheEditedRow)
{
    // Three rows P, Q, R numbered 10, 20, 30 (the selected rows of scheme 1, renumbered).
    ASSERT_EQ(grid->Retrieve({1, 1}), 4);
    struct Seen
    {
        long row;
        QString column;
        QVariant oldValue, newValue;
    };
    QList<Seen> seen;
    // The scheme editor's row-order handler: sort by hh, renumber 10, 20, 30, ...
    grid->itemChanged = [&](long row, const QString& column, const QVariant& oldValue,
                            const QVariant& newValue) {
        seen << Seen{row, column, oldValue, newValue};
        if (column == kHh) {
            grid->SetRedraw(false);
            grid->SetSort(QStringLiteral("hh asc"));
            grid->Sort();
            for (long r = 1; r <= grid->RowCount(); ++r)
                grid->SetItem(r, kHh, qlonglong(r * 10));
            grid->SetRedraw(true);
        }
        return newValue != QVariant(qlonglong(999));
    };
    EXPECT_EQ(grid->SetText(1, kHh, QStringLiteral("25")), 1);
    ASSERT_EQ(seen.size(), 1);
    EXPECT_EQ(seen[0].oldValue.toInt(), 10);
    EXPECT_EQ(seen[0].newValue.toInt(), 25);
    // A keeps the typed value and stays first until the next re-sort.
    EXPECT_EQ(shownCodes().first(), QStringLiteral("A"));
    EXPECT_EQ(grid->GetItem(1, kHh).toInt(), 25);

    // Editing the row shown second (B, 20): the hook re-sorts to B A C D first,
    // so B moves to position 1; the typed 5 must still land in B.
    EXPECT_EQ(grid->SetText(2, kHh, 5), 1);
    EXPECT_EQ(seen.last().oldValue.toInt(), 20);
    EXPECT_EQ(shownCodes(), (QStringList{QStringLiteral("B"), QStringLiteral("A"), QStringLiteral("C"),
                                         QStringLiteral("D")}));
    EXPECT_EQ(grid->GetItem(1, kHh).toInt(), 5);
    EXPECT_EQ(grid->GetItem(2, kHh).toInt(), 20);
    EXPECT_EQ(grid->GetItem(3, kHh).toInt(), 30);

    // A rejected value is not stored; a value the column cannot hold never reaches the hook.
    EXPECT_EQ(grid->SetText(3, kHh, 999), 0);
    EXPECT_EQ(grid->GetItem(3, kHh).toInt(), 30);
    const auto before = seen.size();
    EXPECT_EQ(grid->SetText(3, kHh, QStringLiteral("abc")), -1);
    EXPECT_EQ(grid->SetText(3, kHh, QStringLiteral("1.5")), -1);
    EXPECT_EQ(seen.size(), before);
    // Other columns go through the hook without re-sorting; a check box stores 1 or 0.
    EXPECT_EQ(grid->SetText(4, kXz, true), 1);
    EXPECT_EQ(grid->GetItem(4, kXz).toInt(), 1);
    EXPECT_EQ(seen.last().column, kXz);

    // A hook that empties the grid leaves nothing to store into, and no crash.
    grid->itemChanged = [&](long, const QString&, const QVariant&, const QVariant&) {
        grid->Reset();
        return true;
    };
    EXPECT_EQ(grid->SetText(1, kName, QStringLiteral("x")), 0);
    EXPECT_EQ(grid->RowCount(), 0);
}

TEST_P(GridBufferTest, RetrieveRunsItsHooksInsideTheCallAndFailsEmpty)
{
    QStringList trace;
    grid->retrieveStart = [&] { trace << QStringLiteral("start:%1").arg(grid->RowCount()); };
    grid->retrieveEnd = [&](long rows) {
        // The rows are in and the filter applied when the end hook runs.
        trace << QStringLiteral("end:%1:%2:%3")
                     .arg(rows)
                     .arg(grid->RowCount())
                     .arg(grid->GetItemString(1, kZbbm));
        grid->SetItem(1, kName, QString()); // tidying writes null into the buffer only
    };
    grid->SetFilter(QStringLiteral("xz = 0"));
    ASSERT_EQ(grid->Retrieve({1, 1}), 2);
    trace << QStringLiteral("after");
    EXPECT_EQ(trace,
              (QStringList{QStringLiteral("start:0"), QStringLiteral("end:2:2:B"), QStringLiteral("after")}));
    EXPECT_TRUE(grid->GetItemString(1, kName).isNull());

    trace.clear();
    EXPECT_EQ(grid->Retrieve({9, 1}), 0);
    EXPECT_EQ(sqlca().SQLCode, 100);
    EXPECT_EQ(trace, (QStringList{QStringLiteral("start:2"), QStringLiteral("end:0:0:")}));

    // A failing query leaves the grid empty with the error in sqlca; the end hook does not run.
    db->exec(QStringLiteral("DROP TABLE s_zbbm"));
    trace.clear();
    EXPECT_EQ(grid->Retrieve({1, 1}), -1);
    EXPECT_EQ(grid->RowCount(), 0);
    EXPECT_EQ(sqlca().SQLCode, -1);
    EXPECT_EQ(trace, (QStringList{QStringLiteral("start:0")}));
}

TEST_P(GridBufferTest, FilterAndSortExpressions)
{
    addSchemeRow(1, 1, QStringLiteral("C"), 20, 1); // equal hh: B and the second C keep their read order
    ASSERT_EQ(grid->Retrieve({1, 1}), 5);
    ASSERT_EQ(grid->GetItem(3, kHh).toInt(), 20);
    grid->SetSort(QStringLiteral("hh desc, zbbm asc"));
    grid->Sort();
    EXPECT_EQ(shownCodes(), (QStringList{QStringLiteral("D"), QStringLiteral("C"), QStringLiteral("B"),
                                         QStringLiteral("C"), QStringLiteral("A")}));
    grid->SetSort(QStringLiteral("xz asc"));
    grid->SetFilter(QString());
    grid->Sort();
    // xz 0: B, D; xz 1: C(30), C(20), A in their previous order; stable.
    EXPECT_EQ(shownCodes(), (QStringList{QStringLiteral("D"), QStringLiteral("B"), QStringLiteral("C"),
                                         QStringLiteral("C"), QStringLiteral("A")}));
    grid->SetSort(QStringLiteral("hh asc"));
    grid->Sort();
    // The two rows of 20 keep the order they had before this sort (B ahead of C).
    EXPECT_EQ(shownCodes(), (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                                         QStringLiteral("C"), QStringLiteral("D")}));
    grid->SetSort(QStringLiteral("zbbm desc"));
    grid->Sort();
    grid->SetSort(QStringLiteral("hh asc"));
    grid->Sort();
    EXPECT_EQ(shownCodes(), (QStringList{QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("B"),
                                         QStringLiteral("C"), QStringLiteral("D")}));

    // Text filters, and expressions the grid does not understand.
    EXPECT_EQ(grid->SetFilter(QStringLiteral("zbbm = 'C'")), 1);
    grid->Filter();
    EXPECT_EQ(grid->RowCount(), 2);
    EXPECT_EQ(grid->SetFilter(QStringLiteral("xz > 0")), -1);
    EXPECT_EQ(grid->SetFilter(QStringLiteral("nosuch = 1")), -1);
    EXPECT_EQ(grid->SetSort(QStringLiteral("nosuch asc")), -1);
    EXPECT_EQ(grid->SetSort(QStringLiteral("hh upward")), -1);
    EXPECT_EQ(grid->filterExpression(), QStringLiteral("zbbm = 'C'"));
    EXPECT_EQ(grid->sortExpression(), QStringLiteral("hh asc"));
    EXPECT_EQ(grid->SetFilter(QStringLiteral("xz=1")), 1);
    grid->Filter();
    EXPECT_EQ(grid->RowCount(), 3);
}

TEST_P(GridBufferTest, RedrawHoldsBackRowNotices)
{
    int rows = 0;
    int items = 0;
    QObject::connect(grid.get(), &GridBuffer::rowsChanged, [&] { ++rows; });
    QObject::connect(grid.get(), &GridBuffer::itemValueChanged, [&](long, const QString&) { ++items; });
    grid->Retrieve({1, 1});
    EXPECT_EQ(rows, 1);
    grid->SetRedraw(false);
    grid->SetSort(QStringLiteral("hh desc"));
    grid->Sort();
    grid->SetItem(1, kName, QStringLiteral("x"));
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(items, 0);
    grid->SetRedraw(true);
    EXPECT_EQ(rows, 2);
    grid->SetItem(1, kName, QStringLiteral("y"));
    EXPECT_EQ(items, 1);
}

TEST_P(GridBufferTest, DecimalFiguresStayExact)
{
    db->exec(QStringLiteral("INSERT INTO t_stat (zbbm, qichu, fasheng, leiji, hh) VALUES (?, ?, ?, ?, ?)"),
             {QStringLiteral("A"), QStringLiteral("0.10"), QStringLiteral("0.20"),
              QStringLiteral("1234567.89"), 10});
    db->exec(QStringLiteral("INSERT INTO t_stat (zbbm, qichu, fasheng, leiji, hh) VALUES (?, ?, NULL, ?, ?)"),
             {QStringLiteral("B"), QStringLiteral("-0.07"), QStringLiteral("0"), 20});
    GridBuffer figures(figureLayout());
    figures.SetTransObject(&sqlca());
    ASSERT_EQ(figures.Retrieve(), 2);
    EXPECT_EQ(figures.GetItem(1, QStringLiteral("qichu")).metaType(), QMetaType::fromType<Decimal>());
    const auto a = figures.GetItemDecimal(1, QStringLiteral("qichu"));
    const auto b = figures.GetItemDecimal(1, QStringLiteral("fasheng"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a + *b, Decimal::parse(QStringLiteral("0.3")).value());
    EXPECT_EQ(figures.GetItemString(1, QStringLiteral("leiji")), QStringLiteral("1234567.89"));
    EXPECT_FALSE(figures.GetItemDecimal(2, QStringLiteral("fasheng")));
    EXPECT_TRUE(figures.GetItemDecimal(2, QStringLiteral("leiji"))->isZero());

    // The sum written back reads back as exactly 0.30.
    ASSERT_EQ(figures.SetItem(1, QStringLiteral("leiji"), QVariant::fromValue(*a + *b)), 1);
    ASSERT_EQ(figures.SetItem(2, QStringLiteral("fasheng"), QStringLiteral("2.675")), 1);
    EXPECT_EQ(figures.GetItemString(2, QStringLiteral("fasheng")), QStringLiteral("2.675"));
    EXPECT_EQ(formatFigure(figures.GetItemDecimal(2, QStringLiteral("fasheng")), QStringLiteral("0.00")),
              QStringLiteral("2.68"));
    ASSERT_EQ(figures.Update(), 1) << sqlca().SQLErrText.toStdString();
    const auto leiji = Decimal::fromVariant(
        sqlca().selectValue(QStringLiteral("SELECT leiji FROM t_stat WHERE zbbm = 'A'")));
    ASSERT_TRUE(leiji);
    EXPECT_EQ(leiji->toString(2), QStringLiteral("0.30"));
    ASSERT_EQ(figures.Retrieve(), 2);
    EXPECT_EQ(figures.displayText(1, QStringLiteral("leiji")), QStringLiteral("0.3"));
    EXPECT_EQ(figures.displayText(2, QStringLiteral("qichu")), QStringLiteral("-0.07"));

    // The report's mask per row: display kind 1 shows a percentage, others two decimals.
    GridLayout report;
    report.query = QStringLiteral(
        "SELECT qichu, fasheng, CASE WHEN zbbm = 'A' THEN 1 ELSE 0 END FROM t_stat ORDER BY hh");
    for (const char* n : {"qichu", "fasheng", "s_zbfa_flag2"}) {
        GridColumn c;
        c.name = QString::fromLatin1(n);
        c.type = c.name == u"s_zbfa_flag2" ? ColumnType::Number : ColumnType::Decimal;
        if (c.type == ColumnType::Decimal)
            c.maskByColumn = QStringLiteral("s_zbfa_flag2");
        report.columns << c;
    }
    GridBuffer shown(report);
    shown.SetTransObject(&sqlca());
    ASSERT_EQ(shown.Retrieve(), 2);
    EXPECT_EQ(shown.displayText(1, QStringLiteral("qichu")), QStringLiteral("10%"));
    EXPECT_EQ(shown.maskFor(1, QStringLiteral("qichu")), QStringLiteral("###%"));
    EXPECT_EQ(shown.displayText(2, QStringLiteral("qichu")), QStringLiteral("-0.07"));
    EXPECT_EQ(shown.displayText(2, QStringLiteral("fasheng")), QStringLiteral("2.68"));
    EXPECT_EQ(shown.displayText(2, QStringLiteral("s_zbfa_flag2")), QStringLiteral("0"));
    shown.SetItem(1, QStringLiteral("qichu"), QStringLiteral("0.125"));
    EXPECT_EQ(shown.displayText(1, QStringLiteral("qichu")), QStringLiteral("13%"));
    shown.SetItem(1, QStringLiteral("qichu"), QVariant());
    EXPECT_EQ(shown.displayText(1, QStringLiteral("qichu")), QString());
}

ALLSTATS_ON_ALL_BACKENDS(GridBufferTest);

} // namespace

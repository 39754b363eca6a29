// SPDX-License-Identifier: GPL-3.0-or-later
// The demo province on both backends: the regions nest by prefix, the catalogue
// and schemes are usable, the figures hang together month to month, and the
// shipped uf_update_report hook turns summed figures into sane ratios.
#include "foundation/decimal.h"
#include "foundation/demo.h"
#include "foundation/gridbuffer.h"
#include "host/sqlhost.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"
#include "support/testdb.h"

#include <QDir>
#include <QHash>
#include <QSet>

namespace {

const QString kLastPeriod = QStringLiteral("202403"); // the 24 months cross two year ends

class DemoTest : public BackendTest
{
protected:
    void populate()
    {
        QString error;
        ASSERT_TRUE(demo::populate(sqlca(), kLastPeriod, &error)) << error.toStdString();
    }
    int count(const QString& sql, const QVariantList& binds = {})
    {
        const QVariant v = sqlca().selectValue(sql, binds);
        EXPECT_EQ(sqlca().SQLCode, 0) << sql.toStdString() << ": " << sqlca().SQLErrText.toStdString();
        return v.toInt();
    }
    static Decimal dec(const QVariant& v)
    {
        const auto d = Decimal::fromVariant(v);
        return d ? *d : Decimal();
    }
};

TEST_P(DemoTest, RegionsCatalogueAndSchemes)
{
    populate();

    // Regions: one province, codes of 2, 4, 6, 9 and 12 characters, each below its parent.
    const auto regions = sqlca().selectAll(QStringLiteral("SELECT qybm, qymc FROM s_qybm"));
    ASSERT_TRUE(regions);
    QHash<int, int> byLength;
    QSet<QString> codes, names;
    for (const QVariantList& r : *regions)
        codes.insert(r[0].toString());
    for (const QVariantList& r : *regions) {
        const QString code = r[0].toString();
        const QString name = r[1].toString();
        ++byLength[int(code.size())];
        EXPECT_FALSE(name.trimmed().isEmpty());
        EXPECT_FALSE(names.contains(name)) << "duplicate region name " << name.toStdString();
        names.insert(name);
        static const QHash<int, int> parentLength{{4, 2}, {6, 4}, {9, 6}, {12, 9}};
        ASSERT_TRUE(code.size() == 2 || parentLength.contains(int(code.size()))) << code.toStdString();
        if (code.size() > 2) {
            EXPECT_TRUE(codes.contains(code.left(parentLength.value(int(code.size())))))
                << code.toStdString();
        }
        if (code.size() == 12) {
            EXPECT_TRUE(name.endsWith(QStringLiteral("村"))) << name.toStdString();
        }
    }
    EXPECT_EQ(byLength.value(2), 1);
    EXPECT_GE(byLength.value(4), 2);
    EXPECT_GE(byLength.value(6), 3);
    EXPECT_GE(byLength.value(9), 9);
    EXPECT_GE(byLength.value(12), 90);
    EXPECT_LE(byLength.value(12), 120);

    // Catalogue: sensible kinds; ratios are derived (0) and shown as percentages.
    const auto catalogue =
        sqlca().selectAll(QStringLiteral("SELECT number, zblx, zbmc, flag1, flag2 FROM s_zbbm"));
    ASSERT_TRUE(catalogue);
    EXPECT_GE(catalogue->size(), 20);
    EXPECT_LE(catalogue->size(), 30);
    QSet<int> kinds;
    for (const QVariantList& r : *catalogue) {
        EXPECT_EQ(r[0].toString().size(), 4);
        const int flag1 = r[3].toInt();
        kinds.insert(flag1);
        EXPECT_TRUE(flag1 >= 0 && flag1 <= 4);
        EXPECT_EQ(r[4].toInt(), flag1 == 0 ? 1 : 0) << r[2].toString().toStdString();
    }
    EXPECT_EQ(kinds, (QSet<int>{0, 1, 2, 3, 4}));

    // The preset scheme: every indicator, selected, ten apart, the only default of kind 1.
    const int indicators = int(catalogue->size());
    EXPECT_EQ(count(QStringLiteral(
                        "SELECT count(*) FROM s_zbfa WHERE falx = 1 AND famc = ? AND xz = 1 AND deffa = 1"),
                    {QStringLiteral("预设方案")}),
              indicators);
    EXPECT_EQ(count(QStringLiteral("SELECT count(DISTINCT fabm) FROM s_zbfa WHERE falx = 1 AND deffa = 1")),
              1);
    EXPECT_EQ(count(QStringLiteral("SELECT min(hh) FROM s_zbfa WHERE falx = 1 AND fabm = 1")), 10);
    EXPECT_EQ(count(QStringLiteral("SELECT max(hh) FROM s_zbfa WHERE falx = 1 AND fabm = 1")),
              indicators * 10);
    EXPECT_EQ(count(QStringLiteral("SELECT count(DISTINCT famc) FROM s_zbfa WHERE falx = 1 AND fabm = 1")),
              1);
    // Each name belongs to one code, each indicator is listed once per scheme.
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(*) FROM (SELECT famc FROM s_zbfa WHERE falx = 1 GROUP BY famc "
                             "HAVING count(DISTINCT fabm) > 1) x")),
        0);
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(*) FROM (SELECT fabm, zbbm FROM s_zbfa GROUP BY falx, fabm, zbbm "
                             "HAVING count(*) > 1) x")),
        0);
    // The short scheme selects a part and copies the display kind from the catalogue.
    const int shortSelected =
        count(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 1 AND famc = ? AND xz = 1"),
              {QStringLiteral("简要方案")});
    EXPECT_GT(shortSelected, 3);
    EXPECT_LT(shortSelected, indicators);
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_zbfa f, s_zbbm b WHERE f.zbbm = b.number AND "
                                   "(f.flag2 <> b.flag2 OR f.zbmc <> b.zbmc)")),
              0);
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_sysset WHERE csname = ?"),
                    {QStringLiteral("ReportPrint")}),
              1);

    // A second run refuses and leaves everything as it was.
    const int figures = count(QStringLiteral("SELECT count(*) FROM H_stat"));
    QString error;
    EXPECT_FALSE(demo::populate(sqlca(), kLastPeriod, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_qybm")), int(regions->size()));
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM H_stat")), figures);
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_zbfa")), indicators * 2);
}

TEST_P(DemoTest, RefusesBadPeriodsAndMissingTables)
{
    QString error;
    EXPECT_FALSE(demo::populate(sqlca(), QStringLiteral("202413"), &error));
    EXPECT_FALSE(demo::populate(sqlca(), QStringLiteral("2024-1"), &error));
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_qybm")), 0);
    db->exec(QStringLiteral("DROP TABLE H_stat"));
    EXPECT_FALSE(demo::populate(sqlca(), kLastPeriod, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("H_stat"))) << error.toStdString();
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM s_zbbm")), 0);
}

TEST_P(DemoTest, FiguresHangTogetherFromMonthToMonth)
{
    populate();
    const auto periods = sqlca().selectAll(QStringLiteral("SELECT DISTINCT kjqj FROM H_stat ORDER BY kjqj"));
    ASSERT_TRUE(periods);
    ASSERT_EQ(periods->size(), 24);
    EXPECT_EQ(periods->first().first().toString(), QStringLiteral("202204"));
    EXPECT_EQ(periods->last().first().toString(), kLastPeriod);
    // Only villages report figures.
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM H_stat WHERE length(number) <> 12")), 0);
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM H_stat h WHERE NOT EXISTS "
                                   "(SELECT 1 FROM s_qybm q WHERE q.qybm = h.number)")),
              0);

    const QSet<QString> flows = {QStringLiteral("0203"), QStringLiteral("0301"), QStringLiteral("0302"),
                                 QStringLiteral("0303"), QStringLiteral("0401"), QStringLiteral("0402"),
                                 QStringLiteral("0403")};
    const auto rows =
        sqlca().selectAll(QStringLiteral("SELECT h.number, h.zbbm, h.kjqj, h.qichu, h.fasheng, h.leiji, "
                                         "b.flag1 FROM H_stat h, s_zbbm b WHERE h.zbbm = b.number "
                                         "ORDER BY h.number, h.zbbm, h.kjqj"));
    ASSERT_TRUE(rows);
    int checkedPairs = 0, failures = 0;
    for (qsizetype i = 0; i < rows->size() && failures < 10; ++i) {
        const QVariantList& r = (*rows)[i];
        const QString what =
            QStringLiteral("%1 %2 %3").arg(r[0].toString(), r[1].toString(), r[2].toString());
        // Two decimals at most.
        for (int c = 3; c <= 5; ++c) {
            if (!r[c].isNull() && dec(r[c]).units() % 100 != 0) {
                ADD_FAILURE() << "more than two decimals: " << what.toStdString();
                ++failures;
            }
        }
        const int flag1 = r[6].toInt();
        if (flag1 == 1 && dec(r[3]) + dec(r[4]) != dec(r[5])) {
            ADD_FAILURE() << "opening + arising != cumulative: " << what.toStdString();
            ++failures;
        }
        if (flows.contains(r[1].toString()) && (dec(r[4]) < Decimal() || dec(r[5]) < dec(r[3]))) {
            ADD_FAILURE() << "a cumulative figure falls: " << what.toStdString();
            ++failures;
        }
        if (i > 0) {
            const QVariantList& p = (*rows)[i - 1];
            if (p[0] == r[0] && p[1] == r[1]) {
                ++checkedPairs;
                // The opening figure is last month's closing one.
                if (p[5].isNull() != r[3].isNull() || dec(p[5]) != dec(r[3])) {
                    ADD_FAILURE() << "opening differs from last month's closing: " << what.toStdString();
                    ++failures;
                }
            }
        }
    }
    EXPECT_GT(checkedPairs, 90 * 20 * 23);

    // Balances move: the province's loan balance is not the same in every month,
    // and no village lends more than its fund holds.
    EXPECT_GT(
        count(QStringLiteral("SELECT count(DISTINCT s) FROM (SELECT sum(leiji) s FROM H_stat WHERE zbbm = ? "
                             "GROUP BY kjqj) x"),
              {QStringLiteral("0501")}),
        12);
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(*) FROM H_stat b, H_stat f WHERE b.zbbm = ? AND f.zbbm = ? AND "
                             "b.number = f.number AND b.kjqj = f.kjqj AND b.leiji > f.leiji"),
              {QStringLiteral("0501"), QStringLiteral("0101")}),
        0);
    EXPECT_GT(count(QStringLiteral("SELECT count(*) FROM H_stat WHERE zbbm = ? AND leiji > 0"),
                    {QStringLiteral("0601")}),
              0);
}

// Sums a region's figures of one period into t_stat the way the statistics run
// does for the sum kind, plus the zero rows of the derived indicators.
void sumIntoWorkingTable(TestDb& db, const QString& region, const QString& period)
{
    db.exec(QStringLiteral("DELETE FROM t_stat"));
    db.exec(QStringLiteral(
                "INSERT INTO t_stat (zbbm, qichu, fasheng, leiji) SELECT h.zbbm, %1, %2, %3 FROM H_stat h, "
                "s_zbbm b WHERE h.zbbm = b.number AND b.flag1 = 1 AND h.kjqj = ? AND %4 = ? GROUP BY h.zbbm")
                .arg(db.sqlca().dialect().money(QStringLiteral("sum(h.qichu)")),
                     db.sqlca().dialect().money(QStringLiteral("sum(h.fasheng)")),
                     db.sqlca().dialect().money(QStringLiteral("sum(h.leiji)")),
                     db.sqlca().dialect().left(QStringLiteral("h.number"), QString::number(region.size()))),
            {period, region});
    db.exec(
        QStringLiteral("INSERT INTO t_stat (zbbm, qichu, fasheng, leiji) SELECT number, 0, 0, 0 FROM s_zbbm "
                       "WHERE flag1 = 0"));
}

TEST_P(DemoTest, ShippedHookDerivesSaneRatios)
{
    populate();
    SqlHost host(sqlca(), QDir::cleanPath(QStringLiteral(ALLSTATS_TEST_DATA "/../../hooks")));
    ASSERT_TRUE(QFile::exists(host.hooksDir() + QStringLiteral("/uf_update_report.sql")));

    const auto ratioCodes = sqlca().selectAll(QStringLiteral("SELECT number FROM s_zbbm WHERE flag1 = 0"));
    ASSERT_TRUE(ratioCodes);
    ASSERT_GE(ratioCodes->size(), 4);

    auto figure = [&](const QString& code, const QString& column) {
        return dec(
            sqlca().selectValue(QStringLiteral("SELECT %1 FROM t_stat WHERE zbbm = ?").arg(column), {code}));
    };
    // The province, a county and a single village, in the last month and in the first.
    const QString village =
        sqlca()
            .selectValue(QStringLiteral("SELECT min(qybm) FROM s_qybm WHERE length(qybm) = 12"))
            .toString();
    for (const auto& [region, period] :
         {std::pair{QStringLiteral("45"), kLastPeriod},
          std::pair{QStringLiteral("450122"), QStringLiteral("202301")}, std::pair{village, kLastPeriod}}) {
        SCOPED_TRACE(region.toStdString() + " " + period.toStdString());
        sumIntoWorkingTable(*db, region, period);
        const Status s =
            host.uf_update_report(QStringLiteral("T_stat"), QStringLiteral("qichu"), QStringLiteral("leiji"));
        ASSERT_TRUE(s.ok) << s.error.toStdString();

        int positive = 0;
        for (const QVariantList& r : *ratioCodes) {
            const QString code = r[0].toString();
            for (const char* column : {"qichu", "fasheng", "leiji"}) {
                const Decimal v = figure(code, QString::fromLatin1(column));
                EXPECT_GE(v, Decimal()) << code.toStdString() << " " << column;
                EXPECT_LE(v, Decimal::fromInt(1)) << code.toStdString() << " " << column;
                positive += v > Decimal() ? 1 : 0;
            }
        }
        EXPECT_GE(positive, int(ratioCodes->size()));

        // 逾期率 is the overdue balance over the loan balance, to the hundredth.
        const Decimal overdue = figure(QStringLiteral("0601"), QStringLiteral("leiji"));
        const Decimal balance = figure(QStringLiteral("0501"), QStringLiteral("leiji"));
        const Decimal rate = figure(QStringLiteral("0702"), QStringLiteral("leiji"));
        if (balance.isZero()) {
            EXPECT_TRUE(rate.isZero());
        } else {
            const double expected = overdue.toDouble() / balance.toDouble();
            EXPECT_NEAR(rate.toDouble(), expected, 0.005);
        }
        // The sums the ratios come from are left alone.
        EXPECT_EQ(figure(QStringLiteral("0601"), QStringLiteral("leiji")), overdue);
    }

    // Nothing summed (a region without units): every ratio is 0, not null, no division by zero.
    sumIntoWorkingTable(*db, QStringLiteral("99"), kLastPeriod);
    ASSERT_TRUE(
        host.uf_update_report(QStringLiteral("T_stat"), QStringLiteral("qichu"), QStringLiteral("leiji")).ok);
    EXPECT_EQ(count(QStringLiteral(
                  "SELECT count(*) FROM t_stat WHERE qichu IS NULL OR fasheng IS NULL OR leiji IS NULL")),
              0);
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM t_stat WHERE qichu <> 0 OR leiji <> 0")), 0);
}

TEST_P(DemoTest, TheReportOnTheDemoShowsEveryIndicatorWithItsRatios)
{
    populate();
    SqlHost host(sqlca(), QDir::cleanPath(QStringLiteral(ALLSTATS_TEST_DATA "/../../hooks")));
    host.gs_kjqj = kLastPeriod;
    host.gs_userqybm = QStringLiteral("45");
    GridBuffer grid(d_xmjdzl());
    grid.SetTransObject(&sqlca());
    attachReportTidying(grid);
    const RunOutcome out =
        runStatistics(host, grid,
                      {QStringLiteral("45"), QStringLiteral("青禾省"), QStringLiteral("2024"),
                       QStringLiteral("3"), QStringLiteral("预设方案")});
    ASSERT_EQ(out.kind, RunOutcome::Done) << out.message.toStdString();
    const int indicators = count(QStringLiteral("SELECT count(*) FROM s_zbbm"));
    ASSERT_EQ(grid.RowCount(), indicators);

    // Every ratio row shows a percentage, and the overdue rate is the overdue
    // balance over the loan balance of the same report.
    QHash<QString, long> rowOf;
    for (long r = 1; r <= grid.RowCount(); ++r)
        rowOf.insert(grid.GetItemString(r, QStringLiteral("s_zbfa_zbmc")), r);
    for (const char* name : {"还款率", "逾期率", "资金使用率", "贫困户入社比例", "借款农户覆盖率"}) {
        const long r = rowOf.value(QString::fromUtf8(name));
        ASSERT_GT(r, 0) << name;
        EXPECT_TRUE(grid.displayText(r, QStringLiteral("leiji")).endsWith(u'%')) << name;
        const auto v = grid.GetItemDecimal(r, QStringLiteral("leiji"));
        ASSERT_TRUE(v) << name;
        EXPECT_GT(*v, Decimal());
        EXPECT_LE(*v, Decimal::fromInt(1));
    }
    const double overdue =
        grid.GetItemDecimal(rowOf.value(QStringLiteral("逾期借款余额")), QStringLiteral("leiji"))->toDouble();
    const double balance =
        grid.GetItemDecimal(rowOf.value(QStringLiteral("借款余额")), QStringLiteral("leiji"))->toDouble();
    EXPECT_NEAR(
        grid.GetItemDecimal(rowOf.value(QStringLiteral("逾期率")), QStringLiteral("leiji"))->toDouble(),
        overdue / balance, 0.005);
}

} // namespace

ALLSTATS_ON_ALL_BACKENDS(DemoTest);

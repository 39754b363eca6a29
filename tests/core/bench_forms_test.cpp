// SPDX-License-Identifier: GPL-3.0-or-later
// The statistics-run benchmark compares the run with the report's original
// aggregation statements and with a single aggregating query. Those
// comparisons only mean something if the forms compute the same rows, and if
// the bulk loads put the same province into both backends: checked here on
// the tiny province, against figures worked out independently in memory.
#include "bench/benchdata.h"
#include "bench/forms.h"
#include "foundation/gridbuffer.h"
#include "host/sqlhost.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"
#include "support/testdb.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>

namespace {

using benchforms::StatRow;

struct SchemeRow
{
    int hh = 0;
    int xz = 1;
};

class BenchFormsTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (IsSkipped())
            return;
        size = *benchdata::sizeByName(QStringLiteral("tiny"));
        period = benchdata::lastPeriod(size);
        const Status loaded = benchdata::load(db->url(), size);
        ASSERT_TRUE(loaded.ok) << loaded.error.toStdString();
        benchdata::forEachFigure(size, [&](const benchdata::Figure& f) {
            figures.append({*f.unit, *f.period, *f.indicator, f.qichu, f.fasheng, f.leiji});
        });
    }

    QMap<QString, SchemeRow> schemeRows(const QString& scheme)
    {
        QMap<QString, SchemeRow> out;
        const auto rows = sqlca().selectAll(
            QStringLiteral("SELECT zbbm, hh, xz FROM s_zbfa WHERE falx = 1 AND famc = ?"), {scheme});
        EXPECT_TRUE(rows) << sqlca().SQLErrText.toStdString();
        for (const QVariantList& r : rows.value_or(QList<QVariantList>{}))
            out.insert(r[0].toString(), SchemeRow{r[1].toInt(), r[2].toInt()});
        return out;
    }

    // What t_stat must hold after a run for the region, worked out in exact
    // hundredths: sum, average (half away from zero), maximum or minimum per
    // the indicator's kind, zeros for kind 0, the scheme's switched-off
    // indicators removed and its row order copied (0 for unlisted ones).
    QList<StatRow> expectedRows(const QString& region, const QString& scheme)
    {
        struct Acc
        {
            std::int64_t sum[3] = {0, 0, 0};
            std::int64_t max[3] = {INT64_MIN, INT64_MIN, INT64_MIN};
            std::int64_t min[3] = {INT64_MAX, INT64_MAX, INT64_MAX};
            std::int64_t n = 0;
        };
        QHash<QString, Acc> acc;
        for (const Row& f : figures) {
            if (f.period != period || !f.unit.startsWith(region))
                continue;
            Acc& a = acc[f.indicator];
            const std::int64_t v[3] = {f.qichu, f.fasheng, f.leiji};
            for (int c = 0; c < 3; ++c) {
                a.sum[c] += v[c];
                a.max[c] = std::max(a.max[c], v[c]);
                a.min[c] = std::min(a.min[c], v[c]);
            }
            ++a.n;
        }
        const QMap<QString, SchemeRow> listed = schemeRows(scheme);
        auto cents = [](std::int64_t c) { return std::optional<Decimal>(Decimal::fromUnits(c * 100)); };
        QList<StatRow> out;
        for (const benchdata::Indicator& ind : benchdata::indicators()) {
            const auto it = listed.constFind(ind.code);
            if (it != listed.constEnd() && it->xz == 0)
                continue;
            StatRow row{ind.code, cents(0), cents(0), cents(0), it == listed.constEnd() ? 0 : it->hh};
            if (ind.flag1 >= 1 && ind.flag1 <= 4) {
                if (!acc.contains(ind.code))
                    continue;
                const Acc& a = acc[ind.code];
                std::int64_t v[3];
                for (int c = 0; c < 3; ++c) {
                    switch (ind.flag1) {
                    case 1:
                        v[c] = a.sum[c];
                        break;
                    case 2: // figures are never negative here
                        v[c] = (2 * a.sum[c] + a.n) / (2 * a.n);
                        break;
                    case 3:
                        v[c] = a.max[c];
                        break;
                    default:
                        v[c] = a.min[c];
                    }
                }
                row.qichu = cents(v[0]);
                row.fasheng = cents(v[1]);
                row.leiji = cents(v[2]);
            } else if (ind.flag1 != 0) {
                continue;
            }
            out << row;
        }
        std::sort(out.begin(), out.end(), [](const StatRow& a, const StatRow& b) { return a.zbbm < b.zbbm; });
        return out;
    }

    QList<StatRow> literal(const QString& region, const QString& scheme)
    {
        const Status s = benchforms::runLiteral(sqlca(), region, period, scheme);
        EXPECT_TRUE(s.ok) << s.error.toStdString();
        const auto rows = benchforms::workingRows(sqlca());
        EXPECT_TRUE(rows) << sqlca().SQLErrText.toStdString();
        return rows.value_or(QList<StatRow>{});
    }

    static void expectSameRows(const QList<StatRow>& actual, const QList<StatRow>& expected,
                               const QString& what)
    {
        ASSERT_EQ(actual.size(), expected.size()) << what.toStdString();
        for (qsizetype i = 0; i < actual.size(); ++i)
            EXPECT_EQ(benchforms::describe(actual[i]), benchforms::describe(expected[i]))
                << what.toStdString() << " row " << i;
    }

    struct Row
    {
        QString unit;
        QString period;
        QString indicator;
        std::int64_t qichu;
        std::int64_t fasheng;
        std::int64_t leiji;
    };
    benchdata::Size size;
    QString period;
    QList<Row> figures;
};

TEST_P(BenchFormsTest, TheLoadPutsTheWholeProvinceIn)
{
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM H_stat")).toLongLong(),
              size.figureRows());
    EXPECT_EQ(size.figureRows(), 27 * 80 * 2);
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_qybm")).toInt(),
              benchdata::regions(size).size());
    // Every aggregation kind is there, and the scheme that lists them all.
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(DISTINCT flag1) FROM s_zbbm")).toInt(), 5);
    EXPECT_EQ(sqlca()
                  .selectValue(QStringLiteral("SELECT count(*) FROM s_zbfa WHERE falx = 1 AND famc = ?"),
                               {benchdata::fullSchemeName()})
                  .toInt(),
              benchdata::IndicatorCount);
    // Figures arrive with their two decimals intact.
    std::int64_t qichu = 0;
    for (const Row& f : figures)
        if (f.unit == figures.first().unit && f.period == figures.first().period)
            qichu += f.qichu;
    const auto stored = Decimal::fromVariant(
        sqlca().selectValue(QStringLiteral("SELECT sum(qichu) FROM H_stat WHERE number = ? AND kjqj = ?"),
                            {figures.first().unit, figures.first().period}));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->rounded(2), Decimal::fromUnits(qichu * 100));
}

TEST_P(BenchFormsTest, LiteralFormAggregatesEveryKindOverTheRegion)
{
    for (const benchdata::BenchRegion& r : benchdata::benchRegions(size)) {
        for (const QString& scheme : {benchdata::fullSchemeName(), QStringLiteral("重点指标")}) {
            expectSameRows(literal(r.code, scheme), expectedRows(r.code, scheme),
                           QStringLiteral("%1 %2 %3").arg(r.level, r.code, scheme));
        }
    }
    // A region without units: only the zero rows remain.
    const QList<StatRow> none = literal(QStringLiteral("4199"), benchdata::fullSchemeName());
    expectSameRows(none, expectedRows(QStringLiteral("4199"), benchdata::fullSchemeName()),
                   QStringLiteral("4199"));
    EXPECT_EQ(none.size(), 6);
}

TEST_P(BenchFormsTest, RunAndLiteralFormLeaveTheSameWorkingRows)
{
    // The run as the benchmark drives it: no host routines, a province user.
    QTemporaryDir hooks;
    SqlHost host(sqlca(), hooks.path());
    host.gs_kjqj = period;
    host.gs_userqybm = benchdata::provinceCode();
    GridBuffer grid(d_xmjdzl());
    attachReportTidying(grid);
    grid.SetTransObject(&sqlca());
    for (const benchdata::BenchRegion& r : benchdata::benchRegions(size)) {
        for (const QString& scheme : {benchdata::fullSchemeName(), QStringLiteral("重点指标")}) {
            const QString what = QStringLiteral("%1 %2 %3").arg(r.level, r.code, scheme);
            const QList<StatRow> expected = literal(r.code, scheme);
            ReportRequest request{r.code, r.name, period.left(4), QString::number(period.mid(4).toInt()),
                                  scheme};
            const RunOutcome outcome = runStatistics(host, grid, request);
            ASSERT_EQ(outcome.kind, RunOutcome::Done) << outcome.message.toStdString();
            const auto rows = benchforms::workingRows(sqlca());
            ASSERT_TRUE(rows) << sqlca().SQLErrText.toStdString();
            expectSameRows(*rows, expected, what);
            // Both leave t_stat to the next statement: nothing is held open.
            EXPECT_FALSE(sqlca().inTransaction()) << what.toStdString();
        }
    }
}

TEST_P(BenchFormsTest, FloorReadsExactlyTheRegionsRows)
{
    for (const benchdata::BenchRegion& r : benchdata::benchRegions(size)) {
        long long units = 0;
        for (const benchdata::Region& region : benchdata::regions(size))
            units += region.code.size() == 12 && region.code.startsWith(r.code) ? 1 : 0;
        EXPECT_EQ(benchforms::countRows(sqlca(), r.code, period), units * benchdata::IndicatorCount)
            << r.code.toStdString();
        long groups = -1;
        const Status s = benchforms::runFloor(sqlca(), r.code, period, &groups);
        ASSERT_TRUE(s.ok) << s.error.toStdString();
        EXPECT_EQ(groups, benchdata::IndicatorCount) << r.code.toStdString();
    }
    // The neighbour city's codes share the first three characters only.
    EXPECT_EQ(benchforms::countRows(sqlca(), QStringLiteral("4104"), period), 0);
}

ALLSTATS_ON_ALL_BACKENDS(BenchFormsTest);

// The national data set: 30 provinces of distinct codes, each shaped as the
// provincial sizes, and on PostgreSQL the loads of one period and of the
// region table put exactly those rows in (a small country of the same shape).
class NationalDataTest : public BackendTest
{
};

TEST_P(NationalDataTest, EveryProvinceAndOnePeriodAtATime)
{
    const auto national = benchdata::sizeByName(QStringLiteral("national"));
    ASSERT_TRUE(national);
    EXPECT_TRUE(benchdata::isNational(*national));
    EXPECT_EQ(national->villages(), 600000);
    EXPECT_EQ(national->figureRows(), 600000LL * 80 * 2);
    const QStringList provinces = benchdata::provinceCodes(*national);
    EXPECT_EQ(QSet<QString>(provinces.begin(), provinces.end()).size(), 30);
    EXPECT_EQ(benchdata::provinceCodes(*benchdata::sizeByName(QStringLiteral("full"))),
              QStringList{benchdata::provinceCode()});
    if (GetParam() == Backend::SQLite)
        GTEST_SKIP() << "the national size is loaded into PostgreSQL only";

    benchdata::Size small{QStringLiteral("country"), 2, 1, 2, 2, 2, 3};
    const QList<benchdata::Region> regions = benchdata::regions(small);
    const Status r = benchdata::loadPostgresRegions(db->url(), small);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_qybm")).toInt(), regions.size());
    EXPECT_EQ(
        sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_qybm WHERE length(qybm) = 2")).toInt(), 3);
    const QString second = benchdata::periods(small).at(1);
    const Status f = benchdata::loadPostgresFigures(db->url(), small, 1);
    ASSERT_TRUE(f.ok) << f.error.toStdString();
    const auto row = sqlca().selectRow(QStringLiteral(
        "SELECT count(*), min(kjqj), max(kjqj), count(DISTINCT substr(number, 1, 2)) FROM H_stat"));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->at(0).toInt(), small.villages() * benchdata::IndicatorCount);
    EXPECT_EQ(row->at(1).toString(), second);
    EXPECT_EQ(row->at(2).toString(), second);
    EXPECT_EQ(row->at(3).toInt(), 3);
}

ALLSTATS_ON_ALL_BACKENDS(NationalDataTest);

} // namespace

// The statistics run as the report screen calls it: which host routines run
// and when, the checks, errors rolled back and shown, t_stat after the run, and
// two users running the report at the same time.
#include "foundation/decimal.h"
#include "foundation/gridbuffer.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"
#include "report/tidy.h"
#include "support/hosts.h"
#include "support/seed.h"
#include "support/testdb.h"

#include <thread>

namespace {

// The recording host as the real one behaves: its uf_allstats writes the
// refreshed figures of the current period (a unit of the region, its code and
// "999", gets its one row of the period anew), and its uf_update_report runs
// `updateSql` on t_stat when set.
class RefreshingHost final : public RecordingHost
{
public:
    explicit RefreshingHost(Sqlca& sqlca) : RecordingHost(sqlca)
    {
        effect = [this, &sqlca](const QString& routine, const QStringList& args) {
            const QString unit = args.value(0) + QStringLiteral("999");
            if (routine == u"uf_allstats" &&
                (!sqlca.execute(QStringLiteral("DELETE FROM H_stat WHERE number = ? AND kjqj = ?"),
                                {unit, args[1]}) ||
                 !sqlca.execute(
                     QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) "
                                    "VALUES (?, ?, '0001', 1000, 0, 0)"),
                     {unit, args[1]})))
                return Status::failure(sqlca.SQLErrText);
            if (routine == u"uf_update_report" && !updateSql.isEmpty() && !sqlca.execute(updateSql))
                return Status::failure(sqlca.SQLErrText);
            return Status::success();
        };
    }
    QString updateSql; // what uf_update_report does to t_stat
};

class ReportRunTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (!db)
            return;
        seed::monthlyReport(*db);
    }

    ReportRequest request(const QString& region = seed::kRegion, const QString& month = seed::kMonth)
    {
        ReportRequest r;
        r.region = region;
        r.regionName = region.trimmed().size() == 12 ? QStringLiteral("金塬村") : seed::kRegionName;
        r.year = seed::kYear;
        r.month = month;
        r.scheme = seed::kScheme;
        return r;
    }

    static std::unique_ptr<GridBuffer> reportGrid()
    {
        auto grid = std::make_unique<GridBuffer>(d_xmjdzl());
        attachReportTidying(*grid);
        return grid;
    }

    int tStatRows(Sqlca& s) { return s.selectValue(QStringLiteral("SELECT count(*) FROM t_stat")).toInt(); }
};

TEST_P(ReportRunTest, RefreshRunsOnlyForTheCurrentPeriodOfAVillageUser)
{
    struct Case
    {
        const char* kjqj;
        const char* userRegion; // nullptr: null
        const char* month;
        bool refresh;
    };
    const QList<Case> cases = {
        {"202409", "410101001002", "9", true},   // current period, village user
        {"202409", "410101001002", "09", true},  // the month list may read 09 as 9
        {"202410", "410101001002", "9", false},  // another period
        {"202409", "41010100100", "9", false},   // 11 characters
        {"202409", "4101010010021", "9", false}, // 13 characters
        {"202409", "", "9", false},              // empty
        {"202409", nullptr, "9", false},         // null
        {nullptr, "410101001002", "9", false},   // no current period
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kjqj ? c.kjqj : "null") + " / " + (c.userRegion ? c.userRegion : "null") +
                     " / " + c.month);
        RefreshingHost host(sqlca());
        host.gs_kjqj = c.kjqj ? QString::fromLatin1(c.kjqj) : QString();
        host.gs_userqybm = c.userRegion ? QString::fromLatin1(c.userRegion) : QString();
        auto grid = reportGrid();
        const RunOutcome o = runStatistics(
            host, *grid, request(QStringLiteral(" 410101001002 "), QString::fromLatin1(c.month)));
        ASSERT_EQ(o.kind, RunOutcome::Done) << o.message.toStdString();
        QStringList expected = {QStringLiteral("open w_message")};
        if (c.refresh)
            expected << QStringLiteral("uf_zzye(0)") << QStringLiteral("uf_yqmx(202409,0)")
                     << QStringLiteral("uf_ysss(202409)")
                     << QStringLiteral("uf_allstats(410101001002,202409)");
        expected << QStringLiteral("uf_update_report(T_stat,qichu,leiji)")
                 << QStringLiteral("close w_message");
        EXPECT_EQ(host.calls, expected);
        // The refreshed figures are what the report aggregates.
        EXPECT_EQ(grid->displayText(1, QStringLiteral("qichu")),
                  c.refresh ? QStringLiteral("1200.00") : QStringLiteral("200.00"));
        db->exec(QStringLiteral("DELETE FROM H_stat WHERE qichu = 1000"));
    }
}

TEST_P(ReportRunTest, ChecksRefuseBeforeAnythingHappens)
{
    db->exec(
        QStringLiteral("INSERT INTO t_stat (zbbm, qichu, fasheng, leiji, hh) VALUES ('0001', 5, 5, 5, 1)"));
    RefreshingHost host(sqlca());
    host.gs_kjqj = QStringLiteral("202409");
    host.gs_userqybm = QStringLiteral("410101001002");
    auto grid = reportGrid();

    for (const QString& region : {QString(), QStringLiteral(""), QStringLiteral("   ")}) {
        ReportRequest r = request(region);
        r.scheme.clear(); // the region is checked first
        const RunOutcome o = runStatistics(host, *grid, r);
        EXPECT_EQ(o.kind, RunOutcome::Refused);
        EXPECT_EQ(o.message, QStringLiteral("请选择查询区域"));
    }
    for (const QString& scheme : {QString(), QStringLiteral("")}) {
        ReportRequest r = request();
        r.scheme = scheme;
        const RunOutcome o = runStatistics(host, *grid, r);
        EXPECT_EQ(o.kind, RunOutcome::Refused);
        EXPECT_EQ(o.message, QStringLiteral("请选择指标方案"));
    }
    EXPECT_TRUE(host.calls.isEmpty()) << host.calls.join(u' ').toStdString(); // not even the wait notice
    EXPECT_EQ(tStatRows(sqlca()), 1);
    EXPECT_EQ(grid->RowCount(), 0);
}

TEST_P(ReportRunTest, TheWorkingTableKeepsTheLastRunForEveryone)
{
    RefreshingHost host(sqlca());
    auto grid = reportGrid();
    ASSERT_EQ(runStatistics(host, *grid, request()).kind, RunOutcome::Done);
    EXPECT_EQ(grid->RowCount(), 4);
    EXPECT_EQ(grid->text(QStringLiteral("t_qijian")), QStringLiteral("报表期间：2024年9月"));
    EXPECT_EQ(grid->text(QStringLiteral("t_qymc")), QStringLiteral("项目区：郑州市"));
    // Committed: another connection sees the run's rows, in the scheme's order.
    auto other = db->connectAgain();
    ASSERT_TRUE(other);
    EXPECT_FALSE(sqlca().inTransaction());
    const auto rows = other->selectAll(QStringLiteral("SELECT zbbm, hh, qichu FROM t_stat ORDER BY hh"));
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 4);
    QStringList order;
    for (const QVariantList& row : *rows)
        order << row[0].toString() + u' ' + row[1].toString();
    EXPECT_EQ(order, (QStringList{QStringLiteral("0001 10"), QStringLiteral("0003 20"),
                                  QStringLiteral("0002 30"), QStringLiteral("0004 40")}));
    EXPECT_EQ(Decimal::fromVariant((*rows)[0][2])->toString(2), QStringLiteral("307.00"));
}

TEST_P(ReportRunTest, AFailingRoutineRollsBackAndShowsItsText)
{
    RefreshingHost host(sqlca());
    auto grid = reportGrid();
    ASSERT_EQ(runStatistics(host, *grid, request()).kind, RunOutcome::Done); // t_stat holds this run

    // The derived figures fail half-way: the aggregation is undone too.
    host.updateSql = QStringLiteral("UPDATE t_stat SET leiji = 1 WHERE no_such_column = 0");
    RunOutcome o = runStatistics(host, *grid, request(QStringLiteral("410101001002")));
    EXPECT_EQ(o.kind, RunOutcome::Failed);
    EXPECT_TRUE(o.message.contains(QStringLiteral("no_such_column"))) << o.message.toStdString();
    EXPECT_EQ(grid->RowCount(), 0); // no partial report
    EXPECT_EQ(grid->text(QStringLiteral("t_qymc")), QStringLiteral("区域名称："));
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(Decimal::fromVariant(
                  sqlca().selectValue(QStringLiteral("SELECT qichu FROM t_stat WHERE zbbm = '0001'")))
                  ->toString(2),
              QStringLiteral("307.00")); // still the earlier run
    EXPECT_EQ(host.calls.last(), QStringLiteral("close w_message"));

    // A refresh routine that fails stops the run before t_stat is touched.
    host.updateSql.clear();
    host.failOn = QStringLiteral("uf_ysss");
    host.gs_kjqj = QStringLiteral("202409");
    host.gs_userqybm = QStringLiteral("410101001002");
    host.calls.clear();
    o = runStatistics(host, *grid, request());
    EXPECT_EQ(o.kind, RunOutcome::Failed);
    EXPECT_EQ(o.message, QStringLiteral("uf_ysss: the host could not refresh"));
    EXPECT_FALSE(host.calls.contains(QStringLiteral("uf_allstats(4101,202409)")));
    EXPECT_FALSE(host.calls.contains(QStringLiteral("uf_update_report(T_stat,qichu,leiji)")));
    EXPECT_EQ(tStatRows(sqlca()), 4);

    // A database error inside the run is reported with the database's text.
    host.failOn.clear();
    db->exec(QStringLiteral("ALTER TABLE s_zbbm RENAME TO s_zbbm_away"));
    o = runStatistics(host, *grid, request());
    EXPECT_EQ(o.kind, RunOutcome::Failed);
    EXPECT_TRUE(o.message.contains(QStringLiteral("zbbm"), Qt::CaseInsensitive)) << o.message.toStdString();
    EXPECT_EQ(tStatRows(sqlca()), 4);
    db->exec(QStringLiteral("ALTER TABLE s_zbbm_away RENAME TO s_zbbm"));
    EXPECT_EQ(runStatistics(host, *grid, request()).kind, RunOutcome::Done);
}

// Ten thousand units summed as doubles drift by two cents here (…235.0189);
// the report must give the exact sum 123456781235.005 rounded half away: .01.
TEST_P(ReportRunTest, AProvinceSumIsExactToTheCent)
{
    db->exec(QStringLiteral("DELETE FROM H_stat"));
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) "
                            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
                            "SELECT '4101' || CAST(100000 + i AS TEXT), '202409', '0001', 12345678.1235, "
                            "-12345678.1235, 0.0001 FROM n"));
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) "
                            "VALUES ('4101999999', '202409', '0001', 0.005, -0.005, 0.0049)"));
    RefreshingHost host(sqlca());
    auto grid = reportGrid();
    ASSERT_EQ(runStatistics(host, *grid, request()).kind, RunOutcome::Done);
    EXPECT_EQ(grid->displayText(1, QStringLiteral("qichu")), QStringLiteral("123456781235.01"));
    EXPECT_EQ(grid->displayText(1, QStringLiteral("fasheng")), QStringLiteral("-123456781235.01"));
    EXPECT_EQ(grid->displayText(1, QStringLiteral("leiji")), QStringLiteral("1.00")); // 1.0049
}

// Two users run the report at once, each on their own connection: each sees
// exactly the rows of their own region, never the other's nor a mix.
TEST_P(ReportRunTest, TwoUsersAtOnceEachGetTheirOwnRows)
{
    const QString url = db->url();
    auto user = [url](const QString& region, const QString& expected, int runs, QStringList* seen) {
        QString error;
        auto sqlca = Sqlca::connect(url, &error); // a connection belongs to its thread
        if (!sqlca) {
            seen->append(QStringLiteral("connect: ") + error);
            return;
        }
        RefreshingHost host(*sqlca);
        GridBuffer grid(d_xmjdzl());
        attachReportTidying(grid);
        ReportRequest r;
        r.region = region;
        r.regionName = region;
        r.year = QStringLiteral("2024");
        r.month = QStringLiteral("9");
        r.scheme = QStringLiteral("月报");
        for (int i = 0; i < runs; ++i) {
            const RunOutcome o = runStatistics(host, grid, r);
            QString got = o.kind == RunOutcome::Done ? QString() : o.message;
            for (long row = 1; row <= grid.RowCount(); ++row)
                got += grid.displayText(row, QStringLiteral("qichu")) + u'|';
            if (got != expected)
                seen->append(got);
        }
    };
    QStringList seenA, seenB;
    std::thread a(user, QStringLiteral("4101"), QStringLiteral("307.00|9000.00|88%||"), 25, &seenA);
    std::thread b(user, QStringLiteral("410101001002"), QStringLiteral("200.00|9000.00||"), 25, &seenB);
    a.join();
    b.join();
    EXPECT_TRUE(seenA.isEmpty()) << seenA.join(QStringLiteral(" / ")).toStdString();
    EXPECT_TRUE(seenB.isEmpty()) << seenB.join(QStringLiteral(" / ")).toStdString();
}

TEST_P(ReportRunTest, TidyingLeavesAnEmptyGridAlone)
{
    auto grid = reportGrid();
    grid->SetTransObject(&sqlca());
    int repaints = 0;
    QObject::connect(grid.get(), &GridBuffer::rowsChanged, [&] { ++repaints; });
    tidyReportRows(*grid);
    EXPECT_EQ(repaints, 0);
    EXPECT_TRUE(grid->redrawOn());

    // A single row: its zero figures go blank, its label stays, redraw is back on.
    db->exec(QStringLiteral(
        "INSERT INTO t_stat (zbbm, qichu, fasheng, leiji, hh) VALUES ('0001', 0, 0.00, 0.01, 1)"));
    ASSERT_EQ(grid->Retrieve({1}), 1);
    EXPECT_TRUE(grid->GetItem(1, QStringLiteral("qichu")).isNull());
    EXPECT_TRUE(grid->GetItem(1, QStringLiteral("fasheng")).isNull());
    EXPECT_EQ(grid->displayText(1, QStringLiteral("leiji")), QStringLiteral("0.01"));
    EXPECT_EQ(grid->GetItemString(1, QStringLiteral("s_zbfa_zblx")), QStringLiteral("资金"));
    EXPECT_TRUE(grid->redrawOn());
}

// Tables the host made itself: unit codes stored as numbers (SQLite numeric
// affinity) or compared in a linguistic collation (PostgreSQL, numbers in
// codes ordered by value). The region test must select the same units there.
TEST_P(ReportRunTest, OddlyShapedUnitCodesGiveTheFiguresOfThePlainTables)
{
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                            "('420101000001', '202409', '0001', 1000, 100, 10), "
                            "('41010', '202409', '0001', 3, 0, 0), ('4', '202409', '0001', 5000, 0, 0)"));
    const QStringList regions = {QStringLiteral("4101"), QStringLiteral("410101001002"), QStringLiteral("42"),
                                 QStringLiteral("4")};
    auto figures = [&](Sqlca& s) {
        RefreshingHost host(s);
        QStringList all;
        for (const QString& region : regions) {
            auto grid = reportGrid();
            const RunOutcome o = runStatistics(host, *grid, request(region));
            EXPECT_EQ(o.kind, RunOutcome::Done) << o.message.toStdString();
            QString line = region + u':';
            const auto rows = s.selectAll(QStringLiteral("SELECT zbbm, qichu, fasheng, leiji FROM t_stat "
                                                         "WHERE zbbm = '0001'"));
            for (const QVariantList& r : rows.value_or(QList<QVariantList>{}))
                for (int c = 1; c < 4; ++c)
                    line += u' ' + Decimal::fromVariant(r[c])->toString(2);
            all << line;
        }
        return all;
    };
    const QStringList plain = figures(sqlca());
    EXPECT_EQ(plain, (QStringList{QStringLiteral("4101: 310.00 5.00 312.00"),
                                  QStringLiteral("410101001002: 200.00 0.00 200.00"),
                                  QStringLiteral("42: 1009.00 100.00 19.00"),
                                  QStringLiteral("4: 6319.00 105.00 331.00")}));

    const bool lite = db->backend() == Backend::SQLite;
    if (!lite)
        db->exec(
            QStringLiteral("CREATE COLLATION codes_by_value (provider = icu, locale = 'und-u-kn-true')"));
    db->exec(QStringLiteral("CREATE TABLE h_plain AS SELECT * FROM H_stat"));
    db->exec(QStringLiteral("DROP TABLE H_stat"));
    db->exec(
        QStringLiteral("CREATE TABLE H_stat (number %1 NOT NULL, kjqj VARCHAR(6) NOT NULL, "
                       "zbbm VARCHAR(4) NOT NULL, qichu NUMERIC(18,4), fasheng NUMERIC(18,4), "
                       "leiji NUMERIC(18,4))")
            .arg(lite ? QStringLiteral("INTEGER") : QStringLiteral("VARCHAR(40) COLLATE codes_by_value")));
    db->exec(QStringLiteral("CREATE INDEX H_stat_odd ON H_stat (kjqj, number)"));
    db->exec(QStringLiteral("INSERT INTO H_stat SELECT * FROM h_plain"));
    if (lite) {
        EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT typeof(number) FROM H_stat LIMIT 1")).toString(),
                  QStringLiteral("integer"));
    }

    auto odd = db->connectAgain();
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->dialect().unitCodes(),
              lite ? Dialect::UnitCodes::NotText : Dialect::UnitCodes::Linguistic);
    EXPECT_EQ(figures(*odd), plain);
}

ALLSTATS_ON_ALL_BACKENDS(ReportRunTest);

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
// The statistics run as the report screen calls it: which host routines run
// and when, the checks, errors rolled back and shown, t_stat after the run, and
// two users running the report at the same time.
#include "foundation/decimal.h"
#include "foundation/gridbuffer.h"
#include "host/sqlhost.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"
#include "report/tidy.h"
#include "support/hosts.h"
#include "support/seed.h"
#include "support/testdb.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <thread>

namespace {

// The host's uf_update_report runs `sql` on its connection, as a hook deriving figures does.
void runOnUpdateReport(RecordingHost& host, Sqlca& sqlca, const QString& sql)
{
    host.effect = [&sqlca, sql](const QString& routine, const QStringList&) {
        if (routine != u"uf_update_report" || sqlca.execute(sql))
            return Status::success();
        return Status::failure(sqlca.SQLErrText);
    };
}

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

TEST_P(ReportRunTest, TheWorkingTableKeepsTheLastRunForItsOwnConnectionOnly)
{
    RefreshingHost host(sqlca());
    auto grid = reportGrid();
    ASSERT_EQ(runStatistics(host, *grid, request()).kind, RunOutcome::Done);
    EXPECT_EQ(grid->RowCount(), 4);
    EXPECT_EQ(grid->text(QStringLiteral("t_qijian")), QStringLiteral("报表期间：2024年9月"));
    EXPECT_EQ(grid->text(QStringLiteral("t_qymc")), QStringLiteral("项目区：郑州市"));
    // Committed: the connection's t_stat holds the run's rows, in the scheme's order …
    EXPECT_FALSE(sqlca().inTransaction());
    const auto rows = sqlca().selectAll(QStringLiteral("SELECT zbbm, hh, qichu FROM t_stat ORDER BY hh"));
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 4);
    QStringList order;
    for (const QVariantList& row : *rows)
        order << row[0].toString() + u' ' + row[1].toString();
    EXPECT_EQ(order, (QStringList{QStringLiteral("0001 10"), QStringLiteral("0003 20"),
                                  QStringLiteral("0002 30"), QStringLiteral("0004 40")}));
    EXPECT_EQ(Decimal::fromVariant((*rows)[0][2])->toString(2), QStringLiteral("307.00"));
    // … and nobody else's: another user's t_stat is empty.
    auto other = db->connectAgain();
    ASSERT_TRUE(other);
    EXPECT_EQ(tStatRows(*other), 0);
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

// The working table among several users: a small data set of its own, with a
// second region (a village of another county) and a derived indicator whose
// zero row the hooks fill, so each run's rows can be told apart by count and figure.
class WorkingTableTest : public ReportRunTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (!db)
            return;
        db->exec(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('4101', ?), ('410102003004', ?)"),
                 {QStringLiteral("郑州市"), QStringLiteral("杨庄村")});
        db->exec(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES "
                                "('0001', ?, ?, 1, 0), ('0002', ?, ?, 0, 0)"),
                 {QStringLiteral("资金"), QStringLiteral("互助金总额"), QStringLiteral("质量"),
                  QStringLiteral("逾期率")});
        db->exec(
            QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, xz, flag2) VALUES "
                           "(1, 1, ?, 10, '0001', ?, ?, 1, 0), (1, 1, ?, 20, '0002', ?, ?, 1, 0)"),
            {QStringLiteral("月报"), QStringLiteral("资金"), QStringLiteral("互助金总额"),
             QStringLiteral("月报"), QStringLiteral("质量"), QStringLiteral("逾期率")});
        for (const auto& [unit, value] : {std::pair{"410101000001", "10"}, std::pair{"410102003004", "20"}})
            db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) "
                                    "VALUES (?, '202409', '0001', ?, 1, 2)"),
                     {QString::fromLatin1(unit), QString::fromLatin1(value)});
    }
};

// Two users' runs on two connections, one statement after the other's: each
// sees exactly its own rows, its hook too, whether the regions differ or not.
TEST_P(WorkingTableTest, TwoRunsInterleavedStepByStepEachSeeOnlyTheirOwnRows)
{
    auto other = db->connectAgain();
    ASSERT_TRUE(other);
    // Neither may wait long for the other: a run that did would fail.
    ASSERT_TRUE(sqlca().setTimeLimits(1, 0));
    ASSERT_TRUE(other->setTimeLimits(1, 0));
    // Each host's uf_update_report writes how many rows its t_stat holds.
    const QString countRows =
        QStringLiteral("UPDATE t_stat SET fasheng = (SELECT count(*) FROM t_stat) WHERE zbbm = '0002'");
    RecordingHost hostA(sqlca());
    RecordingHost hostB(*other);
    runOnUpdateReport(hostA, sqlca(), countRows);
    runOnUpdateReport(hostB, *other, countRows);
    struct Pair
    {
        QString regionA, regionB, qichuA, qichuB;
        bool aFirst;
    };
    for (const Pair& p : {Pair{QStringLiteral("4101"), QStringLiteral("410102003004"),
                               QStringLiteral("30.00"), QStringLiteral("20.00"), true},
                          Pair{QStringLiteral("4101"), QStringLiteral("4101"), QStringLiteral("30.00"),
                               QStringLiteral("30.00"), false}}) {
        SCOPED_TRACE((p.regionA + u' ' + p.regionB).toStdString());
        auto gridA = reportGrid();
        auto gridB = reportGrid();
        StatisticsRun a(hostA, *gridA, request(p.regionA));
        StatisticsRun b(hostB, *gridB, request(p.regionB));
        StatisticsRun& first = p.aFirst ? a : b;
        StatisticsRun& second = p.aFirst ? b : a;
        int steps = 0;
        for (bool goFirst = true, goSecond = true; goFirst || goSecond; ++steps) {
            if (goFirst)
                goFirst = first.step();
            if (goSecond)
                goSecond = second.step();
        }
        EXPECT_GT(steps, 8); // the runs really went side by side
        ASSERT_EQ(a.outcome().kind, RunOutcome::Done) << a.outcome().message.toStdString();
        ASSERT_EQ(b.outcome().kind, RunOutcome::Done) << b.outcome().message.toStdString();
        for (const auto& [grid, qichu] :
             {std::pair{gridA.get(), p.qichuA}, std::pair{gridB.get(), p.qichuB}}) {
            ASSERT_EQ(grid->RowCount(), 2);
            EXPECT_EQ(grid->displayText(1, QStringLiteral("qichu")), qichu);
            EXPECT_EQ(grid->displayText(2, QStringLiteral("fasheng")),
                      QStringLiteral("2.00")); // the hook's count
        }
        EXPECT_EQ(tStatRows(sqlca()), 2);
        EXPECT_EQ(tStatRows(*other), 2);
    }
    EXPECT_EQ(Decimal::fromVariant(
                  other->selectValue(QStringLiteral("SELECT qichu FROM t_stat WHERE zbbm = '0001'")))
                  ->toString(2),
              QStringLiteral("30.00"));
    // A third user sees none of it.
    auto third = db->connectAgain();
    ASSERT_TRUE(third);
    EXPECT_EQ(tStatRows(*third), 0);
}

// Writers of H_stat hold their transactions open (the host's refresh, a hook
// that writes figures inside a run): a report goes on and reads what is committed.
TEST_P(WorkingTableTest, ARunGoesOnWhileAnotherConnectionWritesFigures)
{
    ASSERT_TRUE(sqlca().setTimeLimits(1, 0));
    RecordingHost host(sqlca());
    auto grid = reportGrid();
    const QString moreFigures =
        QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) "
                       "VALUES ('41010100000%2', '202409', '0001', %1, 0, 0)");

    // A writer with an open write transaction on H_stat.
    auto writer = db->connectAgain();
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->begin(/*exclusive*/ true)) << writer->SQLErrText.toStdString();
    ASSERT_TRUE(writer->execute(moreFigures.arg(1000).arg(8))) << writer->SQLErrText.toStdString();
    RunOutcome o = runStatistics(host, *grid, request());
    ASSERT_EQ(o.kind, RunOutcome::Done) << o.message.toStdString();
    EXPECT_EQ(grid->displayText(1, QStringLiteral("qichu")), QStringLiteral("30.00"));
    ASSERT_TRUE(writer->commit());
    ASSERT_EQ(runStatistics(host, *grid, request()).kind, RunOutcome::Done);
    EXPECT_EQ(grid->displayText(1, QStringLiteral("qichu")), QStringLiteral("1030.00"));

    // Another user's run whose hook has written H_stat, not yet committed.
    auto other = db->connectAgain();
    ASSERT_TRUE(other);
    RecordingHost writingHost(*other);
    runOnUpdateReport(writingHost, *other, moreFigures.arg(500).arg(9));
    auto otherGrid = reportGrid();
    StatisticsRun paused(writingHost, *otherGrid, request());
    while (!writingHost.calls.contains(QStringLiteral("uf_update_report(T_stat,qichu,leiji)")))
        ASSERT_TRUE(paused.step()) << paused.outcome().message.toStdString();
    o = runStatistics(host, *grid, request());
    ASSERT_EQ(o.kind, RunOutcome::Done) << o.message.toStdString();
    EXPECT_EQ(grid->displayText(1, QStringLiteral("qichu")), QStringLiteral("1030.00"));
    while (paused.step()) {
    }
    ASSERT_EQ(paused.outcome().kind, RunOutcome::Done) << paused.outcome().message.toStdString();
    EXPECT_EQ(otherGrid->displayText(1, QStringLiteral("qichu")),
              QStringLiteral("1030.00")); // read before its hook
    ASSERT_EQ(runStatistics(host, *grid, request()).kind, RunOutcome::Done);
    EXPECT_EQ(grid->displayText(1, QStringLiteral("qichu")), QStringLiteral("1530.00"));
}

// The host routine works on the run's rows, and on nothing that outlives or
// leaves the run.
TEST_P(WorkingTableTest, AHookSeesTheRunsRowsAndCannotEscapeTheRun)
{
    QTemporaryDir hooks;
    auto hook = [&](const QByteArray& sql) {
        QFile f(hooks.filePath(QStringLiteral("uf_update_report.sql")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(sql);
    };
    SqlHost host(sqlca(), hooks.path());
    auto grid = reportGrid();
    auto other = db->connectAgain();
    ASSERT_TRUE(other);

    hook("UPDATE t_stat SET fasheng = (SELECT count(*) FROM t_stat) WHERE zbbm = '0002';\n"
         "UPDATE t_stat SET leiji = (SELECT qichu FROM t_stat WHERE zbbm = '0001') WHERE zbbm = '0002';");
    RunOutcome o = runStatistics(host, *grid, request());
    ASSERT_EQ(o.kind, RunOutcome::Done) << o.message.toStdString();
    EXPECT_EQ(grid->displayText(2, QStringLiteral("fasheng")), QStringLiteral("2.00"));
    EXPECT_EQ(grid->displayText(2, QStringLiteral("leiji")), QStringLiteral("30.00"));
    EXPECT_EQ(tStatRows(*other), 0); // what the hook wrote stays the run's

    // A hook that ends the transaction or drops the working table is refused,
    // and the run leaves nothing: the last run's rows stay, the next run works.
    for (const QByteArray& escape :
         {QByteArray("UPDATE t_stat SET qichu = 1; COMMIT;"),
          QByteArray("UPDATE t_stat SET qichu = 1; DROP TABLE t_stat;"),
          QByteArray("UPDATE t_stat SET qichu = 1; ALTER TABLE t_stat RENAME TO gone;")}) {
        SCOPED_TRACE(escape.toStdString());
        hook(escape);
        o = runStatistics(host, *grid, request(QStringLiteral("410102003004")));
        EXPECT_EQ(o.kind, RunOutcome::Failed);
        EXPECT_TRUE(o.message.contains(QStringLiteral("uf_update_report"))) << o.message.toStdString();
        EXPECT_EQ(grid->RowCount(), 0);
        EXPECT_FALSE(sqlca().inTransaction());
        EXPECT_EQ(Decimal::fromVariant(
                      sqlca().selectValue(QStringLiteral("SELECT qichu FROM t_stat WHERE zbbm = '0001'")))
                      ->toString(2),
                  QStringLiteral("30.00"));
        EXPECT_EQ(tStatRows(*other), 0);
    }
    hook("UPDATE t_stat SET qichu = qichu + 1 WHERE zbbm = '0001';");
    ASSERT_EQ(runStatistics(host, *grid, request(QStringLiteral("410102003004"))).kind, RunOutcome::Done);
    EXPECT_EQ(grid->displayText(1, QStringLiteral("qichu")), QStringLiteral("21.00"));
    EXPECT_EQ(tStatRows(*other), 0);
}

// A user whose connection is cut off in the middle of a run (a crashed
// desktop, a server that ends the session) leaves no row anywhere.
TEST_P(WorkingTableTest, ARunCutOffMidWayLeavesNoRowsAnywhere)
{
    RecordingHost host(sqlca());
    auto grid = reportGrid();
    ASSERT_EQ(runStatistics(host, *grid, request()).kind, RunOutcome::Done);

    auto cut = db->connectAgain();
    ASSERT_TRUE(cut);
    RecordingHost cutHost(*cut);
    auto cutGrid = reportGrid();
    auto run = std::make_unique<StatisticsRun>(cutHost, *cutGrid, request(QStringLiteral("410102003004")));
    while (!cutHost.calls.contains(QStringLiteral("uf_update_report(T_stat,qichu,leiji)")))
        ASSERT_TRUE(run->step()) << run->outcome().message.toStdString();
    ASSERT_EQ(tStatRows(*cut), 2); // written, not committed

    auto watcher = db->connectAgain();
    ASSERT_TRUE(watcher);
    if (GetParam() == Backend::PostgreSQL) {
        const QVariant pid = cut->selectValue(QStringLiteral("SELECT pg_backend_pid()"));
        const QString temp =
            cut->selectValue(
                   QStringLiteral("SELECT nspname FROM pg_namespace WHERE oid = pg_my_temp_schema()"))
                .toString();
        ASSERT_FALSE(temp.isEmpty());
        ASSERT_TRUE(watcher->execute(QStringLiteral("SELECT pg_terminate_backend(?)"), {pid}))
            << watcher->SQLErrText.toStdString();
        while (run->step()) {
        }
        EXPECT_EQ(run->outcome().kind, RunOutcome::Failed);
        EXPECT_FALSE(run->outcome().message.isEmpty());
        EXPECT_EQ(cutGrid->RowCount(), 0);
        // The server drops the session's tables as the session ends.
        const QDeadlineTimer patience(std::chrono::seconds(30));
        int left = 1;
        while (left > 0 && !patience.hasExpired()) {
            left = watcher
                       ->selectValue(QStringLiteral("SELECT count(*) FROM pg_class c JOIN pg_namespace n "
                                                    "ON n.oid = c.relnamespace WHERE n.nspname = ?"),
                                     {temp})
                       .toInt();
            QThread::msleep(50);
        }
        EXPECT_EQ(left, 0);
    }
    run.reset(); // the desktop is gone: its connection closes
    cut.reset();
    EXPECT_EQ(tStatRows(*watcher), 0);
    auto again = db->connectAgain();
    ASSERT_TRUE(again);
    EXPECT_EQ(tStatRows(*again), 0);
    EXPECT_EQ(tStatRows(sqlca()), 2); // the first user's run is still theirs
}

// The shared t_stat of a host's database must carry every column the run's
// own table has; one that lacks one is refused before anything runs.
TEST_P(ReportRunTest, AHostWorkingTableWithoutAColumnIsRefusedNamingIt)
{
    for (const QString& column : {QStringLiteral("hh"), QStringLiteral("fasheng")}) {
        db->exec(QStringLiteral("DROP TABLE t_stat"));
        QStringList columns = {QStringLiteral("zbbm VARCHAR(4)"), QStringLiteral("qichu NUMERIC(18,2)"),
                               QStringLiteral("fasheng NUMERIC(18,2)"), QStringLiteral("leiji NUMERIC(18,2)"),
                               QStringLiteral("hh INTEGER")};
        columns.removeIf([&](const QString& c) { return c.startsWith(column + u' '); });
        db->exec(QStringLiteral("CREATE TABLE t_stat (%1)").arg(columns.join(QStringLiteral(", "))));
        auto user = db->connectAgain();
        ASSERT_TRUE(user);
        RecordingHost host(*user);
        auto grid = reportGrid();
        const RunOutcome o = runStatistics(host, *grid, request());
        EXPECT_EQ(o.kind, RunOutcome::Failed);
        EXPECT_TRUE(o.message.contains(QStringLiteral("t_stat")) &&
                    o.message.contains(QStringLiteral("no column %1").arg(column)))
            << o.message.toStdString();
        EXPECT_FALSE(host.calls.contains(QStringLiteral("uf_update_report(T_stat,qichu,leiji)")));
        EXPECT_EQ(grid->RowCount(), 0);
    }
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
ALLSTATS_ON_ALL_BACKENDS(WorkingTableTest);

} // namespace

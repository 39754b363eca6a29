// SPDX-License-Identifier: GPL-3.0-or-later
// The kept per-level figures: a report of a province, city, county or town
// reads them once built, and every change to H_stat (insert, update, a unit
// moved, delete, truncate, a village user's refresh) is in the very next
// report; writers and rebuilds in other sessions; NULL, huge and unreadable
// figures as the scan gives them; switched off and on again; host-made tables.
#include "foundation/decimal.h"
#include "foundation/gridbuffer.h"
#include "foundation/rollup.h"
#include "foundation/schema.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"
#include "report/tidy.h"
#include "support/commandline.h"
#include "support/hosts.h"
#include "support/seed.h"
#include "support/testdb.h"
#include "support/testroles.h"

#include <QFile>
#include <QThread>
#include <thread>

namespace {

const QStringList kLevels = {QStringLiteral("41"), QStringLiteral("4101"), QStringLiteral("410101"),
                             QStringLiteral("410101001")};

class KeptFiguresTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (!db)
            return;
        seed::monthlyReport(*db);
        // A minimum besides the seed's sum, average and maximum; two figures of it are NULL.
        db->exec(
            QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES ('0005', 'x', 'x', "
                           "4, 0)"));
        db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                                "('410101001001', '202409', '0005', 50, NULL, NULL), "
                                "('410101001002', '202409', '0005', 20, NULL, NULL)"));
    }

    static ReportRequest request(const QString& region)
    {
        ReportRequest r;
        r.region = region;
        r.regionName = region;
        r.year = seed::kYear;
        r.month = seed::kMonth;
        r.scheme = seed::kScheme;
        return r;
    }

    // The report's row of one indicator as "qichu fasheng leiji" ("-" for a
    // blank figure), empty when it has none; the run's failure as "failed: …".
    static QString figure(Sqlca& s, const QString& region, const QString& zbbm)
    {
        RecordingHost host(s);
        GridBuffer grid(d_xmjdzl());
        attachReportTidying(grid);
        const RunOutcome o = runStatistics(host, grid, request(region));
        if (o.kind != RunOutcome::Done)
            return QStringLiteral("failed: ") + o.message;
        const auto row =
            s.selectRow(QStringLiteral("SELECT qichu, fasheng, leiji FROM t_stat WHERE zbbm = ?"), {zbbm});
        if (!row)
            return QString();
        QStringList out;
        for (const QVariant& v : *row)
            out << (v.isNull() ? QStringLiteral("-") : Decimal::fromVariant(v)->toString(2));
        return out.join(u' ');
    }
    QString figure(const QString& region, const QString& zbbm) { return figure(sqlca(), region, zbbm); }

    // Every level's report of an indicator, so each level's kept rows are built.
    QStringList everyLevel(const QString& zbbm)
    {
        QStringList out;
        for (const QString& region : kLevels)
            out << region + u':' + figure(region, zbbm);
        return out;
    }

    // The stale parts of 河南省 (41); the other province's wait until a report of it.
    static int marks(Sqlca& s)
    {
        return s.selectValue(QStringLiteral("SELECT count(*) FROM H_statbj WHERE qybm LIKE '41%'")).toInt();
    }
    int marks() { return marks(sqlca()); }
    int keptRows() { return sqlca().selectValue(QStringLiteral("SELECT count(*) FROM H_statqy")).toInt(); }

    QString truncate() const
    {
        return GetParam() == Backend::SQLite ? QStringLiteral("DELETE FROM H_stat")
                                             : QStringLiteral("TRUNCATE H_stat");
    }
};

QStringList levels(const QString& province, const QString& city, const QString& county, const QString& town)
{
    return {QStringLiteral("41:") + province, QStringLiteral("4101:") + city,
            QStringLiteral("410101:") + county, QStringLiteral("410101001:") + town};
}

TEST_P(KeptFiguresTest, AReportReadsTheKeptFiguresOnceBuilt)
{
    ASSERT_EQ(rollup::isEnabled(sqlca(), nullptr), std::optional<bool>(true));
    EXPECT_EQ(marks(), 1) << "the seed's figures wait to be built";
    const QString all = QStringLiteral("307.00 5.00 312.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(all, all, all, all));
    EXPECT_EQ(marks(), 0);
    EXPECT_GT(keptRows(), 0);
    // Averages round half away from zero to the cent; maxima and minima; NULLs stay blank.
    EXPECT_EQ(figure(QStringLiteral("4101"), QStringLiteral("0002")), QStringLiteral("0.88 0.00 0.50"));
    EXPECT_EQ(figure(QStringLiteral("4101"), QStringLiteral("0003")), QStringLiteral("9000.00 0.00 9000.00"));
    EXPECT_EQ(figure(QStringLiteral("4101"), QStringLiteral("0005")), QStringLiteral("20.00 - -"));
    EXPECT_EQ(figure(QStringLiteral("41"), QStringLiteral("0004")),
              QStringLiteral("0.00 0.00 0.00")); // the zero row

    // What the report shows comes from the kept row: a kept figure changed by
    // hand (here the sum of 0003's figures, 17000) is what it shows, until the
    // period is built again.
    if (GetParam() == Backend::SQLite)
        db->exec(QStringLiteral("UPDATE H_statqy SET qichu = (SELECT k.qichu FROM H_statqy k WHERE k.kjqj = "
                                "'202409' AND k.jb = 4 AND k.qybm = '4101' AND k.zbbm = '0003') "
                                "WHERE jb = 4 AND qybm = '4101' AND zbbm = '0001'"));
    else
        db->exec(QStringLiteral(
            "UPDATE H_statqy SET qichu_he = 17000 WHERE jb = 4 AND qybm = '4101' AND zbbm = '0001'"));
    EXPECT_EQ(figure(QStringLiteral("4101"), QStringLiteral("0001")), QStringLiteral("17000.00 5.00 312.00"));
    const auto r = rollup::rebuild(sqlca(), seed::kPeriod, QString(), true, rollup::Wait::Yes);
    ASSERT_EQ(r.kind, rollup::Rebuilt::Done) << r.error.toStdString();
    EXPECT_EQ(r.parts, 2); // 410101 (with the 13-character unit) and 420101
    EXPECT_EQ(figure(QStringLiteral("4101"), QStringLiteral("0001")), all);

    const auto status = rollup::status(sqlca(), nullptr);
    ASSERT_TRUE(status);
    ASSERT_EQ(status->size(), 1);
    EXPECT_EQ(status->first().period, seed::kPeriod);
    EXPECT_EQ(status->first().staleParts, 0);
    EXPECT_GT(status->first().keptRows, 0);
    EXPECT_TRUE(status->first().inFigures);
}

TEST_P(KeptFiguresTest, EveryChangeIsInTheVeryNextReport)
{
    // Built first at every level, so a change a mark missed would show stale figures.
    const QString seeded = QStringLiteral("307.00 5.00 312.00");
    ASSERT_EQ(everyLevel(QStringLiteral("0001")), levels(seeded, seeded, seeded, seeded));
    everyLevel(QStringLiteral("0003"));
    everyLevel(QStringLiteral("0005"));

    // An insert in another county of the city.
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                            "('410102001001', '202409', '0001', 50, 0, 0)"));
    const QString more = QStringLiteral("357.00 5.00 312.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(more, more, seeded, seeded));
    EXPECT_EQ(figure(QStringLiteral("410102"), QStringLiteral("0001")), QStringLiteral("50.00 0.00 0.00"));

    // An update of the row that held the maximum.
    db->exec(QStringLiteral("UPDATE H_stat SET qichu = 1 WHERE number = '410101001002' AND zbbm = '0003'"));
    const QString lower = QStringLiteral("8000.00 0.00 9000.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0003")), levels(lower, lower, lower, lower));

    // A village moved to another county: both counties change, the city does not.
    db->exec(QStringLiteral("UPDATE H_stat SET number = '410102001002' WHERE number = '410101001002'"));
    EXPECT_EQ(everyLevel(QStringLiteral("0001")),
              levels(more, more, QStringLiteral("107.00 5.00 112.00"), QStringLiteral("107.00 5.00 112.00")));
    EXPECT_EQ(figure(QStringLiteral("410102"), QStringLiteral("0001")), QStringLiteral("250.00 0.00 200.00"));
    EXPECT_EQ(figure(QStringLiteral("410102"), QStringLiteral("0005")), QStringLiteral("20.00 - -"));

    // A delete of the row that held the minimum, and of the one that held the maximum.
    db->exec(QStringLiteral("DELETE FROM H_stat WHERE number = '410102001002' AND zbbm = '0005'"));
    db->exec(QStringLiteral("DELETE FROM H_stat WHERE number = '410101001001' AND zbbm = '0003'"));
    const QString fifty = QStringLiteral("50.00 - -");
    EXPECT_EQ(everyLevel(QStringLiteral("0005")), levels(fifty, fifty, fifty, fifty));
    EXPECT_EQ(figure(QStringLiteral("410102"), QStringLiteral("0005")), QString());
    EXPECT_EQ(everyLevel(QStringLiteral("0003")),
              levels(QStringLiteral("1.00 0.00 9000.00"), QStringLiteral("1.00 0.00 9000.00"), QString(),
                     QString()));

    // A server session that skips ordinary triggers (as loads in replica mode do) still marks.
    if (GetParam() == Backend::PostgreSQL) {
        db->exec(QStringLiteral("SET session_replication_role = replica"));
        db->exec(
            QStringLiteral("UPDATE H_stat SET qichu = 2 WHERE number = '410102001002' AND zbbm = '0003'"));
        db->exec(QStringLiteral("SET session_replication_role = origin"));
        const QString two = QStringLiteral("2.00 0.00 9000.00");
        EXPECT_EQ(figure(QStringLiteral("4101"), QStringLiteral("0003")), two);
    }

    // Emptied at once (TRUNCATE on PostgreSQL), then one figure again.
    db->exec(truncate());
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(QString(), QString(), QString(), QString()));
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                            "('410101001001', '202409', '0001', 1, 2, 3)"));
    const QString one = QStringLiteral("1.00 2.00 3.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(one, one, one, one));
}

// A load that touches many counties at once is built in one pass over their
// units; codes shorter than a village's (a county's own, a 7-character one,
// one of 5) count where the scan counts them.
TEST_P(KeptFiguresTest, ALoadOfManyCountiesIsInTheNextReport)
{
    const QString seeded = QStringLiteral("307.00 5.00 312.00");
    ASSERT_EQ(everyLevel(QStringLiteral("0001")), levels(seeded, seeded, seeded, seeded));
    QStringList rows;
    for (int c = 2; c <= 8; ++c)
        rows << QStringLiteral("('41010") + QString::number(c) +
                    QStringLiteral("001001', '202409', '0001', ") + QString::number(c * 10) +
                    QStringLiteral(", 0, 0)");
    rows << QStringLiteral("('4101090', '202409', '0001', 1000, 0, 0)")
         << QStringLiteral("('41011', '202409', '0001', 5000, 0, 0)")
         << QStringLiteral("('410109', '202409', '0003', 9999, 0, 0)");
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES ") +
             rows.join(QStringLiteral(", ")));
    const QString all = QStringLiteral("6657.00 5.00 312.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(all, all, seeded, seeded));
    EXPECT_EQ(marks(), 0);
    EXPECT_EQ(figure(QStringLiteral("410105"), QStringLiteral("0001")), QStringLiteral("50.00 0.00 0.00"));
    EXPECT_EQ(figure(QStringLiteral("410105001"), QStringLiteral("0001")), QStringLiteral("50.00 0.00 0.00"));
    EXPECT_EQ(figure(QStringLiteral("410109"), QStringLiteral("0001")), QStringLiteral("1000.00 0.00 0.00"));
    EXPECT_EQ(figure(QStringLiteral("4101"), QStringLiteral("0003")), QStringLiteral("9999.00 0.00 9000.00"));
    EXPECT_EQ(figure(QStringLiteral("410109"), QStringLiteral("0003")), QStringLiteral("9999.00 0.00 0.00"));
}

TEST_P(KeptFiguresTest, AVillageUsersRefreshIsInTheNextReportOfItsCounty)
{
    const QString seeded = QStringLiteral("307.00 5.00 312.00");
    ASSERT_EQ(everyLevel(QStringLiteral("0001")), levels(seeded, seeded, seeded, seeded));
    // The village user's report refreshes its figures first (a unit of its own gets 1000).
    auto village = db->connectAgain();
    ASSERT_TRUE(village);
    {
        RecordingHost host(*village);
        host.gs_kjqj = seed::kPeriod;
        host.gs_userqybm = QStringLiteral("410101001002");
        host.effect = [&](const QString& routine, const QStringList& args) {
            if (routine == u"uf_allstats" &&
                !village->execute(
                    QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) "
                                   "VALUES (?, ?, '0001', 1000, 0, 0)"),
                    {args[0] + QStringLiteral("999"), args[1]}))
                return Status::failure(village->SQLErrText);
            return Status::success();
        };
        GridBuffer grid(d_xmjdzl());
        const RunOutcome o = runStatistics(host, grid, request(QStringLiteral("410101001002")));
        ASSERT_EQ(o.kind, RunOutcome::Done) << o.message.toStdString();
        ASSERT_TRUE(host.ran(QStringLiteral("uf_allstats")));
    }
    const QString refreshed = QStringLiteral("1307.00 5.00 312.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(refreshed, refreshed, refreshed, refreshed));

    if (GetParam() != Backend::PostgreSQL)
        return;
    // On a shared server: a village role whose row-level security shows it its
    // own figures only, allowed by the host to write them; a county role reads
    // its county's kept figures, made from every unit.
    TestRoles roles(*db);
    const QString villageRole =
        roles.add(QStringLiteral("village"), QStringLiteral("410101001001"), TestRoles::all());
    const QString countyRole =
        roles.add(QStringLiteral("county"), QStringLiteral("410101"), TestRoles::all());
    db->exec(
        QStringLiteral("GRANT INSERT, UPDATE, DELETE ON H_stat TO %1").arg(TestRoles::quote(villageRole)));
    auto user = roles.connect(villageRole);
    ASSERT_TRUE(user);
    ASSERT_TRUE(
        user->execute(QStringLiteral("UPDATE H_stat SET qichu = qichu + 10 WHERE number = '410101001001' "
                                     "AND zbbm = '0001'")))
        << user->SQLErrText.toStdString();
    EXPECT_EQ(user->SQLNRows, 1);
    auto county = roles.connect(countyRole);
    ASSERT_TRUE(county);
    const QString plusTen = QStringLiteral("1317.00 5.00 312.00");
    EXPECT_EQ(figure(*county, QStringLiteral("410101"), QStringLiteral("0001")), plusTen);
    EXPECT_EQ(figure(*county, QStringLiteral("410101001"), QStringLiteral("0001")), plusTen);
    EXPECT_EQ(
        county->selectValue(QStringLiteral("SELECT count(*) FROM H_statqy WHERE qybm IN ('41', '4101')"))
            .toInt(),
        0)
        << "a county role reads no kept figure above its county";
    EXPECT_EQ(figure(QStringLiteral("41"), QStringLiteral("0001")), plusTen);
}

TEST_P(KeptFiguresTest, WritersAndRebuildsInOtherSessionsNeverShowStaleFigures)
{
    const QString seeded = QStringLiteral("307.00 5.00 312.00");
    ASSERT_EQ(everyLevel(QStringLiteral("0001")), levels(seeded, seeded, seeded, seeded));
    ASSERT_TRUE(sqlca().setTimeLimits(2, 0));
    const QString add =
        QStringLiteral("UPDATE H_stat SET qichu = qichu + %1 WHERE number = '410101001001' AND "
                       "zbbm = '0001'");

    // A committed change waits to be built while a writer holds another
    // change of the same county open: the report shows what is committed.
    db->exec(add.arg(1000));
    auto writer = db->connectAgain();
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->begin(/*exclusive*/ true)) << writer->SQLErrText.toStdString();
    ASSERT_TRUE(writer->execute(add.arg(20000))) << writer->SQLErrText.toStdString();
    const QString committed = QStringLiteral("1307.00 5.00 312.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(committed, committed, committed, committed));
    ASSERT_TRUE(writer->commit()) << writer->SQLErrText.toStdString();
    const QString both = QStringLiteral("21307.00 5.00 312.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(both, both, both, both));

    // A rebuild held open in one session: another session's report does not
    // wait for it and reads the figures as committed; a writer that commits
    // while the rebuild runs is in the next report.
    db->exec(add.arg(300000));
    auto rebuilder = db->connectAgain();
    ASSERT_TRUE(rebuilder);
    auto open = std::make_unique<TransactionGuard>(*rebuilder, TransactionGuard::Writes::SeeingCommits);
    ASSERT_TRUE(open->active());
    const auto r = rollup::rebuild(*rebuilder, seed::kPeriod, QString(), false, rollup::Wait::Yes);
    ASSERT_EQ(r.kind, rollup::Rebuilt::Done) << r.error.toStdString();
    EXPECT_EQ(r.parts, 2); // 410101 and the other province's 420101
    auto reader = db->connectAgain();
    ASSERT_TRUE(reader);
    ASSERT_TRUE(reader->setTimeLimits(1, 0));
    const QString before = QStringLiteral("321307.00 5.00 312.00");
    EXPECT_EQ(figure(*reader, QStringLiteral("4101"), QStringLiteral("0001")), before);

    std::string writerError;
    std::thread late([&] {
        QString error;
        auto s = Sqlca::connect(db->url(), &error);
        if (!s) {
            writerError = error.toStdString();
            return;
        }
        if (!s->execute(add.arg(4000000)))
            writerError = s->SQLErrText.toStdString();
    });
    QThread::msleep(300); // the writer meets the open rebuild (it may also come after it)
    ASSERT_TRUE(open->commit());
    open.reset();
    late.join();
    ASSERT_EQ(writerError, std::string());
    const QString last = QStringLiteral("4321307.00 5.00 312.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(last, last, last, last));

    // Two sessions report a stale period step by step side by side: both get
    // the change, and the period is built.
    db->exec(add.arg(1));
    const QString plusOne = QStringLiteral("4321308.00 5.00 312.00");
    RecordingHost hostA(sqlca());
    RecordingHost hostB(*reader);
    GridBuffer gridA(d_xmjdzl());
    GridBuffer gridB(d_xmjdzl());
    StatisticsRun a(hostA, gridA, request(QStringLiteral("41")));
    StatisticsRun b(hostB, gridB, request(QStringLiteral("410101")));
    for (bool goA = true, goB = true; goA || goB;) {
        if (goA)
            goA = a.step();
        if (goB)
            goB = b.step();
    }
    ASSERT_EQ(a.outcome().kind, RunOutcome::Done) << a.outcome().message.toStdString();
    ASSERT_EQ(b.outcome().kind, RunOutcome::Done) << b.outcome().message.toStdString();
    for (Sqlca* s : {&sqlca(), reader.get()})
        EXPECT_EQ(Decimal::fromVariant(
                      s->selectValue(QStringLiteral("SELECT qichu FROM t_stat WHERE zbbm = '0001'")))
                      ->toString(2),
                  QStringLiteral("4321308.00"));
    EXPECT_EQ(marks(), 0);
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(plusOne, plusOne, plusOne, plusOne));
}

TEST_P(KeptFiguresTest, NullHugeAndUnreadableFiguresGiveWhatTheScanGives)
{
    everyLevel(QStringLiteral("0001"));
    // A county whose figures of an indicator are all NULL, an average over some NULLs.
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                            "('410102001001', '202409', '0001', NULL, NULL, NULL), "
                            "('410101001002', '202409', '0002', NULL, 1, NULL)"));
    EXPECT_EQ(figure(QStringLiteral("410102"), QStringLiteral("0001")), QStringLiteral("- - -"));
    EXPECT_EQ(figure(QStringLiteral("4101"), QStringLiteral("0001")), QStringLiteral("307.00 5.00 312.00"));
    EXPECT_EQ(figure(QStringLiteral("4101"), QStringLiteral("0002")), QStringLiteral("0.88 0.50 0.50"));

    // A sum past t_stat's 16 integer digits is refused naming the indicator,
    // where the region holds it; a county beside it reports as before.
    QStringList rows;
    for (int i = 1; i <= 101; ++i)
        rows << QStringLiteral("('4101030%1', '202409', '0001', 99999999999999, 0, 0)")
                    .arg(i, 5, 10, QLatin1Char('0'));
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES ") +
             rows.join(QStringLiteral(", ")));
    for (const QString& region : {QStringLiteral("41"), QStringLiteral("4101"), QStringLiteral("410103")}) {
        const QString huge = figure(region, QStringLiteral("0001"));
        EXPECT_TRUE(huge.startsWith(QStringLiteral("failed:")) &&
                    huge.contains(QStringLiteral("indicator 0001")) &&
                    huge.contains(QStringLiteral("16 integer digits")))
            << region.toStdString() << ": " << huge.toStdString();
    }
    EXPECT_EQ(figure(QStringLiteral("410101"), QStringLiteral("0001")), QStringLiteral("307.00 5.00 312.00"));
    db->exec(QStringLiteral("DELETE FROM H_stat WHERE number LIKE '410103%'"));
    EXPECT_EQ(figure(QStringLiteral("4101"), QStringLiteral("0001")), QStringLiteral("307.00 5.00 312.00"));

    // A figure that is no number: refused naming unit, indicator and period
    // at every level that holds it; mended, the next report has the figures.
    const QString bad = GetParam() == Backend::SQLite ? QStringLiteral("'1,000'") : QStringLiteral("'NaN'");
    db->exec(QStringLiteral("UPDATE H_stat SET fasheng = %1 WHERE number = '410101001002' AND zbbm = '0003'")
                 .arg(bad));
    for (const QString& region : kLevels) {
        const QString refused = figure(region, QStringLiteral("0003"));
        for (const char* part : {"failed:", "410101001002", "0003", "202409", "not a number"})
            EXPECT_TRUE(refused.contains(QString::fromLatin1(part)))
                << region.toStdString() << ": " << refused.toStdString();
    }
    db->exec(QStringLiteral("UPDATE H_stat SET fasheng = 7 WHERE number = '410101001002' AND zbbm = '0003'"));
    const QString mended = QStringLiteral("9000.00 7.00 9000.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0003")), levels(mended, mended, mended, mended));
}

TEST_P(KeptFiguresTest, SwitchedOffAndOnAgainTheReportsStayRight)
{
    const QString seeded = QStringLiteral("307.00 5.00 312.00");
    ASSERT_EQ(everyLevel(QStringLiteral("0001")), levels(seeded, seeded, seeded, seeded));
    ASSERT_TRUE(rollup::disable(sqlca()));
    EXPECT_EQ(rollup::isEnabled(sqlca(), nullptr), std::optional<bool>(false));
    // Without them the figures are scanned: a change is there, no mark is written.
    db->exec(
        QStringLiteral("UPDATE H_stat SET qichu = 1100 WHERE number = '410101001001' AND zbbm = '0001'"));
    const QString changed = QStringLiteral("1307.00 5.00 312.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(changed, changed, changed, changed));

    rollup::Enabled enabled;
    ASSERT_TRUE(rollup::enable(sqlca(), &enabled));
    EXPECT_FALSE(enabled.already);
    EXPECT_EQ(enabled.parts, 2);
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(changed, changed, changed, changed));
    // Again: the triggers are made anew, the built figures stay.
    ASSERT_TRUE(rollup::enable(sqlca(), &enabled));
    EXPECT_TRUE(enabled.already);
    EXPECT_EQ(marks(), 0);
    db->exec(QStringLiteral("UPDATE H_stat SET qichu = 100 WHERE number = '410101001001' AND zbbm = '0001'"));
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(seeded, seeded, seeded, seeded));

    // A host that makes H_stat anew drops the triggers with it: the reports
    // scan the new table rather than read figures no trigger kept.
    db->exec(QStringLiteral("CREATE TABLE h_copy AS SELECT * FROM H_stat"));
    db->exec(QStringLiteral("DROP TABLE H_stat"));
    db->exec(QStringLiteral("CREATE TABLE H_stat AS SELECT * FROM h_copy"));
    db->exec(
        QStringLiteral("UPDATE H_stat SET qichu = 1100 WHERE number = '410101001001' AND zbbm = '0001'"));
    EXPECT_EQ(rollup::isEnabled(sqlca(), nullptr), std::optional<bool>(false));
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(changed, changed, changed, changed));
}

// Tables the host made: codes stored as numbers (SQLite) or in a linguistic
// collation (PostgreSQL), codes shorter than a village's. Kept figures of them
// are the plain tables' figures.
TEST_P(KeptFiguresTest, HostMadeTablesGiveThePlainTablesFigures)
{
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                            "('410102000001', '202409', '0001', 1000, 100, 10), "
                            "('41010', '202409', '0001', 3, 0, 0), ('4101', '202409', '0003', 9500, 0, 0)"));
    const QStringList regions = {QStringLiteral("41"), QStringLiteral("4101"), QStringLiteral("410101"),
                                 QStringLiteral("410102"), QStringLiteral("410101001")};
    auto figures = [&](Sqlca& s) {
        QStringList all;
        for (const QString& region : regions)
            for (const QString& zbbm :
                 {QStringLiteral("0001"), QStringLiteral("0003"), QStringLiteral("0005")})
                all << region + u'/' + zbbm + u':' + figure(s, region, zbbm);
        return all;
    };
    const QStringList plain = figures(sqlca());
    EXPECT_TRUE(plain.contains(QStringLiteral("4101/0001:1310.00 105.00 322.00")))
        << plain.join(u'\n').toStdString();
    EXPECT_TRUE(plain.contains(QStringLiteral("41/0003:9500.00 0.00 9000.00")))
        << plain.join(u'\n').toStdString();

    const bool lite = GetParam() == Backend::SQLite;
    if (!lite)
        db->exec(
            QStringLiteral("CREATE COLLATION codes_by_value (provider = icu, locale = 'und-u-kn-true')"));
    ASSERT_TRUE(rollup::disable(sqlca()));
    db->exec(QStringLiteral("CREATE TABLE h_plain AS SELECT * FROM H_stat"));
    db->exec(QStringLiteral("DROP TABLE H_stat"));
    db->exec(
        QStringLiteral("CREATE TABLE H_stat (number %1 NOT NULL, kjqj VARCHAR(6) NOT NULL, "
                       "zbbm VARCHAR(4) NOT NULL, qichu NUMERIC(18,4), fasheng NUMERIC(18,4), "
                       "leiji NUMERIC(18,4))")
            .arg(lite ? QStringLiteral("INTEGER") : QStringLiteral("VARCHAR(40) COLLATE codes_by_value")));
    db->exec(QStringLiteral("CREATE INDEX H_stat_odd ON H_stat (kjqj, number)"));
    db->exec(QStringLiteral("INSERT INTO H_stat SELECT * FROM h_plain WHERE number <> '410101001001'"));
    auto odd = db->connectAgain();
    ASSERT_TRUE(odd);
    ASSERT_EQ(odd->dialect().unitCodes(),
              lite ? Dialect::UnitCodes::NotText : Dialect::UnitCodes::Linguistic);
    ASSERT_TRUE(rollup::enable(*odd));
    figures(*odd); // built
    // The last units come through the triggers of the host's table.
    ASSERT_TRUE(odd->execute(
        QStringLiteral("INSERT INTO H_stat SELECT * FROM h_plain WHERE number = '410101001001'")));
    EXPECT_EQ(figures(*odd), plain);
    EXPECT_EQ(marks(*odd), 0);
}

// `allstats rollup`: the state of each period, a rebuild, off and on again;
// usage errors, a database without kept figures, a role that may not make triggers.
// On a host's H_stat without the key of one row per unit, indicator and
// period, the rebuild refuses a second row, naming the first by unit and
// indicator, where the scan would have summed it; the report says so too.
TEST_P(KeptFiguresTest, ASecondRowForAUnitIsRefusedNamingTheFirstWhereTheTableHasNoKey)
{
    const QString seeded = QStringLiteral("307.00 5.00 312.00");
    ASSERT_EQ(everyLevel(QStringLiteral("0001")), levels(seeded, seeded, seeded, seeded));
    db->exec(QStringLiteral("DROP INDEX H_stat_period_unit"));
    db->exec(QStringLiteral("CREATE INDEX H_stat_period_unit ON H_stat (kjqj, number, zbbm)"));
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                            "('410101001002', '202409', '0001', 7777, 0, 0), "
                            "('410101001001', '202409', '0003', 7777, 0, 0)"));
    const QString said =
        QStringLiteral("failed: H_stat holds a second row for unit 410101001001, indicator 0003, "
                       "period 202409");
    for (const QString& region : kLevels) {
        const QString got = figure(region, QStringLiteral("0001"));
        EXPECT_TRUE(got.startsWith(said)) << region.toStdString() << ": " << got.toStdString();
    }
    if (QFile::exists(allstatsExecutable())) {
        const Outcome o =
            runAllstats({QStringLiteral("rollup"), QStringLiteral("rebuild"), QStringLiteral("--db"),
                         db->url(), QStringLiteral("--period"), QStringLiteral("202409")});
        EXPECT_NE(o.code, 0);
        EXPECT_TRUE(o.said().contains(QStringLiteral("second row for unit 410101001001, indicator 0003")))
            << o.said().toStdString();
    }

    // The duplicates gone, the figures are what they were.
    db->exec(QStringLiteral("DELETE FROM H_stat WHERE qichu = 7777"));
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(seeded, seeded, seeded, seeded));
}

TEST_P(KeptFiguresTest, TheRollupCommandShowsRebuildsAndSwitchesTheKeptFigures)
{
    if (!QFile::exists(allstatsExecutable()))
        GTEST_SKIP() << "the allstats executable is not built";
    const auto rollupCommand = [&](const QString& action, const QStringList& more = {}) {
        return runAllstats(QStringList{QStringLiteral("rollup"), action, QStringLiteral("--db"), db->url()} +
                           more);
    };
    Outcome o = rollupCommand(QStringLiteral("status"));
    ASSERT_EQ(o.code, 0) << o.error().toStdString();
    EXPECT_TRUE(o.output().contains(QStringLiteral("202409\tstale\t0\t0\t2"))) << o.output().toStdString();

    o = rollupCommand(QStringLiteral("rebuild"));
    ASSERT_EQ(o.code, 0) << o.error().toStdString();
    EXPECT_EQ(marks(), 0);
    o = rollupCommand(QStringLiteral("status"));
    EXPECT_TRUE(o.output().contains(QStringLiteral("202409\tfresh\t"))) << o.output().toStdString();
    // After a load: the whole period anew.
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                            "('410102001001', '202409', '0001', 50, 0, 0)"));
    o = rollupCommand(QStringLiteral("rebuild"), {QStringLiteral("--period"), QStringLiteral("202409")});
    ASSERT_EQ(o.code, 0) << o.error().toStdString();
    EXPECT_TRUE(o.output().contains(QStringLiteral("202409: 3 parts built"))) << o.output().toStdString();
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM H_statbj")).toInt(), 0);

    EXPECT_EQ(
        rollupCommand(QStringLiteral("status"), {QStringLiteral("--period"), QStringLiteral("202409")}).code,
        2);
    EXPECT_EQ(
        rollupCommand(QStringLiteral("rebuild"), {QStringLiteral("--period"), QStringLiteral("2024")}).code,
        2);
    EXPECT_EQ(
        runAllstats({QStringLiteral("rollup"), QStringLiteral("on"), QStringLiteral("--db"), db->url()}).code,
        2);

    ASSERT_EQ(rollupCommand(QStringLiteral("disable")).code, 0);
    EXPECT_EQ(rollup::isEnabled(sqlca(), nullptr), std::optional<bool>(false));
    o = rollupCommand(QStringLiteral("status"));
    EXPECT_EQ(o.code, 1);
    EXPECT_TRUE(o.said().contains(QStringLiteral("rollup enable"))) << o.said().toStdString();
    EXPECT_EQ(figure(QStringLiteral("4101"), QStringLiteral("0001")), QStringLiteral("357.00 5.00 312.00"));

    std::unique_ptr<TestRoles> roles;
    if (GetParam() == Backend::PostgreSQL) {
        // A user of the database is no owner of H_stat: refused, naming the owner.
        roles = std::make_unique<TestRoles>(*db);
        const QString user = roles->add(QStringLiteral("clerk"), QStringLiteral("41"), TestRoles::all());
        o = runAllstats(
            {QStringLiteral("rollup"), QStringLiteral("enable"), QStringLiteral("--db"), roles->url(user)});
        EXPECT_EQ(o.code, 3);
        EXPECT_TRUE(o.said().contains(QStringLiteral("may not create triggers on H_stat")))
            << o.said().toStdString();
        EXPECT_EQ(rollup::isEnabled(sqlca(), nullptr), std::optional<bool>(false));
    }
    o = rollupCommand(QStringLiteral("enable"));
    ASSERT_EQ(o.code, 0) << o.error().toStdString();
    EXPECT_TRUE(o.output().contains(QStringLiteral("3 parts to build"))) << o.output().toStdString();
    EXPECT_EQ(figure(QStringLiteral("4101"), QStringLiteral("0001")), QStringLiteral("357.00 5.00 312.00"));
}

// PostgreSQL: H_stat partitioned by period (init-db --partitioned) gives the
// plain table's figures, at every level and for a user whose row-level
// security shows its county only; its changes (through the partitioned table
// into a period's partition or the default one, and a TRUNCATE) are in the
// very next report, and it keeps one row per unit, indicator and period.
TEST_P(KeptFiguresTest, APartitionedFiguresTableGivesThePlainTablesFigures)
{
    const bool exe = QFile::exists(allstatsExecutable());
    if (GetParam() == Backend::SQLite) {
        if (exe) {
            EXPECT_EQ(runAllstats({QStringLiteral("init-db"), QStringLiteral("--db"), db->url(),
                                   QStringLiteral("--partitioned")})
                          .code,
                      2);
        }
        QString error;
        EXPECT_FALSE(schema::create(sqlca(), &error, schema::Figures::PartitionedByPeriod));
        GTEST_SKIP() << "a SQLite file has no partitions";
    }
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                            "('410102001001', '202409', '0001', 50, 0, 0), "
                            "('410101001001', '202408', '0001', 7, 0, 0)"));
    const QStringList regions = {QStringLiteral("41"), QStringLiteral("4101"), QStringLiteral("410101"),
                                 QStringLiteral("410102"), QStringLiteral("410101001")};
    auto figures = [&](Sqlca& s) {
        QStringList all;
        for (const QString& region : regions)
            for (const QString& zbbm : {QStringLiteral("0001"), QStringLiteral("0002"),
                                        QStringLiteral("0003"), QStringLiteral("0005")})
                all << region + u'/' + zbbm + u':' + figure(s, region, zbbm);
        return all;
    };
    const QStringList plain = figures(sqlca());
    if (exe) {
        const Outcome o = runAllstats(
            {QStringLiteral("init-db"), QStringLiteral("--db"), db->url(), QStringLiteral("--partitioned")});
        EXPECT_EQ(o.code, 3) << "an H_stat of one table stays so: " << o.said().toStdString();
    }

    // The same rows in a partitioned H_stat, as init-db --partitioned makes it.
    ASSERT_TRUE(rollup::disable(sqlca()));
    db->exec(QStringLiteral("CREATE TABLE h_plain AS SELECT * FROM H_stat"));
    db->exec(QStringLiteral("DROP TABLE H_stat"));
    if (exe) {
        const Outcome o = runAllstats(
            {QStringLiteral("init-db"), QStringLiteral("--db"), db->url(), QStringLiteral("--partitioned")});
        ASSERT_EQ(o.code, 0) << o.said().toStdString();
    } else {
        QString error;
        ASSERT_TRUE(schema::create(sqlca(), &error, schema::Figures::PartitionedByPeriod))
            << error.toStdString();
        ASSERT_TRUE(rollup::enable(sqlca()));
    }
    ASSERT_EQ(schema::isPartitioned(sqlca(), nullptr), std::optional<bool>(true));
    ASSERT_EQ(rollup::isEnabled(sqlca(), nullptr), std::optional<bool>(true));
    QString error;
    ASSERT_TRUE(schema::addPeriodPartition(sqlca(), seed::kPeriod, &error)) << error.toStdString();
    EXPECT_FALSE(schema::addPeriodPartition(sqlca(), QStringLiteral("2024'9"), &error));
    db->exec(QStringLiteral("INSERT INTO H_stat SELECT * FROM h_plain"));
    EXPECT_GT(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM H_stat_202409")).toInt(), 0);
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM H_stat_default")).toInt(), 1);
    EXPECT_EQ(figures(sqlca()), plain);
    EXPECT_EQ(
        sqlca()
            .selectValue(QStringLiteral("SELECT count(*) FROM H_statbj WHERE kjqj = ? AND qybm LIKE '41%'"),
                         {seed::kPeriod})
            .toInt(),
        0);

    // One row per unit, indicator and period, as the plain table.
    EXPECT_FALSE(sqlca().execute(
        QStringLiteral("INSERT INTO H_stat SELECT * FROM h_plain WHERE number = '410102001001'")));

    // Changes in the period's partition and in the default one.
    db->exec(QStringLiteral("UPDATE H_stat SET qichu = qichu + 1000 WHERE number = '410101001001' AND "
                            "zbbm = '0001'"));
    const QString more = QStringLiteral("1357.00 5.00 312.00");
    const QString county = QStringLiteral("1307.00 5.00 312.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(more, more, county, county));
    db->exec(QStringLiteral("DELETE FROM H_stat WHERE number = '410101001002' AND zbbm = '0003'"));
    EXPECT_EQ(figure(QStringLiteral("41"), QStringLiteral("0003")), QStringLiteral("8000.00 0.00 8000.00"));

    // A county user under row-level security reads its county's kept figures, made from every unit.
    TestRoles roles(*db);
    const QString countyRole =
        roles.add(QStringLiteral("county"), QStringLiteral("410101"), TestRoles::all());
    auto user = roles.connect(countyRole);
    ASSERT_TRUE(user);
    EXPECT_EQ(figure(*user, QStringLiteral("410101"), QStringLiteral("0001")), county);
    EXPECT_EQ(
        user->selectValue(QStringLiteral("SELECT count(*) FROM H_stat WHERE number LIKE '410102%'")).toInt(),
        0);

    // Emptied at once, then one figure again.
    db->exec(QStringLiteral("TRUNCATE H_stat"));
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(QString(), QString(), QString(), QString()));
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                            "('410101001001', '202409', '0001', 1, 2, 3)"));
    const QString one = QStringLiteral("1.00 2.00 3.00");
    EXPECT_EQ(everyLevel(QStringLiteral("0001")), levels(one, one, one, one));
}

ALLSTATS_ON_ALL_BACKENDS(KeptFiguresTest);

} // namespace

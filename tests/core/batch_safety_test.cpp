// SPDX-License-Identifier: GPL-3.0-or-later
// The batch command's promises under bad input and faults: it never replaces
// what it should not, never changes a database it only reads, never reports a
// wrong figure as done, and says plainly what went wrong. Every case runs on
// both backends.
#include "foundation/decimal.h"
#include "foundation/gridbuffer.h"
#include "foundation/schema.h"
#include "host/sqlhost.h"
#include "report/batch.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"
#include "report/tidy.h"
#include "support/commandline.h"
#include "support/files.h"
#include "support/seed.h"
#include "support/testdb.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <atomic>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

class BatchSafetyTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (!db)
            return;
        seed::monthlyReport(*db);
    }

    // The seed's report, on another database text when one is given.
    CommandLine report(const QString& dbText = QString()) const
    {
        CommandLine line = seed::report(*db, hooks.path());
        if (!dbText.isEmpty())
            line.set(QStringLiteral("--db"), dbText);
        return line;
    }
    QString out(const QString& name = QStringLiteral("r.json")) const { return hooks.filePath(name); }
    int count(const QString& table)
    {
        return sqlca().selectValue(QStringLiteral("SELECT count(*) FROM %1").arg(table)).toInt();
    }
    // The statistics run as the screen makes it, on the test connection.
    RunOutcome run(GridBuffer& grid, const QString& region = seed::kRegion)
    {
        SqlHost host(sqlca(), hooks.path());
        host.gs_kjqj = seed::kPeriod;
        grid.SetTransObject(&sqlca());
        attachReportTidying(grid);
        return runStatistics(host, grid,
                             {region, seed::kRegionName, seed::kYear, seed::kMonth, seed::kScheme});
    }
    // Villages 410101000001 … with the same figure for indicator 0001 (sum) and 0003 (maximum).
    void villages(int n, const QString& figure)
    {
        db->exec(QStringLiteral("DELETE FROM H_stat"));
        QStringList rows;
        for (int i = 1; i <= n; ++i)
            for (const char* zbbm : {"0001", "0003"})
                rows << QStringLiteral("('4101010%1', '202409', '%2', %3, 0, %3)")
                            .arg(i, 5, 10, QLatin1Char('0'))
                            .arg(QLatin1String(zbbm), figure);
        db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES ") +
                 rows.join(QStringLiteral(", ")));
    }
    static bool built() { return QFile::exists(allstatsExecutable()); }

    QTemporaryDir hooks;
};

// ------------------------------------------------------------------ data lost

TEST_P(BatchSafetyTest, OutputNeverReplacesTheDatabaseNorASpecialFile)
{
    // The database and its journal files are refused before anything is written.
    if (GetParam() == Backend::SQLite) {
        const QString file = db->url();
        for (const auto& [dbText, target] :
             QList<std::pair<QString, QString>>{{file, file},
                                                {file, file + QStringLiteral("-wal")},
                                                {file, file + QStringLiteral("-shm")},
                                                {QStringLiteral("sqlite:") + file, file}}) {
            EXPECT_EQ(runReport(report(dbText).add(QStringLiteral("--out"), target)), ExitUsage)
                << (target).toStdString();
        }
        // A second name for the same file (a link) is the same file.
        const QString link = out(QStringLiteral("link.sqlite"));
        ASSERT_TRUE(QFile::link(db->url(), link));
        EXPECT_EQ(runReport(report().add(QStringLiteral("--out"), link)), ExitUsage);
        auto again = db->connectAgain();
        ASSERT_TRUE(again);
        EXPECT_TRUE(schema::missingTables(*again).isEmpty()) << "the database is still a database";
    }

    // A named pipe is written into, not replaced by a file.
    const QString fifo = out(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QByteArray received;
    std::thread reader([&] {
        QFile f(fifo);
        if (f.open(QIODevice::ReadOnly))
            received = f.readAll();
    });
    const int code = runReport(
        report().add(QStringLiteral("--format"), QStringLiteral("csv")).add(QStringLiteral("--out"), fifo));
    // Releases the reader whatever happened to the pipe.
    const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0)
        ::close(fd);
    reader.join();
    EXPECT_EQ(code, ExitDone);
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe is still a pipe";
    EXPECT_TRUE(QString::fromUtf8(received).contains(QStringLiteral("互助金总额,307.00")))
        << received.toStdString();

    // A report that cannot be written is an output error.
    EXPECT_EQ(runReport(report().add(QStringLiteral("--out"), out(QStringLiteral("no/folder/r.json")))),
              ExitOutput);
}

TEST_P(BatchSafetyTest, HooksMayNotEndOrOpenTransactionsAndLeaveNothingWhenTheyFail)
{
    const int figures = count(QStringLiteral("H_stat"));
    for (const char* statement : {"COMMIT", "commit work", "ROLLBACK", "BEGIN", "  (END)", "SAVEPOINT x",
                                  "RELEASE x", "START TRANSACTION", "abort"}) {
        writeFile(hooks.filePath(QStringLiteral("uf_update_report.sql")),
                  QByteArray("DELETE FROM H_stat;\n-- the catch\n") + statement +
                      ";\nSELECT nothing FROM nowhere;");
        SqlHost host(sqlca(), hooks.path());
        TransactionGuard tx(sqlca());
        const Status s =
            host.uf_update_report(QStringLiteral("T_stat"), QStringLiteral("qichu"), QStringLiteral("leiji"));
        tx.rollback();
        ASSERT_FALSE(s) << statement;
        EXPECT_TRUE(s.error.contains(QStringLiteral("uf_update_report.sql"))) << (s.error).toStdString();
        EXPECT_TRUE(s.error.contains(QStringLiteral("statement 2"))) << (s.error).toStdString();
        EXPECT_TRUE(s.error.contains(QString::fromLatin1(statement).trimmed(), Qt::CaseInsensitive))
            << (s.error).toStdString();
        EXPECT_EQ(count(QStringLiteral("H_stat")), figures) << statement;
        // Through the batch command: a database error, and the figures stay.
        EXPECT_EQ(runReport(report().add(QStringLiteral("--out"), out())), ExitDatabase) << statement;
        EXPECT_EQ(count(QStringLiteral("H_stat")), figures) << statement;
    }
    // A hook that writes and then fails leaves nothing of its writes behind.
    const int regions = count(QStringLiteral("s_qybm"));
    writeFile(hooks.filePath(QStringLiteral("uf_update_report.sql")),
              "DELETE FROM H_stat; INSERT INTO s_qybm (qybm, qymc) "
              "VALUES ('99', 'x'); UPDATE t_stat SET nothing = 1;");
    EXPECT_EQ(runReport(report().add(QStringLiteral("--out"), out())), ExitDatabase);
    EXPECT_EQ(count(QStringLiteral("H_stat")), figures);
    EXPECT_EQ(count(QStringLiteral("s_qybm")), regions);
    // Words that merely begin like one are no transaction statement.
    EXPECT_TRUE(SqlHost::transactionWord(QStringLiteral("UPDATE t_stat SET hh = 0")).isEmpty());
    EXPECT_TRUE(SqlHost::transactionWord(QStringLiteral("BEGINNING")).isEmpty());
    EXPECT_TRUE(SqlHost::transactionWord(QStringLiteral("PREPARE q AS SELECT 1")).isEmpty());
}

// ------------------------------------------------------ wrong figures as done

TEST_P(BatchSafetyTest, LargeFiguresAreExactOrRefusedNamingTheIndicator)
{
    // Ten villages of 99999999999999: the sum needs more than 64 bits in ten-thousandths.
    villages(10, QStringLiteral("99999999999999"));
    GridBuffer grid(d_xmjdzl());
    RunOutcome r = run(grid);
    ASSERT_EQ(r.kind, RunOutcome::Done) << (r.message).toStdString();
    ASSERT_EQ(grid.RowCount(), 3); // the sum, the maximum, the derived zero row
    EXPECT_EQ(grid.displayText(1, QStringLiteral("qichu")), QStringLiteral("999999999999990.00"));
    EXPECT_EQ(grid.displayText(2, QStringLiteral("leiji")), QStringLiteral("99999999999999.00"));
    // Cents with the largest figures both backends hold exactly (15 digits).
    villages(3, QStringLiteral("123456789012.35"));
    r = run(grid);
    ASSERT_EQ(r.kind, RunOutcome::Done) << (r.message).toStdString();
    EXPECT_EQ(grid.displayText(1, QStringLiteral("qichu")), QStringLiteral("370370367037.05"));

    // Past t_stat's 16 integer digits: an error that names the indicator, never a wrapped figure.
    villages(101, QStringLiteral("99999999999999"));
    r = run(grid);
    ASSERT_EQ(r.kind, RunOutcome::Failed);
    EXPECT_TRUE(r.message.contains(QStringLiteral("indicator 0001"))) << (r.message).toStdString();
    EXPECT_EQ(grid.RowCount(), 0);

    // A figure that is no number: named by unit, indicator and period.
    villages(2, QStringLiteral("5"));
    const QString bad = GetParam() == Backend::SQLite ? QStringLiteral("'1,000'") : QStringLiteral("'NaN'");
    for (const QString& column : {QStringLiteral("qichu"), QStringLiteral("leiji")}) {
        db->exec(QStringLiteral("UPDATE H_stat SET %1 = %2 WHERE number = '410101000002' AND zbbm = '0003'")
                     .arg(column, bad));
        r = run(grid);
        ASSERT_EQ(r.kind, RunOutcome::Failed) << column.toStdString();
        for (const char* part : {"410101000002", "0003", "202409", "not a number"})
            EXPECT_TRUE(r.message.contains(QString::fromLatin1(part))) << r.message.toStdString();
        db->exec(QStringLiteral("UPDATE H_stat SET %1 = 5").arg(column));
    }
    if (GetParam() == Backend::SQLite) {
        db->exec(QStringLiteral("UPDATE H_stat SET fasheng = 1e999 WHERE number = '410101000001'"));
        EXPECT_EQ(run(grid).kind, RunOutcome::Failed) << "an infinite figure";
        // A figure SQLite cannot hold to the cent is refused, not rounded away.
        villages(9, QStringLiteral("1234567890123.45")); // 11111111011111.05: 16 digits
        r = run(grid);
        ASSERT_EQ(r.kind, RunOutcome::Failed);
        EXPECT_TRUE(r.message.contains(QStringLiteral("indicator 0001"))) << (r.message).toStdString();
    }
}

// ---------------------------------------------------- reads that change things

TEST_P(BatchSafetyTest, ReportReadsWithoutCreatingOrChangingAnything)
{
    if (GetParam() == Backend::SQLite) {
        // A mistyped path creates nothing.
        const QString typo = out(QStringLiteral("tset.sqlite"));
        EXPECT_EQ(runReport(report(typo).add(QStringLiteral("--out"), out())), ExitDatabase);
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            EXPECT_FALSE(QFileInfo::exists(typo + QLatin1String(suffix))) << suffix;
        // A zero-byte file stays zero bytes.
        const QString empty = out(QStringLiteral("empty.sqlite"));
        QFile(empty).open(QIODevice::WriteOnly);
        EXPECT_EQ(runReport(report(empty).add(QStringLiteral("--out"), out())), ExitDatabase);
        EXPECT_EQ(QFileInfo(empty).size(), 0);
        // An existing file keeps its journal mode.
        db->exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
        ASSERT_EQ(runReport(report().add(QStringLiteral("--out"), out())), ExitDone);
        auto again = db->connectAgain();
        EXPECT_EQ(again->selectValue(QStringLiteral("PRAGMA journal_mode")).toString(),
                  QStringLiteral("delete"));
        // init-db alone creates, and chooses WAL for the file it makes.
        const QString fresh = out(QStringLiteral("new.sqlite"));
        if (!built())
            GTEST_SKIP() << "the allstats executable is not built";
        const Outcome init = runAllstats({QStringLiteral("init-db"), QStringLiteral("--db"), fresh});
        EXPECT_EQ(init.code, ExitDone) << init.err.toStdString();
        QString error;
        auto made = Sqlca::connect(fresh, &error);
        ASSERT_TRUE(made) << error.toStdString();
        EXPECT_TRUE(schema::missingTables(*made).isEmpty());
        EXPECT_EQ(made->selectValue(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
        return;
    }
    // PostgreSQL: a report on a schema that is not there does not make it.
    const QString schema = QStringLiteral("nosuch_%1").arg(QCoreApplication::applicationPid());
    const QString url = qEnvironmentVariable("ALLSTATS_TEST_PG") + QStringLiteral("?schema=") + schema;
    auto exists = [&] {
        return sqlca()
            .selectValue(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = ?"), {schema})
            .toInt();
    };
    EXPECT_EQ(runReport(report(url).add(QStringLiteral("--out"), out())), ExitDatabase);
    EXPECT_EQ(exists(), 0);
    if (!built())
        GTEST_SKIP() << "the allstats executable is not built";
    const Outcome init = runAllstats({QStringLiteral("init-db"), QStringLiteral("--db"), url});
    EXPECT_EQ(init.code, ExitDone) << init.err.toStdString();
    EXPECT_EQ(exists(), 1);
    sqlca().executeImmediate(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(schema));
}

// ------------------------------------------------ clear words, not raw failures

TEST_P(BatchSafetyTest, PasswordsAreNeverShownInMessages)
{
    const QString secret = QStringLiteral("s3cr%40t/pw");
    QString error;
    EXPECT_FALSE(Sqlca::connect(QStringLiteral("postgresql://ann:%1@/x").arg(secret), &error));
    EXPECT_FALSE(error.contains(QStringLiteral("s3cr"))) << (error).toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("postgresql://ann@/x"))) << (error).toStdString();
    EXPECT_EQ(Sqlca::shownDatabase(QStringLiteral("postgresql://ann:p@ss@h:5432/d?schema=s")),
              QStringLiteral("postgresql://ann@h:5432/d?schema=s"));
    EXPECT_EQ(Sqlca::shownDatabase(QStringLiteral("postgresql://h:5432/d")),
              QStringLiteral("postgresql://h:5432/d"));
}

TEST_P(BatchSafetyTest, TheCommandNeverPrintsTheServersPassword)
{
    if (GetParam() != Backend::PostgreSQL)
        GTEST_SKIP() << "a SQLite file is opened without a password";
    if (!built())
        GTEST_SKIP() << "the allstats executable is not built";
    // The real command on a server URL with a password: nothing it prints shows it.
    QUrl url(qEnvironmentVariable("ALLSTATS_TEST_PG"));
    url.setPassword(QStringLiteral("hush-hush"));
    for (const auto& [dbText, code] : QList<std::pair<QString, int>>{
             {url.toString() + QStringLiteral("?schema=nosuch_schema"), ExitDatabase},
             {url.toString().replace(QStringLiteral("postgresql://"), QStringLiteral("postgresql:///")),
              ExitUsage}}) {
        const Outcome r = runAllstats(report(dbText).add(QStringLiteral("--out"), out()).arguments());
        EXPECT_EQ(r.code, code);
        EXPECT_FALSE(r.err.contains("hush")) << r.err.toStdString();
        EXPECT_FALSE(r.out.contains("hush")) << r.out.toStdString();
    }
}

TEST_P(BatchSafetyTest, ABusyDatabaseOrASlowStatementIsSaidInPlainWords)
{
    // A writer holds the figures wholly (a file outside WAL mode locked for
    // writing; a host reloading H_stat): the run waits as long as it is told, then says why.
    const bool lite = GetParam() == Backend::SQLite;
    if (lite)
        db->exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
    auto other = db->connectAgain();
    ASSERT_TRUE(other);
    ASSERT_TRUE(lite ? other->executeImmediate(QStringLiteral("BEGIN EXCLUSIVE"))
                     : other->begin() &&
                           other->execute(QStringLiteral("LOCK TABLE H_stat IN ACCESS EXCLUSIVE MODE")))
        << other->SQLErrText.toStdString();
    QList<int> told;
    sqlca().busyWait = [&](int seconds) { told << seconds; };
    ASSERT_TRUE(sqlca().setTimeLimits(2, 0));
    GridBuffer grid(d_xmjdzl());
    const RunOutcome r = run(grid);
    sqlca().busyWait = nullptr;
    ASSERT_EQ(r.kind, RunOutcome::Failed);
    EXPECT_TRUE(r.message.contains(QStringLiteral("busy: another user or run"))) << (r.message).toStdString();
    EXPECT_TRUE(r.message.contains(QStringLiteral("2 s"))) << (r.message).toStdString();
    if (lite) { // the desktop's wait notice hears of the wait, and of its end
        EXPECT_EQ(told, (QList<int>{1, 0}));
    }
    if (lite)
        other->executeImmediate(QStringLiteral("ROLLBACK"));
    else
        other->rollback();
    EXPECT_EQ(run(grid).kind, RunOutcome::Done);

    // A statement past its time limit stops with a message that says so.
    ASSERT_TRUE(sqlca().setTimeLimits(2, 1));
    const QString endless =
        GetParam() == Backend::SQLite
            ? QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
                             "SELECT count(*) FROM c")
            : QStringLiteral("SELECT pg_sleep(60)");
    EXPECT_FALSE(sqlca().execute(endless));
    EXPECT_TRUE(sqlca().SQLErrText.contains(QStringLiteral("time limit of 1 s")))
        << (sqlca().SQLErrText).toStdString();

    // The batch options take whole seconds.
    for (const char* option : {"--wait", "--timeout"})
        for (const char* value : {"x", "-1", ""})
            EXPECT_EQ(runReport(report()
                                    .add(QString::fromLatin1(option), QString::fromLatin1(value))
                                    .add(QStringLiteral("--out"), out())),
                      ExitUsage)
                << option << " " << value;
    EXPECT_EQ(runReport(report()
                            .add(QStringLiteral("--wait"), QStringLiteral("5"))
                            .add(QStringLiteral("--timeout"), QStringLiteral("30"))
                            .add(QStringLiteral("--out"), out())),
              ExitDone);
}

TEST_P(BatchSafetyTest, ConcurrentInitDbBothSucceed)
{
    for (int round = 0; round < 3; ++round) {
        QString target = db->url();
        QString schema;
        if (GetParam() == Backend::SQLite) {
            target = out(QStringLiteral("init%1.sqlite").arg(round));
        } else {
            schema = QStringLiteral("init_%1_%2").arg(QCoreApplication::applicationPid()).arg(round);
            target = qEnvironmentVariable("ALLSTATS_TEST_PG") + QStringLiteral("?schema=") + schema;
        }
        std::atomic<int> done = 0;
        std::vector<std::thread> threads;
        QStringList errors;
        std::mutex m;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([&] {
                QString error;
                auto s = Sqlca::connect(target, &error, OpenMode::Create);
                if (s && schema::create(*s, &error))
                    ++done;
                else {
                    std::lock_guard lock(m);
                    errors << error;
                }
            });
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(done.load(), 4) << errors.join(QStringLiteral("\n")).toStdString();
        if (!schema.isEmpty())
            sqlca().executeImmediate(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(schema));
    }
}

TEST_P(BatchSafetyTest, OnePeriodCheckEverywhere)
{
    const QStringList wrong = {QStringLiteral("2024 6"), QStringLiteral("2024+6"),
                               QStringLiteral("20246"),  QStringLiteral("２０２４０６"),
                               QStringLiteral("2024-6"), QStringLiteral("202400"),
                               QStringLiteral("202413")};
    for (const QString& p : wrong) {
        EXPECT_FALSE(isValidPeriod(p)) << p.toStdString();
        EXPECT_EQ(runReport(report().set(QStringLiteral("--period"), p).add(QStringLiteral("--out"), out())),
                  ExitUsage)
            << p.toStdString();
    }
    EXPECT_TRUE(isValidPeriod(QStringLiteral("202401")));
    EXPECT_TRUE(isValidPeriod(QStringLiteral("200812")));
    EXPECT_EQ(runReport(report()
                            .set(QStringLiteral("--period"), QStringLiteral("202401"))
                            .add(QStringLiteral("--out"), out())),
              ExitDone);

    // init-db takes the same check.
    if (!built())
        GTEST_SKIP() << "the allstats executable is not built";
    for (const QString& p : wrong)
        EXPECT_EQ(runAllstats({QStringLiteral("init-db"), QStringLiteral("--db"), db->url(),
                               QStringLiteral("--period"), p})
                      .code,
                  ExitUsage)
            << p.toStdString();
}

TEST_P(BatchSafetyTest, ExitStatusesSayWhatHappened)
{
    // A scheme no kind-1 scheme carries is refused, not reported empty.
    db->exec(QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm) VALUES (2, 1, ?, 10, '0001')"),
             {QStringLiteral("别类方案")});
    for (const QString& scheme : {QStringLiteral("月 报"), QStringLiteral("别类方案")}) {
        EXPECT_EQ(
            runReport(report().set(QStringLiteral("--scheme"), scheme).add(QStringLiteral("--out"), out())),
            ExitRefused)
            << scheme.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(out()));
    // The screen keeps its empty report for such a name.
    GridBuffer grid(d_xmjdzl());
    SqlHost host(sqlca(), hooks.path());
    EXPECT_EQ(
        runStatistics(host, grid,
                      {seed::kRegion, seed::kRegionName, seed::kYear, seed::kMonth, QStringLiteral("月 报")})
            .kind,
        RunOutcome::Done);
    EXPECT_EQ(grid.RowCount(), 0);
    EXPECT_EQ(grid.text(QStringLiteral("t_qijian")), QStringLiteral("报表期间：2024年9月"));
    EXPECT_EQ(grid.text(QStringLiteral("t_qymc")), QStringLiteral("项目区：郑州市"));

    // An unknown command is a usage error, not the desktop.
    if (!built())
        GTEST_SKIP() << "the allstats executable is not built";
    const Outcome r = runAllstats({QStringLiteral("pakc"), QStringLiteral("--db"), db->url()});
    EXPECT_EQ(r.code, ExitUsage);
    EXPECT_TRUE(r.err.contains("unknown command \"pakc\"")) << r.err.toStdString();
}

ALLSTATS_ON_ALL_BACKENDS(BatchSafetyTest);

} // namespace

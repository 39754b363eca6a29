// SPDX-License-Identifier: GPL-3.0-or-later
// The figures init-db keeps are one row per period, unit and indicator, and a
// period is a year from 1900 to 9999 and a month wherever the program takes one.
#include "analysis/packbatch.h"
#include "analysis/trendbatch.h"
#include "foundation/host.h"
#include "foundation/schema.h"
#include "report/batch.h"
#include "support/commandline.h"
#include "support/files.h"
#include "support/seed.h"
#include "support/testdb.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

class PeriodsAndKeysTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (!db)
            return;
        seed::monthlyReport(*db);
    }

    static bool figureRow(Sqlca& s, const QString& period, const QString& unit, const QString& zbbm,
                          double figure)
    {
        return s.execute(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) "
                                        "VALUES (?, ?, ?, ?, 0, ?)"),
                         {unit, period, zbbm, figure, figure});
    }
    CommandLine command(const QString& word) const
    {
        return batchCommand(word, db->url())
            .add(QStringLiteral("--scheme"), seed::kScheme)
            .add(QStringLiteral("--region"), seed::kRegion);
    }
    QString reportJson()
    {
        const QString out = dir.filePath(QStringLiteral("r.json"));
        EXPECT_EQ(runReport(command(QStringLiteral("report"))
                                .add(QStringLiteral("--year"), seed::kYear)
                                .add(QStringLiteral("--month"), seed::kMonth)
                                .add(QStringLiteral("--out"), out)),
                  ExitDone);
        return QString::fromUtf8(readFile(out));
    }

    QTemporaryDir dir;
};

TEST_P(PeriodsAndKeysTest, ASecondRowForAUnitIndicatorAndPeriodIsRefusedByTheTableInitDbMakes)
{
    // The same unit, indicator and period again: refused, so the sum does not
    // double and no second figure becomes the maximum.
    const QString village = QStringLiteral("410101001002");
    EXPECT_FALSE(figureRow(sqlca(), seed::kPeriod, village, QStringLiteral("0001"), 200));
    EXPECT_FALSE(figureRow(sqlca(), seed::kPeriod, village, QStringLiteral("0003"), 99999.0));
    const QString json = reportJson();
    EXPECT_TRUE(json.contains(QStringLiteral("\"307.00\""))) << json.toStdString();
    EXPECT_TRUE(json.contains(QStringLiteral("\"9000.00\""))) << json.toStdString();
    EXPECT_FALSE(json.contains(QStringLiteral("507.00"))) << json.toStdString();
    EXPECT_FALSE(json.contains(QStringLiteral("99999.00"))) << json.toStdString();
    // Another period or indicator of the unit is a row of its own.
    EXPECT_TRUE(figureRow(sqlca(), QStringLiteral("202410"), village, QStringLiteral("0001"), 1.0));
    EXPECT_TRUE(figureRow(sqlca(), seed::kPeriod, village, QStringLiteral("0002"), 1.0));

    // A host's own H_stat is left as it is: init-db adds the look-up index
    // without the key, and the rows it holds stay.
    TestDb host(GetParam(), /*createTables*/ false);
    host.exec(QStringLiteral("CREATE TABLE H_stat (number VARCHAR(40), kjqj VARCHAR(6), zbbm VARCHAR(4), "
                             "qichu NUMERIC, fasheng NUMERIC, leiji NUMERIC)"));
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(figureRow(host.sqlca(), seed::kPeriod, village, QStringLiteral("0001"), 5.0));
    QString error;
    ASSERT_TRUE(schema::create(host.sqlca(), &error)) << error.toStdString();
    EXPECT_EQ(host.sqlca().selectValue(QStringLiteral("SELECT count(*) FROM H_stat")).toInt(), 2);
    EXPECT_TRUE(figureRow(host.sqlca(), seed::kPeriod, village, QStringLiteral("0001"), 5.0));
}

TEST_P(PeriodsAndKeysTest, EveryPeriodIsAYearFrom1900To9999AndAMonth)
{
    for (const char* period : {"000101", "189912", "090006", "0000-1"}) {
        const QString p = QString::fromLatin1(period);
        EXPECT_FALSE(isValidPeriod(p)) << period;
        EXPECT_EQ(runReport(command(QStringLiteral("report"))
                                .add(QStringLiteral("--year"), seed::kYear)
                                .add(QStringLiteral("--month"), seed::kMonth)
                                .add(QStringLiteral("--period"), p)
                                .add(QStringLiteral("--out"), dir.filePath(QStringLiteral("r.json")))),
                  ExitUsage)
            << period;
        for (const char* option : {"--from", "--to"}) {
            const CommandLine months =
                command(QStringLiteral("trend"))
                    .add(QStringLiteral("--from"), QStringLiteral("202401"))
                    .add(QStringLiteral("--to"), QStringLiteral("202409"))
                    .add(QStringLiteral("--out"), dir.filePath(QStringLiteral("t.csv")));
            EXPECT_EQ(runTrend(CommandLine(months).set(QString::fromLatin1(option), p)), ExitUsage)
                << option << " " << period;
        }
    }
    for (const char* year : {"1899", "0999", "0000"}) {
        auto when = [&](const QString& word) {
            return command(word)
                .add(QStringLiteral("--year"), QString::fromLatin1(year))
                .add(QStringLiteral("--month"), seed::kMonth);
        };
        EXPECT_EQ(runReport(when(QStringLiteral("report"))
                                .add(QStringLiteral("--out"), dir.filePath(QStringLiteral("r.json")))),
                  ExitUsage)
            << year;
        EXPECT_EQ(runPack(when(QStringLiteral("pack"))
                              .add(QStringLiteral("--level"), QStringLiteral("village"))
                              .add(QStringLiteral("--out"), dir.path())),
                  ExitUsage)
            << year;
        EXPECT_EQ(runRank(when(QStringLiteral("rank"))
                              .add(QStringLiteral("--indicator"), QStringLiteral("0001"))
                              .add(QStringLiteral("--out"), dir.filePath(QStringLiteral("k.csv")))),
                  ExitUsage)
            << year;
    }
    EXPECT_TRUE(isValidPeriod(QStringLiteral("190001")));
    EXPECT_TRUE(isValidPeriod(QStringLiteral("999912")));
    EXPECT_EQ(reportJson().isEmpty(), false);

    // init-db --demo: its last period, and its first month (24 months back) too.
    if (!QFile::exists(allstatsExecutable()))
        GTEST_SKIP() << "the allstats executable is not built";
    const int regions = sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_qybm")).toInt();
    for (const char* period : {"000101", "190001"}) {
        const Outcome r =
            runAllstats({QStringLiteral("init-db"), QStringLiteral("--db"), db->url(),
                         QStringLiteral("--demo"), QStringLiteral("--period"), QString::fromLatin1(period)});
        EXPECT_EQ(r.code, ExitUsage) << period << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("1900")) << r.err.toStdString();
    }
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_qybm")).toInt(), regions);
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM H_stat WHERE kjqj < '1900'")).toInt(),
              0);
}

ALLSTATS_ON_ALL_BACKENDS(PeriodsAndKeysTest);

} // namespace

// The figures init-db keeps are one row per period, unit and indicator, and a
// period is a year from 1900 to 9999 and a month wherever the program takes one.
#include "foundation/host.h"
#include "foundation/schema.h"
#include "report/batch.h"
#include "report/trendbatch.h"
#include "support/testdb.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
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
        db->exec(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('4101', ?)"),
                 {QStringLiteral("郑州市")});
        db->exec(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES "
                                "('0001', ?, ?, 1, 0), ('0002', ?, ?, 3, 0)"),
                 {QStringLiteral("资金"), QStringLiteral("互助金总额"), QStringLiteral("借款"),
                  QStringLiteral("单笔最大借款")});
        db->exec(
            QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, xz, flag2) VALUES "
                           "(1, 1, ?, 10, '0001', ?, ?, 1, 0), (1, 1, ?, 20, '0002', ?, ?, 1, 0)"),
            {QStringLiteral("月报"), QStringLiteral("资金"), QStringLiteral("互助金总额"),
             QStringLiteral("月报"), QStringLiteral("借款"), QStringLiteral("单笔最大借款")});
        for (const auto& [zbbm, figure] : {std::pair{"0001", 1234.5}, std::pair{"0002", 300.0}})
            EXPECT_TRUE(figureRow(sqlca(), QStringLiteral("202409"), QString::fromLatin1(zbbm), figure))
                << sqlca().SQLErrText.toStdString();
    }

    static bool figureRow(Sqlca& s, const QString& period, const QString& zbbm, double figure)
    {
        return s.execute(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) "
                                        "VALUES ('410101000001', ?, ?, ?, 0, ?)"),
                         {period, zbbm, figure, figure});
    }
    QStringList command(const QString& word, const QStringList& more) const
    {
        return QStringList{QStringLiteral("allstats"), word,
                           QStringLiteral("--db"),     db->url(),
                           QStringLiteral("--scheme"), QStringLiteral("月报"),
                           QStringLiteral("--region"), QStringLiteral("4101")} +
               more;
    }
    QString reportJson()
    {
        const QString out = dir.filePath(QStringLiteral("r.json"));
        EXPECT_EQ(
            runReport(command(QStringLiteral("report"),
                              {QStringLiteral("--year"), QStringLiteral("2024"), QStringLiteral("--month"),
                               QStringLiteral("9"), QStringLiteral("--out"), out})),
            ExitDone);
        QFile f(out);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    static QString exe() { return QCoreApplication::applicationDirPath() + QStringLiteral("/../allstats"); }
    static int runExe(const QStringList& args, QByteArray* err)
    {
        QProcess p;
        p.start(exe(), args);
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        *err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    QTemporaryDir dir;
};

TEST_P(PeriodsAndKeysTest, ASecondRowForAUnitIndicatorAndPeriodIsRefusedByTheTableInitDbMakes)
{
    // The same unit, indicator and period again: refused, so the sum does not
    // double and no second figure becomes the maximum.
    EXPECT_FALSE(figureRow(sqlca(), QStringLiteral("202409"), QStringLiteral("0001"), 1234.5));
    EXPECT_FALSE(figureRow(sqlca(), QStringLiteral("202409"), QStringLiteral("0002"), 999.0));
    const QString json = reportJson();
    EXPECT_TRUE(json.contains(QStringLiteral("1234.50"))) << json.toStdString();
    EXPECT_TRUE(json.contains(QStringLiteral("300.00"))) << json.toStdString();
    EXPECT_FALSE(json.contains(QStringLiteral("2469.00"))) << json.toStdString();
    EXPECT_FALSE(json.contains(QStringLiteral("999.00"))) << json.toStdString();
    // Another period or indicator of the unit is a row of its own.
    EXPECT_TRUE(figureRow(sqlca(), QStringLiteral("202410"), QStringLiteral("0001"), 1.0));
    EXPECT_TRUE(figureRow(sqlca(), QStringLiteral("202409"), QStringLiteral("0003"), 1.0));

    // A host's own H_stat is left as it is: init-db adds the look-up index
    // without the key, and the rows it holds stay.
    TestDb host(GetParam(), /*createTables*/ false);
    host.exec(QStringLiteral("CREATE TABLE H_stat (number VARCHAR(40), kjqj VARCHAR(6), zbbm VARCHAR(4), "
                             "qichu NUMERIC, fasheng NUMERIC, leiji NUMERIC)"));
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(figureRow(host.sqlca(), QStringLiteral("202409"), QStringLiteral("0001"), 5.0));
    QString error;
    ASSERT_TRUE(schema::create(host.sqlca(), &error)) << error.toStdString();
    EXPECT_EQ(host.sqlca().selectValue(QStringLiteral("SELECT count(*) FROM H_stat")).toInt(), 2);
    EXPECT_TRUE(figureRow(host.sqlca(), QStringLiteral("202409"), QStringLiteral("0001"), 5.0));
}

TEST_P(PeriodsAndKeysTest, EveryPeriodIsAYearFrom1900To9999AndAMonth)
{
    for (const char* period : {"000101", "189912", "090006", "0000-1"}) {
        const QString p = QString::fromLatin1(period);
        EXPECT_FALSE(isValidPeriod(p)) << period;
        EXPECT_EQ(
            runReport(command(QStringLiteral("report"),
                              {QStringLiteral("--year"), QStringLiteral("2024"), QStringLiteral("--month"),
                               QStringLiteral("9"), QStringLiteral("--period"), p, QStringLiteral("--out"),
                               dir.filePath(QStringLiteral("r.json"))})),
            ExitUsage)
            << period;
        for (const char* option : {"--from", "--to"}) {
            QStringList months = {QStringLiteral("--from"), QStringLiteral("202401"), QStringLiteral("--to"),
                                  QStringLiteral("202409")};
            months[months.indexOf(QString::fromLatin1(option)) + 1] = p;
            EXPECT_EQ(runTrend(command(QStringLiteral("trend"),
                                       months + QStringList{QStringLiteral("--out"),
                                                            dir.filePath(QStringLiteral("t.csv"))})),
                      ExitUsage)
                << option << " " << period;
        }
    }
    for (const char* year : {"1899", "0999", "0000"}) {
        const QStringList when = {QStringLiteral("--year"), QString::fromLatin1(year),
                                  QStringLiteral("--month"), QStringLiteral("9")};
        EXPECT_EQ(runReport(command(
                      QStringLiteral("report"),
                      when + QStringList{QStringLiteral("--out"), dir.filePath(QStringLiteral("r.json"))})),
                  ExitUsage)
            << year;
        EXPECT_EQ(runPack(command(QStringLiteral("pack"),
                                  when + QStringList{QStringLiteral("--level"), QStringLiteral("village"),
                                                     QStringLiteral("--out"), dir.path()})),
                  ExitUsage)
            << year;
        EXPECT_EQ(runRank(command(QStringLiteral("rank"),
                                  when + QStringList{QStringLiteral("--indicator"), QStringLiteral("0001"),
                                                     QStringLiteral("--out"),
                                                     dir.filePath(QStringLiteral("k.csv"))})),
                  ExitUsage)
            << year;
    }
    EXPECT_TRUE(isValidPeriod(QStringLiteral("190001")));
    EXPECT_TRUE(isValidPeriod(QStringLiteral("999912")));
    EXPECT_EQ(reportJson().isEmpty(), false);

    // init-db --demo: its last period, and its first month (24 months back) too.
    if (!QFile::exists(exe()))
        GTEST_SKIP() << "the allstats executable is not built";
    const int regions = sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_qybm")).toInt();
    for (const char* period : {"000101", "190001"}) {
        QByteArray err;
        EXPECT_EQ(runExe({QStringLiteral("init-db"), QStringLiteral("--db"), db->url(),
                          QStringLiteral("--demo"), QStringLiteral("--period"), QString::fromLatin1(period)},
                         &err),
                  ExitUsage)
            << period << ": " << err.toStdString();
        EXPECT_TRUE(err.contains("1900")) << err.toStdString();
    }
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_qybm")).toInt(), regions);
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM H_stat WHERE kjqj < '1900'")).toInt(),
              0);
}

ALLSTATS_ON_ALL_BACKENDS(PeriodsAndKeysTest);

} // namespace

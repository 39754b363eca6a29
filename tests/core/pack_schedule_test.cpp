// The scheduled month-end pack: `--month previous` (and trend's `previous`).
#include "foundation/host.h"
#include "report/batch.h"
#include "report/trendbatch.h"
#include "support/testdb.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

QJsonObject jsonOf(const QString& path)
{
    return QJsonDocument::fromJson(readFile(path)).object();
}

QStringList strings(const QJsonValue& array)
{
    QStringList out;
    for (const QJsonValue& v : array.toArray())
        out << v.toString();
    return out;
}

// Today as a test sets it, the calendar's again at the end.
struct FixedToday
{
    explicit FixedToday(const QDate& date) { overrideToday(date); }
    ~FixedToday() { overrideToday(QDate()); }
};

// ------------------------------------------------------------ with a database

class PackScheduleTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (!db)
            return;
        // A village whose name is markup and one with a '#', which a link must not cut.
        db->exec(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('41', ?), ('410101', ?), "
                                "('410101001', ?), ('410101001001', ?), ('410101001002', ?)"),
                 {QStringLiteral("河南省"), QStringLiteral("中原区"), QStringLiteral("须水镇"),
                  kMarkupVillage, QStringLiteral("金塬村#2")});
        db->exec(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES "
                                "('0001', ?, ?, 1, 0), ('0002', ?, ?, 2, 1)"),
                 {QStringLiteral("资金"), QStringLiteral("互助金总额"), QStringLiteral("比率"),
                  QStringLiteral("还款率")});
        db->exec(
            QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, xz, flag2) VALUES "
                           "(1, 1, ?, 10, '0001', ?, ?, 1, 0), (1, 1, ?, 20, '0002', ?, ?, 1, 1)"),
            {scheme, QStringLiteral("资金"), QStringLiteral("互助金总额"), scheme, QStringLiteral("比率"),
             QStringLiteral("还款率")});
        // December and January: the year boundary. December's figures end in 12, January's in 1.
        db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                                "('410101001001', '202412', '0001', 100, 12, 112), "
                                "('410101001001', '202412', '0002', 0.5, 0, 0.5), "
                                "('410101001002', '202412', '0001', 200, 0, 200), "
                                "('410101001002', '202412', '0002', 0.75, 0, 0.75), "
                                "('410101001001', '202501', '0001', 112, 9, 121), "
                                "('410101001002', '202501', '0001', 200, 11, 211)"));
    }

    QStringList common(const QString& command) const
    {
        return {QStringLiteral("allstats"), command,     QStringLiteral("--db"), db->url(),
                QStringLiteral("--hooks"),  hooks.path()};
    }
    QStringList report(const QString& region, const QStringList& more) const
    {
        return common(QStringLiteral("report")) +
               QStringList{QStringLiteral("--scheme"), scheme, QStringLiteral("--region"), region} + more;
    }
    // The single report of a region in a month, as JSON.
    QJsonObject single(const QString& region, const QString& year, const QString& month)
    {
        const QString out = work.filePath(QStringLiteral("single.json"));
        EXPECT_EQ(runReport(report(region, {QStringLiteral("--year"), year, QStringLiteral("--month"), month,
                                            QStringLiteral("--out"), out})),
                  ExitDone);
        return jsonOf(out);
    }
    const QString kMarkupVillage = QStringLiteral("<b>王&庄\"</b>");
    QString scheme = QStringLiteral("月报");
    QTemporaryDir hooks;
    QTemporaryDir work;
};

TEST_P(PackScheduleTest, PreviousMonthIsTheMonthBeforeThePeriodOrTodayAcrossTheYear)
{
    const QString january = QStringLiteral("202501");
    const QString out = work.filePath(QStringLiteral("report.json"));
    const QStringList previous = {QStringLiteral("--month"), QStringLiteral("previous"),
                                  QStringLiteral("--out"), out};
    // Before the session period: January 2025 gives December 2024.
    ASSERT_EQ(runReport(report(QStringLiteral("410101001001"),
                               previous + QStringList{QStringLiteral("--period"), january})),
              ExitDone);
    QJsonObject r = jsonOf(out);
    EXPECT_EQ(r.value(QStringLiteral("period")).toString(), QStringLiteral("报表期间：2024年12月"));
    EXPECT_EQ(r, single(QStringLiteral("410101001001"), QStringLiteral("2024"), QStringLiteral("12")));
    // Before today when no period is given.
    {
        const FixedToday today(QDate(2025, 1, 1));
        QFile::remove(out);
        ASSERT_EQ(runReport(report(QStringLiteral("410101001001"), previous)), ExitDone);
        EXPECT_EQ(jsonOf(out).value(QStringLiteral("period")).toString(),
                  QStringLiteral("报表期间：2024年12月"));
    }
    {
        const FixedToday today(QDate(2025, 2, 28));
        ASSERT_EQ(runReport(report(QStringLiteral("410101001001"), previous)), ExitDone);
        EXPECT_EQ(jsonOf(out).value(QStringLiteral("period")).toString(),
                  QStringLiteral("报表期间：2025年1月"));
    }
    // The year comes with the month; without "previous" it is still required.
    EXPECT_EQ(runReport(report(QStringLiteral("410101001001"),
                               previous + QStringList{QStringLiteral("--year"), QStringLiteral("2025")})),
              ExitUsage);
    EXPECT_EQ(
        runReport(report(QStringLiteral("410101001001"), {QStringLiteral("--month"), QStringLiteral("12")})),
        ExitUsage);
    EXPECT_EQ(runReport(report(QStringLiteral("410101001001"),
                               {QStringLiteral("--month"), QStringLiteral("last")})),
              ExitUsage);

    // rank and pack take it as report does.
    ASSERT_EQ(runRank(common(QStringLiteral("rank")) +
                      QStringList{QStringLiteral("--scheme"), scheme, QStringLiteral("--region"),
                                  QStringLiteral("410101001"), QStringLiteral("--indicator"),
                                  QStringLiteral("0001"), QStringLiteral("--period"), january} +
                      previous),
              ExitDone);
    const QJsonObject rank = jsonOf(out);
    EXPECT_EQ(rank.value(QStringLiteral("period")).toString(), QStringLiteral("报表期间：2024年12月"));
    EXPECT_EQ(rank.value(QStringLiteral("values")).toArray().first().toDouble(), 200.0);
    QTemporaryDir folder;
    ASSERT_EQ(
        runPack(common(QStringLiteral("pack")) +
                QStringList{QStringLiteral("--scheme"), scheme, QStringLiteral("--region"),
                            QStringLiteral("410101001"), QStringLiteral("--level"), QStringLiteral("village"),
                            QStringLiteral("--month"), QStringLiteral("previous"), QStringLiteral("--period"),
                            january, QStringLiteral("--out"), folder.path()}),
        ExitDone);
    EXPECT_TRUE(filesIn(folder.path()).contains(QStringLiteral("410101001002-金塬村#2-202412.json")))
        << filesIn(folder.path()).join(u' ').toStdString();

    // trend: --to previous (and --from) before the period, across the year.
    const QStringList trend =
        common(QStringLiteral("trend")) + QStringList{QStringLiteral("--scheme"), scheme,
                                                      QStringLiteral("--region"), QStringLiteral("410101001"),
                                                      QStringLiteral("--out"),    out};
    ASSERT_EQ(runTrend(trend + QStringList{QStringLiteral("--from"), QStringLiteral("202411"),
                                           QStringLiteral("--to"), QStringLiteral("previous"),
                                           QStringLiteral("--period"), january}),
              ExitDone);
    EXPECT_EQ(strings(jsonOf(out).value(QStringLiteral("periods"))),
              (QStringList{QStringLiteral("202411"), QStringLiteral("202412")}));
    {
        const FixedToday today(QDate(2025, 1, 31));
        ASSERT_EQ(runTrend(trend + QStringList{QStringLiteral("--from"), QStringLiteral("previous"),
                                               QStringLiteral("--to"), QStringLiteral("previous")}),
                  ExitDone);
        EXPECT_EQ(strings(jsonOf(out).value(QStringLiteral("periods"))),
                  QStringList{QStringLiteral("202412")});
    }
}

} // namespace

ALLSTATS_ON_ALL_BACKENDS(PackScheduleTest);

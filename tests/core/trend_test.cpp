// SPDX-License-Identifier: GPL-3.0-or-later
// `allstats trend` and `allstats rank`: the figures of every month equal the
// report's, a month without figures stays blank, the ranking's order, ties
// and level, and the spreadsheet's typed numbers and live chart.
#include "analysis/trend.h"
#include "analysis/trendbatch.h"
#include "host/sqlhost.h"
#include "report/batch.h"
#include "support/commandline.h"
#include "support/files.h"
#include "support/hosts.h"
#include "support/testdb.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>

namespace {

const QString kTown = QStringLiteral("450121101");
const QString kScheme = QStringLiteral("月报");

class TrendTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (!db)
            return;
        // Its own province, not the seed's (one month): three months, one without
        // figures, and a town whose villages tie in the ranking.
        // A town of four villages (the last without figures, and a unit of 13
        // characters under the first) and a town beside it.
        db->exec(
            QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('45', ?), ('4501', ?), ('450121', ?), "
                           "('450121101', ?), ('450121101201', ?), ('450121101202', ?), "
                           "('450121101203', ?), ('450121101204', ?), ('4501211012011', ?), "
                           "('450121102', ?), ('450121102201', ?)"),
            {QStringLiteral("青禾省"), QStringLiteral("石桥市"), QStringLiteral("云溪县"),
             QStringLiteral("白沙镇"), QStringLiteral("兰垌村"), QStringLiteral("梨湖村"),
             QStringLiteral("金塬村"), QStringLiteral("寿溪村"), QStringLiteral("一组"),
             QStringLiteral("安平镇"), QStringLiteral("新溪村")});
        // 逾期率 is derived by the shipped uf_update_report from 0601 / 0501.
        db->exec(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES "
                                "('0101', ?, ?, 1, 0), ('0501', ?, ?, 1, 0), ('0601', ?, ?, 1, 0), "
                                "('0702', ?, ?, 0, 1)"),
                 {QStringLiteral("资金"), QStringLiteral("互助金总额"), QStringLiteral("借款"),
                  QStringLiteral("借款余额"), QStringLiteral("逾期"), QStringLiteral("逾期借款余额"),
                  QStringLiteral("比率"), QStringLiteral("逾期率")});
        // The scheme lists 逾期率 before 借款余额 and switches 逾期借款余额 off.
        db->exec(
            QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, xz, flag2) VALUES "
                           "(1, 1, ?, 10, '0101', ?, ?, 1, 0), (1, 1, ?, 30, '0501', ?, ?, 1, 0), "
                           "(1, 1, ?, 40, '0601', ?, ?, 0, 0), (1, 1, ?, 20, '0702', ?, ?, 1, 1)"),
            {kScheme, QStringLiteral("资金"), QStringLiteral("互助金总额"), kScheme, QStringLiteral("借款"),
             QStringLiteral("借款余额"), kScheme, QStringLiteral("逾期"), QStringLiteral("逾期借款余额"),
             kScheme, QStringLiteral("比率"), QStringLiteral("逾期率")});
        // January: figures. February: none in the town (only the town beside
        // it). March: figures, among them zeros.
        db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                                "('450121101201', '202401', '0101', 0, 0, 1000), "
                                "('450121101201', '202401', '0501', 0, 0, 300), "
                                "('450121101201', '202401', '0601', 0, 0, 30), "
                                "('450121101202', '202401', '0101', 0, 0, 2000), "
                                "('450121101202', '202401', '0501', 0, 0, 500), "
                                "('450121101202', '202401', '0601', 0, 0, 10), "
                                "('450121101203', '202401', '0101', 0, 0, 1500), "
                                "('450121101203', '202401', '0501', 0, 0, 300), "
                                "('450121101203', '202401', '0601', 0, 0, 0), "
                                "('450121102201', '202401', '0501', 0, 0, 900), "
                                "('450121102201', '202402', '0501', 0, 0, 800), "
                                "('450121101201', '202403', '0101', 0, 0, 0), "
                                "('450121101201', '202403', '0501', 0, 0, 400), "
                                "('450121101201', '202403', '0601', 0, 0, 0), "
                                "('450121101202', '202403', '0501', 0, 0, 200)"));
    }

    CommandLine common(const QString& command) const
    {
        return batchCommand(command, db->url(), shippedHooks(), QStringLiteral("202612"))
            .add(QStringLiteral("--scheme"), kScheme);
    }
    static QString shippedHooks()
    {
        return QDir::cleanPath(QStringLiteral(ALLSTATS_TEST_DATA "/../../hooks"));
    }

    CommandLine trend(const QString& region, const QString& from, const QString& to, const QString& out) const
    {
        return common(QStringLiteral("trend"))
            .add(QStringLiteral("--region"), region)
            .add(QStringLiteral("--from"), from)
            .add(QStringLiteral("--to"), to)
            .add(QStringLiteral("--out"), out);
    }
    CommandLine rank(const QString& region, const QString& month, const QString& indicator,
                     const QString& out) const
    {
        return common(QStringLiteral("rank"))
            .add(QStringLiteral("--region"), region)
            .add(QStringLiteral("--year"), QStringLiteral("2024"))
            .add(QStringLiteral("--month"), month)
            .add(QStringLiteral("--indicator"), indicator)
            .add(QStringLiteral("--out"), out);
    }
    // The report's 累计数 by indicator name, as `allstats report` shows it.
    QHash<QString, QString> reportCumulative(const QString& region, int month)
    {
        const QString out = tmp.filePath(QStringLiteral("report.json"));
        EXPECT_EQ(runReport(common(QStringLiteral("report"))
                                .add(QStringLiteral("--region"), region)
                                .add(QStringLiteral("--year"), QStringLiteral("2024"))
                                .add(QStringLiteral("--month"), QString::number(month))
                                .add(QStringLiteral("--out"), out)),
                  ExitDone);
        QHash<QString, QString> figures;
        for (const QJsonValue& row : QJsonDocument::fromJson(readFile(out)).object()[u"rows"].toArray())
            figures.insert(row[2].toString(), row[5].toString());
        return figures;
    }

    QTemporaryDir tmp;
};

TEST_P(TrendTest, EveryMonthIsTheReportsFigureAndAMonthWithoutFiguresStaysBlank)
{
    for (const QString& region : {kTown, QStringLiteral("450121101201")}) {
        SCOPED_TRACE(region.toStdString());
        const QString out = tmp.filePath(QStringLiteral("trend.json"));
        ASSERT_EQ(runTrend(trend(region, QStringLiteral("202401"), QStringLiteral("202403"), out)), ExitDone);
        const QJsonObject json = QJsonDocument::fromJson(readFile(out)).object();
        const QJsonArray rows = json[u"rows"].toArray();
        const QJsonArray values = json[u"values"].toArray();
        // The scheme's order; the switched-off indicator is not there.
        ASSERT_EQ(rows.size(), 3);
        EXPECT_EQ(rows[0][0].toString(), u"0101");
        EXPECT_EQ(rows[1][0].toString(), u"0702");
        EXPECT_EQ(rows[2][0].toString(), u"0501");
        EXPECT_EQ(json[u"columns"].toArray()[3].toString(), u"2024年1月");

        for (int month = 1; month <= 3; ++month) {
            const QHash<QString, QString> report = reportCumulative(region, month);
            for (qsizetype r = 0; r < rows.size(); ++r) {
                const QString name = rows[r][2].toString();
                const QString shown = rows[r][2 + month].toString();
                const QJsonValue value = values[r][month - 1];
                SCOPED_TRACE(QStringLiteral("%1 month %2").arg(name).arg(month).toStdString());
                if (value.isNull()) {
                    EXPECT_EQ(shown, u"");
                    EXPECT_EQ(report.value(name), u"");
                } else if (value.toDouble() == 0) {
                    // The report blanks a zero; the trend keeps the point.
                    EXPECT_TRUE(shown == u"0.00" || shown == u"0%") << shown.toStdString();
                    EXPECT_EQ(report.value(name), u"");
                } else {
                    EXPECT_EQ(shown, report.value(name));
                }
            }
        }
        // February has no figure of the region: every value is blank, the
        // derived ratio too (the run itself writes it as 0).
        for (qsizetype r = 0; r < rows.size(); ++r)
            EXPECT_TRUE(values[r][1].isNull()) << rows[r][2].toString().toStdString();
    }

    // The town: January's ratio from the hook, March's real zeros.
    const QString out = tmp.filePath(QStringLiteral("trend.csv"));
    ASSERT_EQ(runTrend(trend(kTown, QStringLiteral("202401"), QStringLiteral("202403"), out)), ExitDone);
    const QByteArray csv = readFile(out);
    ASSERT_TRUE(csv.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(QString::fromUtf8(csv.mid(3)), QStringLiteral("代码,类型,项目,2024年1月,2024年2月,2024年3月\r\n"
                                                            "0101,资金,互助金总额,4500.00,,0.00\r\n"
                                                            "0702,比率,逾期率,4%,,0%\r\n"
                                                            "0501,借款,借款余额,1100.00,,600.00\r\n"));
}

TEST_P(TrendTest, RankingSortsSharesRanksAndTakesTheNextLevelDown)
{
    // The villages of a town (not its unit of 13 characters, not the town beside it).
    SqlHost host(sqlca(), shippedHooks());
    host.gs_kjqj = QStringLiteral("202612");
    RankRequest request{
        kScheme, kTown, QStringLiteral("白沙镇"), QStringLiteral("2024"), 1, QStringLiteral("0501")};
    Rank villages(host, request);
    ASSERT_TRUE(villages.prepare());
    EXPECT_EQ(villages.total(), 4);
    EXPECT_EQ(villages.caption(0), u"1/4 兰垌村");
    while (!villages.atEnd())
        ASSERT_TRUE(villages.next());
    QStringList order;
    for (const RankRow& r : villages.rows())
        order << QStringLiteral("%1 %2 %3")
                     .arg(r.rank)
                     .arg(r.code)
                     .arg(formatTrendValue(r.value, QStringLiteral("0.00")));
    EXPECT_EQ(order,
              (QStringList{QStringLiteral("1 450121101202 500.00"), QStringLiteral("2 450121101201 300.00"),
                           QStringLiteral("2 450121101203 300.00"), QStringLiteral("0 450121101204 ")}));
    EXPECT_EQ(villages.table().level, 12);

    // The towns of a county, through the command; each figure is the report's.
    const QString out = tmp.filePath(QStringLiteral("rank.json"));
    ASSERT_EQ(runRank(rank(QStringLiteral("450121"), QStringLiteral("1"), QStringLiteral("0501"), out)),
              ExitDone);
    const QJsonArray rows = QJsonDocument::fromJson(readFile(out)).object()[u"rows"].toArray();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(
        rows[0].toArray().toVariantList(),
        (QVariantList{QStringLiteral("1"), kTown, QStringLiteral("白沙镇"), QStringLiteral("1100.00")}));
    EXPECT_EQ(rows[1].toArray().toVariantList(),
              (QVariantList{QStringLiteral("2"), QStringLiteral("450121102"), QStringLiteral("安平镇"),
                            QStringLiteral("900.00")}));
    EXPECT_EQ(reportCumulative(QStringLiteral("450121102"), 1).value(QStringLiteral("借款余额")), u"900.00");

    // A village has no level below; an indicator the scheme switches off is refused.
    EXPECT_EQ(runRank(rank(QStringLiteral("450121101201"), QStringLiteral("1"), QStringLiteral("0501"), out)),
              ExitRefused);
    EXPECT_EQ(runRank(rank(kTown, QStringLiteral("1"), QStringLiteral("0601"), out)), ExitRefused);
    // Charts as pictures need the desktop's drawing, which the core lacks.
    EXPECT_EQ(runRank(rank(kTown, QStringLiteral("1"), QStringLiteral("0501"),
                           tmp.filePath(QStringLiteral("r.png")))),
              ExitUsage);
    EXPECT_EQ(runTrend(trend(kTown, QStringLiteral("202403"), QStringLiteral("202401"), out)), ExitUsage);
}

TEST_P(TrendTest, SpreadsheetHoldsTypedFiguresAndALiveChartOfThem)
{
    const QString out = tmp.filePath(QStringLiteral("trend.xlsx"));
    ASSERT_EQ(runTrend(trend(kTown, QStringLiteral("202401"), QStringLiteral("202403"), out)), ExitDone);
    const QString sheet = QString::fromUtf8(zipPart(out, QStringLiteral("xl/worksheets/sheet1.xml")));
    ASSERT_FALSE(sheet.isEmpty());
    // Row 4 is 互助金总额: 4500 as a number, February blank (no value), March 0.
    auto cell = [&](const QString& ref) {
        const QRegularExpression re(QStringLiteral("<c r=\"%1\"[^>]*?(/>|>.*?</c>)").arg(ref));
        return re.match(sheet).captured(0);
    };
    EXPECT_TRUE(cell(QStringLiteral("D4")).contains(QStringLiteral("<v>4500</v>")))
        << cell(QStringLiteral("D4")).toStdString();
    EXPECT_FALSE(cell(QStringLiteral("D4")).contains(QStringLiteral("t=\"s\"")));
    EXPECT_FALSE(cell(QStringLiteral("E4")).isEmpty());
    EXPECT_FALSE(cell(QStringLiteral("E4")).contains(QStringLiteral("<v>")));
    EXPECT_TRUE(cell(QStringLiteral("F4")).contains(QStringLiteral("<v>0</v>")));
    EXPECT_TRUE(cell(QStringLiteral("D5")).contains(QStringLiteral("<v>0.04</v>")));

    // Two charts (amounts, ratios) drawn from the sheet's cells, gaps for blanks.
    const QString amounts = QString::fromUtf8(zipPart(out, QStringLiteral("xl/charts/chart1.xml")));
    const QString ratios = QString::fromUtf8(zipPart(out, QStringLiteral("xl/charts/chart2.xml")));
    EXPECT_TRUE(amounts.contains(QStringLiteral("<c:lineChart>")));
    EXPECT_TRUE(amounts.contains(QStringLiteral("$D$4:$F$4")));
    EXPECT_TRUE(amounts.contains(QStringLiteral("$D$6:$F$6")));
    // Spelt out, so readers that do not assume the gap and the straight line agree.
    EXPECT_TRUE(amounts.contains(QStringLiteral("<c:dispBlanksAs val=\"gap\"/>")));
    EXPECT_EQ(amounts.count(QStringLiteral("<c:smooth val=\"0\"/>")), 2);
    EXPECT_TRUE(ratios.contains(QStringLiteral("$D$5:$F$5")));
    EXPECT_TRUE(ratios.contains(QStringLiteral("formatCode=\"0%\"")));

    // The ranking: a horizontal bar chart over the names and figures.
    const QString ranked = tmp.filePath(QStringLiteral("rank.xlsx"));
    ASSERT_EQ(runRank(rank(kTown, QStringLiteral("1"), QStringLiteral("0501"), ranked)), ExitDone);
    const QString bars = QString::fromUtf8(zipPart(ranked, QStringLiteral("xl/charts/chart1.xml")));
    EXPECT_TRUE(bars.contains(QStringLiteral("<c:barDir val=\"bar\"/>")));
    EXPECT_TRUE(bars.contains(QStringLiteral("$D$4:$D$7")));
}

// The workbooks as a spreadsheet program prints and draws them: the trend's
// table one page wide across the paper, its title and region line over the
// whole table and repeated on every page; 序号 and 名次 stored as numbers; the
// charts' value axes starting at 0, amounts with thousands separators under
// their unit (万元 once they are large), and each series in a colour of its own.
TEST_P(TrendTest, WorkbooksPrintOnePageWideAndChartFromZeroInTheirUnit)
{
    // Amounts in 元, large enough for 万元.
    db->exec(QStringLiteral("UPDATE s_zbfa SET zbms = ? WHERE zbbm IN ('0101', '0501')"),
             {QStringLiteral("各项资金之和（元）")});
    db->exec(QStringLiteral("UPDATE H_stat SET leiji = leiji * 100 WHERE zbbm = '0101'"));
    const QString out = tmp.filePath(QStringLiteral("trend.xlsx"));
    // A year: three text columns and twelve months.
    ASSERT_EQ(runTrend(trend(kTown, QStringLiteral("202401"), QStringLiteral("202412"), out)), ExitDone);
    const QString sheet = QString::fromUtf8(zipPart(out, QStringLiteral("xl/worksheets/sheet1.xml")));
    const QString workbook = QString::fromUtf8(zipPart(out, QStringLiteral("xl/workbook.xml")));
    EXPECT_TRUE(sheet.contains(QStringLiteral("<pageSetUpPr fitToPage=\"1\"/>"))) << sheet.toStdString();
    EXPECT_TRUE(sheet.contains(QStringLiteral("fitToHeight=\"0\"")));
    EXPECT_TRUE(sheet.contains(QStringLiteral("orientation=\"landscape\"")));
    EXPECT_TRUE(sheet.contains(QStringLiteral("<mergeCell ref=\"A1:O1\"/>")));
    EXPECT_TRUE(sheet.contains(QStringLiteral("<mergeCell ref=\"A2:O2\"/>")));
    EXPECT_TRUE(workbook.contains(QStringLiteral("'指标趋势分析'!$1:$3</definedName>")))
        << workbook.toStdString();
    EXPECT_FALSE(workbook.contains(QStringLiteral("$A:$"))) << "no columns repeated across pages";
    auto cell = [](const QString& xml, const QString& ref) {
        const QRegularExpression re(QStringLiteral("<c r=\"%1\"[^>]*?(/>|>.*?</c>)").arg(ref));
        return re.match(xml).captured(0);
    };
    EXPECT_TRUE(cell(sheet, QStringLiteral("A4")).contains(QStringLiteral("<v>1</v>")));
    EXPECT_FALSE(cell(sheet, QStringLiteral("A4")).contains(QStringLiteral("t=\"s\"")));
    EXPECT_TRUE(cell(sheet, QStringLiteral("A6")).contains(QStringLiteral("<v>3</v>")));

    const QString amounts = QString::fromUtf8(zipPart(out, QStringLiteral("xl/charts/chart1.xml")));
    const QString ratios = QString::fromUtf8(zipPart(out, QStringLiteral("xl/charts/chart2.xml")));
    const QString amountAxis =
        amounts.section(QStringLiteral("<c:valAx>"), 1).section(QStringLiteral("</c:valAx>"), 0, 0);
    EXPECT_TRUE(amountAxis.contains(QStringLiteral("<c:min val=\"0\"/>"))) << amountAxis.toStdString();
    EXPECT_TRUE(amountAxis.contains(QStringLiteral("<a:t>万元</a:t>")));
    EXPECT_TRUE(amountAxis.contains(QStringLiteral("#\\,##0\\.0,")));
    EXPECT_TRUE(amounts.contains(QStringLiteral("1F77B4")) && amounts.contains(QStringLiteral("D62728")));
    EXPECT_TRUE(
        ratios.section(QStringLiteral("<c:valAx>"), 1).contains(QStringLiteral("<c:min val=\"0\"/>")));

    // The ranking: 名次 numbers, a blank for the village without a figure, bars from 0.
    const QString ranked = tmp.filePath(QStringLiteral("rank.xlsx"));
    ASSERT_EQ(runRank(rank(kTown, QStringLiteral("1"), QStringLiteral("0501"), ranked)), ExitDone);
    const QString rankSheet = QString::fromUtf8(zipPart(ranked, QStringLiteral("xl/worksheets/sheet1.xml")));
    EXPECT_TRUE(cell(rankSheet, QStringLiteral("A4")).contains(QStringLiteral("<v>1</v>")));
    EXPECT_FALSE(cell(rankSheet, QStringLiteral("A4")).contains(QStringLiteral("t=\"s\"")));
    EXPECT_FALSE(cell(rankSheet, QStringLiteral("A7")).contains(QStringLiteral("<v>")))
        << "寿溪村 has no figure";
    const QString bars = QString::fromUtf8(zipPart(ranked, QStringLiteral("xl/charts/chart1.xml")));
    const QString barAxis =
        bars.section(QStringLiteral("<c:valAx>"), 1).section(QStringLiteral("</c:valAx>"), 0, 0);
    EXPECT_TRUE(barAxis.contains(QStringLiteral("<c:min val=\"0\"/>"))) << barAxis.toStdString();
    EXPECT_TRUE(barAxis.contains(QStringLiteral("<a:t>元</a:t>")));
    EXPECT_TRUE(barAxis.contains(QStringLiteral("formatCode=\"#,##0\"")));
}

TEST_P(TrendTest, EachStepIsAWholeRunAndTheStepsStopWhereTheyAreLeft)
{
    // A village user in March: March's run refreshes the village first, as the report's would.
    // The host as the batch command has it, noting which routines ran.
    Recording<SqlHost> host(sqlca(), shippedHooks());
    host.gs_kjqj = QStringLiteral("202403");
    host.gs_userqybm = QStringLiteral("450121101201");
    TrendRequest request{kScheme,
                         QStringLiteral("450121101201"),
                         QStringLiteral("兰垌村"),
                         QStringLiteral("202401"),
                         QStringLiteral("202403"),
                         {QStringLiteral("0501"), QStringLiteral("0101")}};
    Trend trend(host, request);
    ASSERT_TRUE(trend.prepare());
    ASSERT_EQ(trend.total(), 3);
    EXPECT_EQ(trend.caption(1), u"2/3 2024年2月");
    // The indicators asked for, in the scheme's order.
    ASSERT_EQ(trend.table().rows.size(), 2);
    EXPECT_EQ(trend.table().rows[0].code, u"0101");
    EXPECT_EQ(trend.table().rows[1].code, u"0501");
    EXPECT_EQ(trend.table().unitLine, u"单位：兰垌村贫困社区互助社");

    ASSERT_TRUE(trend.next());
    const QString open = QStringLiteral("open w_message");
    const QString close = QStringLiteral("close w_message");
    const QString update = QStringLiteral("uf_update_report(T_stat,qichu,leiji)");
    EXPECT_EQ(host.calls, (QStringList{open, update, close}));
    // Cancelled here: the months not run stay without values.
    EXPECT_EQ(trend.done(), 1);
    EXPECT_EQ(formatTrendValue(trend.table().rows[1].values[0], QStringLiteral("0.00")), u"300.00");
    EXPECT_FALSE(trend.table().rows[1].values[2]);

    while (!trend.atEnd())
        ASSERT_TRUE(trend.next());
    EXPECT_EQ(host.calls,
              (QStringList{open, update, close, open, update, close, open, QStringLiteral("uf_zzye(0)"),
                           QStringLiteral("uf_yqmx(202403,0)"), QStringLiteral("uf_ysss(202403)"),
                           QStringLiteral("uf_allstats(450121101201,202403)"), update, close}));
    EXPECT_EQ(formatTrendValue(trend.table().rows[1].values[2], QStringLiteral("0.00")), u"400.00");

    // What the screen and the command refuse, with the reason.
    auto refusal = [&](TrendRequest r) {
        Trend t(host, std::move(r));
        const TrendStep step = t.prepare();
        EXPECT_EQ(step.kind, TrendStep::Refused);
        return step.message;
    };
    TrendRequest off = request;
    off.indicators = {QStringLiteral("0601")};
    EXPECT_TRUE(refusal(off).contains(u"0601"));
    TrendRequest backwards = request;
    std::swap(backwards.from, backwards.to);
    EXPECT_FALSE(refusal(backwards).isEmpty());
    TrendRequest noRegion = request;
    noRegion.region.clear();
    EXPECT_EQ(refusal(noRegion), u"请选择查询区域");
    TrendRequest noScheme = request;
    noScheme.scheme = QStringLiteral("没有的方案");
    EXPECT_TRUE(refusal(noScheme).contains(u"没有的方案"));
}

TEST_P(TrendTest, CtrlCStopsAfterTheRunBeingMadeAndWritesNothing)
{
    const QString out = tmp.filePath(QStringLiteral("long.json"));
    QProcess p;
    p.start(allstatsExecutable(),
            trend(kTown, QStringLiteral("202401"), QStringLiteral("209912"), out).arguments());
    ASSERT_TRUE(p.waitForStarted(30000));
    p.setReadChannel(QProcess::StandardError);
    // The first month's progress line, then Ctrl-C.
    QByteArray progress;
    while (!progress.contains("1/912 2024年1月\n") && p.waitForReadyRead(30000))
        progress += p.readAllStandardError();
    ASSERT_TRUE(progress.contains("1/912 2024年1月\n")) << progress.toStdString();
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), ExitInterrupted);
    EXPECT_TRUE(p.readAllStandardError().contains("trend: stopped after"));
    EXPECT_FALSE(QFile::exists(out));
}

ALLSTATS_ON_ALL_BACKENDS(TrendTest);

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
// What a save of the catalogue does to the reports, on both backends: a code
// that schemes or figures use cannot change (the indicator would drop out of
// every report), and renamed indicators reach the schemes' copies only when
// the user says so, in the save's own transaction. The report of 郑州市 (the
// seed's 月报) is read before and after.
#include "catalogue/d_guideline.h"
#include "foundation/gridbuffer.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"
#include "report/tidy.h"
#include "support/hosts.h"
#include "support/seed.h"
#include "support/testdb.h"

namespace {

class CatalogueSaveTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (!db)
            return;
        seed::monthlyReport(*db);
    }

    // The catalogue grid as the screen has it, its question answered by `follow`.
    std::unique_ptr<GridBuffer> catalogue()
    {
        auto grid = std::make_unique<GridBuffer>(d_guideline());
        grid->SetTransObject(&sqlca());
        attachGuidelineChecks(*grid, [this] {
            ++asked;
            return follow;
        });
        EXPECT_GE(grid->Retrieve(), 4);
        return grid;
    }
    static long rowOf(const GridBuffer& grid, const QString& code)
    {
        for (long r = 1; r <= grid.RowCount(); ++r)
            if (grid.GetItemOriginal(r, QStringLiteral("number")).toString() == code)
                return r;
        return 0;
    }
    // The names the report of 郑州市 in September 2024 shows, in its order.
    QStringList report()
    {
        RecordingHost host(sqlca());
        GridBuffer grid(d_xmjdzl());
        attachReportTidying(grid);
        ReportRequest r;
        r.region = seed::kRegion;
        r.regionName = seed::kRegionName;
        r.year = seed::kYear;
        r.month = seed::kMonth;
        r.scheme = seed::kScheme;
        const RunOutcome o = runStatistics(host, grid, r);
        EXPECT_EQ(o.kind, RunOutcome::Done) << o.message.toStdString();
        QStringList names;
        for (long row = 1; row <= grid.RowCount(); ++row)
            names << grid.GetItemString(row, QStringLiteral("s_zbfa_zbmc"));
        return names;
    }
    QString stored(const QString& sql, const QVariantList& binds)
    {
        return sqlca().selectValue(sql, binds).toString();
    }
    // Makes the database refuse every UPDATE of s_zbfa.
    void refuseSchemeUpdates()
    {
        if (GetParam() == Backend::SQLite) {
            db->exec(QStringLiteral("CREATE TRIGGER refuse_update BEFORE UPDATE ON s_zbfa "
                                    "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END"));
        } else {
            db->exec(
                QStringLiteral("CREATE OR REPLACE FUNCTION refuse_row() RETURNS trigger LANGUAGE plpgsql AS "
                               "$$ BEGIN RAISE EXCEPTION 'refused by the test'; END $$"));
            db->exec(QStringLiteral("CREATE TRIGGER refuse_update BEFORE UPDATE ON s_zbfa FOR EACH ROW "
                                    "EXECUTE FUNCTION refuse_row()"));
        }
    }

    int asked = 0;
    bool follow = false;
};

const QStringList kReport = {QStringLiteral("互助金总额"), QStringLiteral("最大借款, \"单笔\""),
                             QStringLiteral("还款率"), QStringLiteral("逾期率")};

TEST_P(CatalogueSaveTest, ACodeInUseCannotChangeAndTheReportKeepsItsIndicator)
{
    ASSERT_EQ(report(), kReport);
    // An indicator only figures name, and one nothing uses.
    db->exec(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES "
                            "('0005', '资金', '旧指标', 1, 0), ('0006', '资金', '新指标', 1, 0)"));
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                            "('410101001001', '202407', '0005', 1, 0, 1), "
                            "('410101001001', '202408', '0005', 1, 0, 1)"));
    auto grid = catalogue();
    ASSERT_EQ(grid->RowCount(), 6);

    // 0003 is in 月报 and has figures: refused, naming both; the other edit waits with it.
    const long r3 = rowOf(*grid, QStringLiteral("0003"));
    const long r1 = rowOf(*grid, QStringLiteral("0001"));
    ASSERT_EQ(grid->SetText(r3, QStringLiteral("number"), QStringLiteral("0009")), 1);
    ASSERT_EQ(grid->SetText(r1, QStringLiteral("zbms"), QStringLiteral("新的说明")), 1);
    EXPECT_EQ(grid->Update(), -1);
    const QString why = sqlca().SQLErrText;
    EXPECT_TRUE(why.startsWith(
        QStringLiteral("指标“最大借款, \"单笔\"”（编码 0003）已在使用，不能把编码改为“0009”：\n"
                       "  指标方案：月报\n  统计数据：2 条（2024年9月）")))
        << why.toStdString();
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(grid->ModifiedCount(), 2) << "the edits stay for the user to put right";
    EXPECT_EQ(
        stored(QStringLiteral("SELECT count(*) FROM s_zbbm WHERE number = ?"), {QStringLiteral("0003")}),
        QStringLiteral("1"));
    EXPECT_TRUE(stored(QStringLiteral("SELECT zbms FROM s_zbbm WHERE number = ?"), {QStringLiteral("0001")})
                    .isEmpty())
        << "nothing is written when one row is refused";
    EXPECT_EQ(asked, 0) << "a refused save asks nothing";

    // Figures alone, or a scheme alone, hold a code too; each is named with its periods or schemes.
    ASSERT_EQ(grid->SetText(r3, QStringLiteral("number"), QStringLiteral("0003")), 1);
    ASSERT_EQ(
        grid->SetText(rowOf(*grid, QStringLiteral("0005")), QStringLiteral("number"), QStringLiteral("0015")),
        1);
    ASSERT_EQ(
        grid->SetText(rowOf(*grid, QStringLiteral("0004")), QStringLiteral("number"), QStringLiteral("0014")),
        1);
    EXPECT_EQ(grid->Update(), -1);
    EXPECT_TRUE(sqlca().SQLErrText.contains(
        QStringLiteral("指标“旧指标”（编码 0005）已在使用，不能把编码改为“0015”：\n"
                       "  统计数据：2 条（2024年7月—2024年8月）")))
        << sqlca().SQLErrText.toStdString();
    EXPECT_TRUE(sqlca().SQLErrText.contains(
        QStringLiteral("指标“逾期率”（编码 0004）已在使用，不能把编码改为“0014”：\n"
                       "  指标方案：月报\n\n")))
        << sqlca().SQLErrText.toStdString();
    EXPECT_EQ(report(), kReport);

    // A code nothing uses may change; the save goes through with the other edits.
    ASSERT_EQ(
        grid->SetText(rowOf(*grid, QStringLiteral("0005")), QStringLiteral("number"), QStringLiteral("0005")),
        1);
    ASSERT_EQ(
        grid->SetText(rowOf(*grid, QStringLiteral("0004")), QStringLiteral("number"), QStringLiteral("0004")),
        1);
    ASSERT_EQ(
        grid->SetText(rowOf(*grid, QStringLiteral("0006")), QStringLiteral("number"), QStringLiteral("0007")),
        1);
    EXPECT_EQ(grid->Update(), 1) << sqlca().SQLErrText.toStdString();
    EXPECT_EQ(stored(QStringLiteral("SELECT zbmc FROM s_zbbm WHERE number = ?"), {QStringLiteral("0007")}),
              QStringLiteral("新指标"));
    EXPECT_EQ(stored(QStringLiteral("SELECT zbms FROM s_zbbm WHERE number = ?"), {QStringLiteral("0001")}),
              QStringLiteral("新的说明"));
    EXPECT_EQ(report(), kReport);
}

TEST_P(CatalogueSaveTest, RenamedIndicatorsReachTheSchemesOnlyWhenTheUserSaysSo)
{
    // The scheme keeps a type of its own for 0001.
    db->exec(QStringLiteral("UPDATE s_zbfa SET zblx = '本方案自定' WHERE zbbm = '0001'"));
    db->exec(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES "
                            "('0006', '资金', '无方案指标', 1, 0)"));
    auto grid = catalogue();
    auto schemeCopy = [this](const QString& column, const QString& code) {
        return stored(QStringLiteral("SELECT %1 FROM s_zbfa WHERE zbbm = ?").arg(column), {code});
    };

    // An indicator no scheme holds: renamed without a question.
    ASSERT_EQ(
        grid->SetText(rowOf(*grid, QStringLiteral("0006")), QStringLiteral("zbmc"), QStringLiteral("改名")),
        1);
    ASSERT_EQ(grid->Update(), 1);
    EXPECT_EQ(asked, 0);

    // Two renamed indicators the scheme holds: asked once; 否 keeps the copies.
    const long r1 = rowOf(*grid, QStringLiteral("0001"));
    const long r2 = rowOf(*grid, QStringLiteral("0002"));
    ASSERT_EQ(grid->SetText(r1, QStringLiteral("zbmc"), QStringLiteral("互助金总规模")), 1);
    ASSERT_EQ(grid->SetText(r2, QStringLiteral("zbms"), QStringLiteral("按期还款的比例")), 1);
    follow = false;
    ASSERT_EQ(grid->Update(), 1) << sqlca().SQLErrText.toStdString();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(stored(QStringLiteral("SELECT zbmc FROM s_zbbm WHERE number = ?"), {QStringLiteral("0001")}),
              QStringLiteral("互助金总规模"));
    EXPECT_EQ(schemeCopy(QStringLiteral("zbmc"), QStringLiteral("0001")), QStringLiteral("互助金总额"));
    EXPECT_EQ(report(), kReport);

    // A failing copy undoes the whole save: the catalogue keeps its name, the grid its edit.
    ASSERT_EQ(grid->SetText(r1, QStringLiteral("zbmc"), QStringLiteral("互助金规模合计")), 1);
    follow = true;
    refuseSchemeUpdates();
    EXPECT_EQ(grid->Update(), -1);
    EXPECT_TRUE(sqlca().SQLErrText.contains(QStringLiteral("refused by the test")))
        << sqlca().SQLErrText.toStdString();
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(stored(QStringLiteral("SELECT zbmc FROM s_zbbm WHERE number = ?"), {QStringLiteral("0001")}),
              QStringLiteral("互助金总规模"));
    EXPECT_EQ(grid->ModifiedCount(), 1);
    db->exec(GetParam() == Backend::SQLite ? QStringLiteral("DROP TRIGGER refuse_update")
                                           : QStringLiteral("DROP TRIGGER refuse_update ON s_zbfa"));

    // 是: the changed texts reach the copies in the save; the scheme's own type stays.
    asked = 0;
    ASSERT_EQ(grid->Update(), 1) << sqlca().SQLErrText.toStdString();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(schemeCopy(QStringLiteral("zbmc"), QStringLiteral("0001")), QStringLiteral("互助金规模合计"));
    EXPECT_EQ(schemeCopy(QStringLiteral("zblx"), QStringLiteral("0001")), QStringLiteral("本方案自定"));
    EXPECT_EQ(schemeCopy(QStringLiteral("zbms"), QStringLiteral("0002")), QString())
        << "the description of 0002 was saved while the copies stayed";
    EXPECT_EQ(report(), (QStringList{QStringLiteral("互助金规模合计"), kReport[1], kReport[2], kReport[3]}));
}

ALLSTATS_ON_ALL_BACKENDS(CatalogueSaveTest);

} // namespace

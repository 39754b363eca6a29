// SPDX-License-Identifier: GPL-3.0-or-later
// The report screen driven through its controls by objectName, on both backends,
// with a scripted message service and a recording host.
#include "foundation/decimal.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/messages.h"
#include "menus/m_report.h"
#include "report/ui/regionbox.h"
#include "report/ui/w_xmjdzl.h"
#include "support/fakehost.h"
#include "support/testdb.h"
#include "testwindows.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QDate>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

namespace {

class ReportScreenTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (IsSkipped())
            return;
        host = std::make_unique<FakeHost>(sqlca());
        host->gs_kjqj = QStringLiteral("202409");
        host->gs_userqybm = QStringLiteral("45");
        db->exec(
            QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('45', ' 青山省 '), ('4501', '北岭市'), "
                           "(' 450101001001 ', ' 东坡村 '), ('450101001002', '西坡村')"));
        db->exec(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES "
                                "('0001', '规模', '互助金总额', 1, 0), ('0002', '规模', '入社农户', 1, 0), "
                                "('0003', '质量', '最大单笔借款', 3, 0), ('0004', '质量', '逾期率', 0, 1)"));
        const QString scheme =
            QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, deffa, xz, flag2) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        const QList<QVariantList> rows = {
            {1, 1, QStringLiteral("预设方案"), 10, QStringLiteral("0001"), QStringLiteral("规模"),
             QStringLiteral("互助金总额"), 0, 1, 0},
            {1, 1, QStringLiteral("预设方案"), 20, QStringLiteral("0002"), QStringLiteral("规模"),
             QStringLiteral("入社农户"), 0, 1, 0},
            {1, 1, QStringLiteral("预设方案"), 30, QStringLiteral("0003"), QStringLiteral("质量"),
             QStringLiteral("最大单笔借款"), 0, 1, 0},
            {1, 1, QStringLiteral("预设方案"), 40, QStringLiteral("0004"), QStringLiteral("质量"),
             QStringLiteral("逾期率"), 0, 1, 1},
            {1, 2, QStringLiteral("简要方案"), 10, QStringLiteral("0002"), QStringLiteral("规模"),
             QStringLiteral("入社农户"), 1, 1, 0},
            {1, 2, QStringLiteral("简要方案"), 20, QStringLiteral("0001"), QStringLiteral("规模"),
             QStringLiteral("互助金总额"), 1, 0, 0},
        };
        for (const QVariantList& r : rows)
            db->exec(scheme, r);
        const QString fig = QStringLiteral(
            "INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES (?, ?, ?, ?, ?, ?)");
        for (const QString& unit : {QStringLiteral("450101001001"), QStringLiteral("450101001002")}) {
            db->exec(fig, {unit, QStringLiteral("202409"), QStringLiteral("0001"), QStringLiteral("100.10"),
                           QStringLiteral("5.25"), QStringLiteral("105.35")});
            db->exec(fig, {unit, QStringLiteral("202409"), QStringLiteral("0002"), 30, 2, 32});
            db->exec(fig, {unit, QStringLiteral("202409"), QStringLiteral("0003"),
                           unit.endsWith(u'1') ? 8000 : 9000, 0, 0});
        }
        db->exec(fig,
                 {QStringLiteral("450101001001"), QStringLiteral("202408"), QStringLiteral("0001"), 1, 1, 1});
    }
    void TearDown() override
    {
        window.reset();
        host.reset();
        BackendTest::TearDown();
    }
    w_xmjdzl& open()
    {
        window = std::make_unique<w_xmjdzl>(*host);
        EXPECT_TRUE(window->Open());
        return *window;
    }
    template <typename T> T* child(const char* name)
    {
        return window->findChild<T*>(QString::fromLatin1(name));
    }

    ScriptedMessageService boxes;
    ScopedMessages scoped{&boxes};
    std::unique_ptr<FakeHost> host;
    std::unique_ptr<w_xmjdzl> window;
};

TEST_P(ReportScreenTest, PeriodListsOpenOnTheSessionPeriod)
{
    const int thisYear = QDate::currentDate().year();
    const QString lastDecember = QString::number(thisYear - 1) + QStringLiteral("12");
    for (const auto& [period, year, month] : QList<std::tuple<QString, QString, QString>>{
             {QStringLiteral("202409"), QStringLiteral("2024"), QStringLiteral("9")},
             {lastDecember, QString::number(thisYear - 1), QStringLiteral("12")},
             {QStringLiteral("202501"), QStringLiteral("2025"), QStringLiteral("1")},
             {QString(), QString::number(thisYear), QStringLiteral("1")}}) {
        host->gs_kjqj = period;
        open();
        auto* years = child<QComboBox>("ddlb_1");
        auto* months = child<QComboBox>("ddlb_2");
        ASSERT_TRUE(years && months);
        EXPECT_EQ(years->count(), thisYear - 2006 + 1);
        EXPECT_EQ(years->itemText(0), QStringLiteral("2006"));
        EXPECT_EQ(years->currentText(), year) << period.toStdString();
        EXPECT_EQ(months->count(), 12);
        EXPECT_EQ(months->currentText(), month) << period.toStdString();
    }
    // The first query on a December period in January reads that December.
    host->gs_kjqj = QStringLiteral("202312");
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) "
                            "VALUES ('450101001002', '202312', '0001', 12, 0, 0)"));
    open();
    child<QComboBox>("ddlb_3")->setCurrentText(QStringLiteral("预设方案"));
    child<QPushButton>("cb_1")->click();
    GridBuffer& grid = child<GridView>("dw_1")->buffer();
    EXPECT_EQ(grid.text(QStringLiteral("t_qijian")), QStringLiteral("报表期间：2023年12月"));
    ASSERT_GE(grid.RowCount(), 1);
    EXPECT_EQ(grid.displayText(1, QStringLiteral("qichu")), QStringLiteral("12.00"));
}

TEST_P(ReportScreenTest, TwoRegionsOfOneNameAreToldApartAndEachGivesItsOwnFigures)
{
    db->exec(
        QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('450101', '城关镇'), ('450102', '河口镇'), "
                       "('450102001001', '东坡村')"));
    db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) "
                            "VALUES ('450102001001', '202409', '0001', 7, 0, 0)"));
    open();
    auto* box = child<RegionBox>("em_1");
    child<QComboBox>("ddlb_3")->setCurrentText(QStringLiteral("预设方案"));
    child<QComboBox>("ddlb_1")->setCurrentText(QStringLiteral("2024"));
    child<QComboBox>("ddlb_2")->setCurrentText(QStringLiteral("9"));
    // The list tells the two villages apart.
    QList<int> dongpo;
    for (int i = 0; i < box->count(); ++i)
        if (box->itemText(i) == QStringLiteral("东坡村"))
            dongpo << i;
    ASSERT_EQ(dongpo.size(), 2);
    EXPECT_EQ(box->itemLabel(dongpo[0]), QStringLiteral("东坡村 · 城关镇 450101001001"));
    EXPECT_EQ(box->itemLabel(dongpo[1]), QStringLiteral("东坡村 · 河口镇 450102001001"));
    EXPECT_EQ(box->itemLabel(box->findData(QStringLiteral("4501"))), QStringLiteral("北岭市 · 青山省 4501"));

    GridBuffer& grid = child<GridView>("dw_1")->buffer();
    auto figureOf = [&] {
        child<QPushButton>("cb_1")->click();
        EXPECT_EQ(grid.text(QStringLiteral("t_qymc")), QStringLiteral("单位：东坡村贫困社区互助社"));
        return grid.RowCount() > 0 ? grid.displayText(1, QStringLiteral("qichu")) : QString();
    };
    // Chosen from the list: the second of the name, then the first again.
    box->setCurrentIndex(dongpo[1]);
    EXPECT_EQ(box->GetData(), QStringLiteral("450102001001"));
    EXPECT_EQ(figureOf(), QStringLiteral("7.00"));
    box->setCurrentIndex(dongpo[0]);
    EXPECT_EQ(box->GetData(), QStringLiteral("450101001001"));
    EXPECT_EQ(figureOf(), QStringLiteral("100.10"));
    // Enter in the box keeps the village chosen.
    box->setCurrentIndex(dongpo[1]);
    window->show();
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(box->GetData(), QStringLiteral("450102001001"));
    // Typed by code.
    box->lineEdit()->setText(QStringLiteral("450102001001"));
    emit box->lineEdit()->editingFinished();
    EXPECT_EQ(box->text(), QStringLiteral("东坡村"));
    EXPECT_EQ(box->GetData(), QStringLiteral("450102001001"));
    EXPECT_EQ(figureOf(), QStringLiteral("7.00"));
    // Through the picker.
    box->setText(QStringLiteral("45"));
    host->pickerAnswer = QStringLiteral("450102001001");
    child<QPushButton>("cb_qy")->click();
    EXPECT_EQ(box->text(), QStringLiteral("东坡村"));
    EXPECT_EQ(box->GetData(), QStringLiteral("450102001001"));
    EXPECT_EQ(figureOf(), QStringLiteral("7.00"));
}

TEST_P(ReportScreenTest, TypingFiltersTheRegionListByCodeOrNameInTheTreesOrder)
{
    db->exec(
        QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('4502', '南岭市'), ('450101', '城关镇')"));
    open();
    window->show();
    auto* box = child<RegionBox>("em_1");
    ASSERT_TRUE(box);
    // Every region under the one above it, named with it and its code.
    QStringList labels;
    for (int i = 0; i < box->count(); ++i)
        labels << box->itemLabel(i);
    EXPECT_EQ(labels, (QStringList{QStringLiteral("青山省 45"), QStringLiteral("北岭市 · 青山省 4501"),
                                   QStringLiteral("城关镇 · 北岭市 450101"),
                                   QStringLiteral("东坡村 · 城关镇 450101001001"),
                                   QStringLiteral("西坡村 · 城关镇 450101001002"),
                                   QStringLiteral("南岭市 · 青山省 4502")}));

    // Typing opens the list of the regions it leaves: by any part of the name, or by the code's start.
    QLineEdit* edit = box->lineEdit();
    box->setFocus();
    QAbstractItemView* list = box->completer()->popup();
    auto typed = [&](const QString& text) {
        edit->clear();
        typeText(edit, text);
        QStringList codes;
        const QAbstractItemModel* m = box->completer()->completionModel();
        for (int r = 0; r < m->rowCount(); ++r)
            codes << m->index(r, 0).data(Qt::UserRole).toString();
        EXPECT_TRUE(list->isVisible()) << text.toStdString();
        return codes;
    };
    EXPECT_EQ(typed(QStringLiteral("坡")),
              (QStringList{QStringLiteral("450101001001"), QStringLiteral("450101001002")}));
    EXPECT_EQ(typed(QStringLiteral("45010")),
              (QStringList{QStringLiteral("450101"), QStringLiteral("450101001001"),
                           QStringLiteral("450101001002")}));
    EXPECT_EQ(typed(QStringLiteral("岭")), (QStringList{QStringLiteral("4501"), QStringLiteral("4502")}));

    // Chosen from it, the second of "坡": its name shows, its code is what the box yields.
    typed(QStringLiteral("坡"));
    list->setCurrentIndex(list->model()->index(1, 0));
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(box->text(), QStringLiteral("西坡村"));
    EXPECT_EQ(box->GetData(), QStringLiteral("450101001002"));

    // Part of a name that leaves one region chooses it on leaving the box; a code still shows its name.
    typed(QStringLiteral("南岭"));
    emit edit->editingFinished();
    EXPECT_EQ(box->text(), QStringLiteral("南岭市"));
    EXPECT_EQ(box->GetData(), QStringLiteral("4502"));
    typed(QStringLiteral("450101"));
    emit edit->editingFinished();
    EXPECT_EQ(box->text(), QStringLiteral("城关镇"));

    // A user's region bounds the list; the region above it is still named.
    box->loadCodeTable(sqlca(), QStringLiteral("4501"));
    labels.clear();
    for (int i = 0; i < box->count(); ++i)
        labels << box->itemLabel(i);
    EXPECT_EQ(labels,
              (QStringList{QStringLiteral("北岭市 · 青山省 4501"), QStringLiteral("城关镇 · 北岭市 450101"),
                           QStringLiteral("东坡村 · 城关镇 450101001001"),
                           QStringLiteral("西坡村 · 城关镇 450101001002")}));
    EXPECT_EQ(typed(QStringLiteral("岭")), QStringList{QStringLiteral("4501")});
}

TEST_P(ReportScreenTest, UnknownRegionIsRefusedAndAPeriodWithoutFiguresIsSaid)
{
    open();
    auto* box = child<RegionBox>("em_1");
    child<QComboBox>("ddlb_3")->setCurrentText(QStringLiteral("预设方案"));
    child<QComboBox>("ddlb_1")->setCurrentText(QStringLiteral("2024"));
    child<QComboBox>("ddlb_2")->setCurrentText(QStringLiteral("9"));
    GridBuffer& grid = child<GridView>("dw_1")->buffer();
    // A code s_qybm does not hold runs nothing.
    box->lineEdit()->setText(QStringLiteral("4599"));
    emit box->lineEdit()->editingFinished();
    child<QPushButton>("cb_1")->click();
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].title, QStringLiteral("提示信息"));
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("找不到区域“4599”，请重新选择查询区域"));
    EXPECT_EQ(host->count(QStringLiteral("uf_update_report")), 0);
    EXPECT_EQ(grid.RowCount(), 0);
    // A known region in a period without figures: the report as the run makes
    // it, and the status bar says why it is empty.
    auto* status = child<QLabel>("st_status");
    ASSERT_TRUE(status);
    box->setText(QStringLiteral("4501"));
    child<QComboBox>("ddlb_2")->setCurrentText(QStringLiteral("7"));
    child<QPushButton>("cb_1")->click();
    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(host->count(QStringLiteral("uf_update_report")), 1);
    EXPECT_EQ(grid.RowCount(), 1); // the zero row of 逾期率
    EXPECT_EQ(grid.text(QStringLiteral("t_qymc")), QStringLiteral("项目区：北岭市"));
    EXPECT_EQ(status->text(), QStringLiteral("2024年7月没有“北岭市”的统计数据"));
    // The report area says so too, under the rows.
    window->show();
    QCoreApplication::processEvents();
    auto* line = child<QLabel>("st_nodata");
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->isVisible());
    EXPECT_EQ(line->text(), QStringLiteral("2024年7月 北岭市 没有统计数据"));
    QTableView* table = child<GridView>("dw_1")->table();
    EXPECT_EQ(line->parentWidget(), table->viewport());
    EXPECT_GT(line->geometry().top(), table->visualRect(table->model()->index(0, 0)).bottom());
    // A period with figures clears both.
    child<QComboBox>("ddlb_2")->setCurrentText(QStringLiteral("9"));
    child<QPushButton>("cb_1")->click();
    EXPECT_EQ(grid.RowCount(), 4);
    EXPECT_TRUE(status->text().isEmpty());
    EXPECT_FALSE(line->isVisible());
}

TEST_P(ReportScreenTest, ReportGridTabsThroughTheFiguresBeforeTypeAndItem)
{
    open();
    child<QComboBox>("ddlb_3")->setCurrentText(QStringLiteral("预设方案"));
    child<QComboBox>("ddlb_1")->setCurrentText(QStringLiteral("2024"));
    child<QPushButton>("cb_1")->click();
    window->show();
    QTableView* t = child<GridView>("dw_1")->table();
    ASSERT_GE(t->model()->rowCount(), 2);
    QAbstractItemModel* m = t->model();
    auto header = [&](const QModelIndex& i) { return m->headerData(i.column(), Qt::Horizontal).toString(); };
    t->setCurrentIndex(m->index(0, 0));
    QStringList walk;
    for (int i = 0; i < 6; ++i) {
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(t, &tab);
        walk << QStringLiteral("%1:%2").arg(t->currentIndex().row()).arg(header(t->currentIndex()));
    }
    EXPECT_EQ(walk,
              (QStringList{QStringLiteral("0:期初数"), QStringLiteral("0:发生数"), QStringLiteral("0:累计数"),
                           QStringLiteral("0:类型"), QStringLiteral("0:项目"), QStringLiteral("1:期初数")}));
    // Shown left to right as before: number, type, item, the three figures.
    QStringList shown;
    for (int v = 0; v < m->columnCount(); ++v) {
        const int logical = t->horizontalHeader()->logicalIndex(v);
        if (!t->isColumnHidden(logical))
            shown << m->headerData(logical, Qt::Horizontal).toString();
    }
    EXPECT_EQ(shown,
              (QStringList{QStringLiteral("序号"), QStringLiteral("类型"), QStringLiteral("项目"),
                           QStringLiteral("期初数"), QStringLiteral("发生数"), QStringLiteral("累计数")}));
}

TEST_P(ReportScreenTest, RegionBoxShowsTrimmedNamesAndTurnsCodesIntoNames)
{
    open();
    auto* box = child<RegionBox>("em_1");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text(), QStringLiteral("青山省"));
    EXPECT_EQ(box->GetData(), QStringLiteral("45"));
    // A code typed by hand shows as the region's name once the user leaves the box.
    box->lineEdit()->setText(QStringLiteral("450101001001"));
    emit box->lineEdit()->editingFinished();
    EXPECT_EQ(box->text(), QStringLiteral("东坡村"));
    EXPECT_EQ(box->GetData(), QStringLiteral("450101001001"));
    // Any other text stays as typed.
    box->lineEdit()->setText(QStringLiteral("某地"));
    emit box->lineEdit()->editingFinished();
    EXPECT_EQ(box->text(), QStringLiteral("某地"));
    // The picker's code.
    host->pickerAnswer = QStringLiteral("4501");
    child<QPushButton>("cb_qy")->click();
    EXPECT_EQ(box->text(), QStringLiteral("北岭市"));
    EXPECT_EQ(host->count(QStringLiteral("w_xmqxz")), 1);
    // A cancelled picker leaves the box alone.
    host->pickerAnswer.clear();
    child<QPushButton>("cb_qy")->click();
    EXPECT_EQ(box->text(), QStringLiteral("北岭市"));
}

TEST_P(ReportScreenTest, SchemeListHoldsKindOneSchemesAndPrefersTheDefault)
{
    db->exec(QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, deffa, xz) VALUES (2, 1, "
                            "'别类方案', 10, '0001', 1, 1)"));
    open();
    auto* schemes = child<QComboBox>("ddlb_3");
    QStringList names;
    for (int i = 0; i < schemes->count(); ++i)
        names << schemes->itemText(i);
    EXPECT_EQ(names, (QStringList{QStringLiteral("预设方案"), QStringLiteral("简要方案")}));
    EXPECT_EQ(schemes->currentText(), QStringLiteral("简要方案"));
}

TEST_P(ReportScreenTest, QueryChecksRegionAndSchemeFirst)
{
    open();
    child<RegionBox>("em_1")->setText(QString());
    child<QPushButton>("cb_1")->click();
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].title, QStringLiteral("提示信息"));
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("请选择查询区域"));
    child<RegionBox>("em_1")->setText(QStringLiteral("45"));
    child<QComboBox>("ddlb_3")->setCurrentIndex(-1);
    child<QPushButton>("cb_1")->click();
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[1].text, QStringLiteral("请选择指标方案"));
    EXPECT_TRUE(host->calls.filter(QStringLiteral("uf_")).filter(QStringLiteral("report")).isEmpty());
}

TEST_P(ReportScreenTest, AFullQueryFillsTheGridAndItsHeaders)
{
    open();
    child<QComboBox>("ddlb_3")->setCurrentText(QStringLiteral("预设方案"));
    child<QComboBox>("ddlb_1")->setCurrentText(QStringLiteral("2024"));
    child<QComboBox>("ddlb_2")->setCurrentText(QStringLiteral("9"));
    // Enter in the query column runs the default button.
    window->show();
    QTest::keyClick(child<QComboBox>("ddlb_2"), Qt::Key_Return);
    EXPECT_EQ(host->count(QStringLiteral("uf_update_report")), 1);
    host->calls.clear();
    QTest::keyClick(child<RegionBox>("em_1")->lineEdit(), Qt::Key_Enter);
    EXPECT_EQ(host->count(QStringLiteral("w_key")), 1);
    EXPECT_TRUE(boxes.shown().isEmpty());
    GridBuffer& grid = child<GridView>("dw_1")->buffer();
    ASSERT_EQ(grid.RowCount(), 4);
    EXPECT_EQ(grid.text(QStringLiteral("t_qijian")), QStringLiteral("报表期间：2024年9月"));
    EXPECT_EQ(grid.text(QStringLiteral("t_qymc")), QStringLiteral("项目区：青山省"));
    EXPECT_EQ(grid.GetItemString(1, QStringLiteral("s_zbfa_zbmc")), QStringLiteral("互助金总额"));
    EXPECT_EQ(grid.displayText(1, QStringLiteral("qichu")), QStringLiteral("200.20"));
    EXPECT_EQ(grid.displayText(1, QStringLiteral("leiji")), QStringLiteral("210.70"));
    EXPECT_EQ(grid.GetItemString(2, QStringLiteral("s_zbfa_zblx")), QStringLiteral(""));
    EXPECT_EQ(grid.displayText(3, QStringLiteral("qichu")), QStringLiteral("9000.00"));
    EXPECT_EQ(grid.displayText(3, QStringLiteral("fasheng")), QString()); // zero shows blank
    EXPECT_EQ(host->count(QStringLiteral("uf_update_report")), 1);
    // A village: the unit line names the mutual-aid society.
    child<RegionBox>("em_1")->setText(QStringLiteral("450101001002"));
    child<QPushButton>("cb_1")->click();
    EXPECT_EQ(grid.text(QStringLiteral("t_qymc")), QStringLiteral("单位：西坡村贫困社区互助社"));
    EXPECT_EQ(grid.displayText(1, QStringLiteral("qichu")), QStringLiteral("100.10"));
    // Another period.
    child<QComboBox>("ddlb_2")->setCurrentText(QStringLiteral("8"));
    child<RegionBox>("em_1")->setText(QStringLiteral("45"));
    child<QPushButton>("cb_1")->click();
    EXPECT_EQ(grid.text(QStringLiteral("t_qijian")), QStringLiteral("报表期间：2024年8月"));
    ASSERT_EQ(grid.RowCount(), 2); // the zero row of 逾期率 and the one figure of August
}

TEST_P(ReportScreenTest, RefreshRunsOnlyForTheCurrentPeriodOfAVillageUser)
{
    struct Case
    {
        QString userRegion;
        QString month;
        int refreshes;
    };
    const QList<Case> cases = {{QStringLiteral("450101001001"), QStringLiteral("9"), 1},
                               {QStringLiteral("450101001001"), QStringLiteral("8"), 0},
                               {QStringLiteral("4501"), QStringLiteral("9"), 0},
                               {QStringLiteral("4501010010011"), QStringLiteral("9"), 0}};
    // A region of 13 characters: s_qybm must hold it, or the query is refused.
    db->exec(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('4501010010011', '试点')"));
    for (const Case& c : cases) {
        host->calls.clear();
        host->gs_userqybm = c.userRegion;
        open();
        child<QComboBox>("ddlb_1")->setCurrentText(QStringLiteral("2024"));
        child<QComboBox>("ddlb_2")->setCurrentText(c.month);
        child<QPushButton>("cb_1")->click();
        const QStringList refresh = {QStringLiteral("uf_zzye"), QStringLiteral("uf_yqmx"),
                                     QStringLiteral("uf_ysss"), QStringLiteral("uf_allstats")};
        QStringList seen;
        for (const QString& call : host->names())
            if (refresh.contains(call))
                seen << call;
        EXPECT_EQ(seen, c.refreshes ? refresh : QStringList())
            << c.userRegion.toStdString() << " " << c.month.toStdString();
        EXPECT_EQ(host->count(QStringLiteral("uf_update_report")), 1);
    }
}

TEST_P(ReportScreenTest, SchemeButtonOpensTheEditorWithKindOne)
{
    open();
    child<QComboBox>("ddlb_3")->setCurrentText(QStringLiteral("预设方案"));
    child<QPushButton>("cb_2")->click();
    EXPECT_EQ(host->opened, QStringList{QStringLiteral("w_zbfa_set")});
    EXPECT_EQ(host->message.numberParm.toInt(), 1);
    // On the scheme chosen here.
    EXPECT_EQ(host->message.stringParm, QStringLiteral("预设方案"));
}

TEST_P(ReportScreenTest, HidingTheQueryAreaCoversItAndGivesTheWidthBack)
{
    open();
    window->resize(1400, 800);
    window->show();
    QCoreApplication::processEvents();
    auto* grid = child<GridView>("dw_1");
    auto* menu = qobject_cast<m_report*>(window->menu());
    ASSERT_TRUE(menu);
    const int before = grid->width();
    const QRect panel = child<QWidget>("gb_1")->geometry();
    menu->m_yccxq->click();
    EXPECT_GE(grid->geometry().right(), panel.right() - 2);
    // After a resize the widened grid still covers the panel.
    window->resize(1200, 700);
    QCoreApplication::processEvents();
    EXPECT_GE(grid->geometry().right(), child<QWidget>("gb_1")->geometry().right() - 2);
    menu->m_yccxq->click();
    EXPECT_LT(grid->geometry().right(), child<QWidget>("gb_1")->geometry().left());
    window->resize(1400, 800);
    QCoreApplication::processEvents();
    EXPECT_NEAR(grid->width(), before, 2);
}

ALLSTATS_ON_ALL_BACKENDS(ReportScreenTest);

} // namespace

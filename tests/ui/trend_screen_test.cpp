// SPDX-License-Identifier: GPL-3.0-or-later
// The trend screen on the demo province, on both backends: the figures it
// shows against the monthly report, stopping a run, the ranking, and the files
// and printout it writes.
#include "analysis/ui/w_trend.h"
#include "app/ui/desktophost.h"
#include "foundation/demo.h"
#include "foundation/gridbuffer.h"
#include "foundation/ui/menu.h"
#include "foundation/ui/messages.h"
#include "host/sqlhost.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"
#include "report/ui/regionbox.h"
#include "support/files.h"
#include "support/testdb.h"

#include <QAbstractBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QValueAxis>

namespace {

const QString kHooks = QStringLiteral(ALLSTATS_TEST_DATA "/../../hooks");
const QString kLast = QStringLiteral("202611"); // the demo's figures run from 202412 to 202611

class TrendScreenTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (IsSkipped())
            return;
        QString error;
        ASSERT_TRUE(demo::populate(sqlca(), kLast, &error)) << error.toStdString();
        host = std::make_unique<DesktopHost>(&sqlca(), kHooks);
        host->gs_kjqj = kLast;
        host->gs_userqybm = QStringLiteral("45");
    }
    void TearDown() override
    {
        w_trend::setPrintFolder(QString());
        window.reset();
        host.reset();
        BackendTest::TearDown();
    }

    w_trend& open()
    {
        window = std::make_unique<w_trend>(*host);
        EXPECT_TRUE(window->Open());
        return *window;
    }
    template <typename T> T* child(const char* name)
    {
        return window->findChild<T*>(QString::fromLatin1(name));
    }

    void check(const QStringList& names)
    {
        auto* list = child<QListWidget>("lb_zb");
        for (int i = 0; i < list->count(); ++i)
            list->item(i)->setCheckState(names.contains(list->item(i)->text()) ? Qt::Checked : Qt::Unchecked);
    }
    // Runs the trend of the region over the months and waits for its end.
    void runTrend(const QString& region, const QDate& from, const QDate& to, const QStringList& names)
    {
        child<RegionBox>("em_1")->setText(region);
        check(names);
        child<QDateEdit>("em_from")->setDate(from);
        child<QDateEdit>("em_to")->setDate(to);
        QSignalSpy finished(window.get(), &w_trend::runFinished);
        child<QPushButton>("cb_1")->click();
        ASSERT_TRUE(window->running());
        ASSERT_TRUE(finished.wait(300000));
    }
    // The 累计数 of an indicator as the monthly report shows it.
    QString reportFigure(const QString& region, const QString& regionName, int year, int month,
                         const QString& name)
    {
        SqlHost plain(sqlca(), kHooks);
        GridBuffer grid(d_xmjdzl());
        attachReportTidying(grid);
        grid.SetTransObject(&sqlca());
        const RunOutcome outcome = runStatistics(
            plain, grid,
            {region, regionName, QString::number(year), QString::number(month), QStringLiteral("预设方案")});
        EXPECT_EQ(outcome.kind, RunOutcome::Done) << outcome.message.toStdString();
        for (long r = 1; r <= grid.RowCount(); ++r)
            if (grid.GetItemString(r, QStringLiteral("s_zbfa_zbmc")) == name)
                return grid.displayText(r, QStringLiteral("leiji"));
        return QStringLiteral("<no row>");
    }

    ScriptedMessageService boxes;
    ScopedMessages scoped{&boxes};
    std::unique_ptr<DesktopHost> host;
    std::unique_ptr<w_trend> window;
};

TEST_P(TrendScreenTest, TrendShowsTheReportsFiguresEachMonthAndBlankWhereAMonthHasNone)
{
    open();
    // 202411 lies before the demo's first month.
    runTrend(QStringLiteral("4501"), QDate(2024, 11, 1), QDate(2025, 1, 1),
             {QStringLiteral("逾期率"), QStringLiteral("借款余额")});
    EXPECT_TRUE(boxes.shown().isEmpty()) << boxes.shown().value(0).text.toStdString();
    auto* table = child<QTableWidget>("dw_trend");
    ASSERT_EQ(table->columnCount(), 4);
    EXPECT_EQ(table->horizontalHeaderItem(1)->text(), QStringLiteral("2024年11月"));
    EXPECT_EQ(table->horizontalHeaderItem(3)->text(), QStringLiteral("2025年1月"));
    ASSERT_EQ(table->rowCount(), 2);
    // In the scheme's order, as the report lists them.
    EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("借款余额"));
    EXPECT_EQ(table->item(1, 0)->text(), QStringLiteral("逾期率"));
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(table->item(row, 1)->text(), QString()) << "a month without figures is blank, not 0";
        for (int col = 2; col <= 3; ++col) {
            const QString name = table->item(row, 0)->text();
            const QString report = reportFigure(QStringLiteral("4501"), QStringLiteral("石桥市"),
                                                col == 2 ? 2024 : 2025, col == 2 ? 12 : 1, name);
            const QString shown = table->item(row, col)->text();
            // The report blanks a zero that the trend keeps as a point of its line.
            if (report.isEmpty())
                EXPECT_TRUE(shown == u"0.00" || shown == u"0%") << shown.toStdString();
            else
                EXPECT_EQ(shown, report) << name.toStdString() << " column " << col;
            EXPECT_FALSE(shown.isEmpty());
        }
    }
    EXPECT_TRUE(table->item(1, 3)->text().endsWith(u'%'));

    // Both indicators are drawn, the ratio in percent on an axis of its own.
    QChart* chart = child<QChartView>("cv_trend")->chart();
    const QList<QAbstractAxis*> values = chart->axes(Qt::Vertical);
    ASSERT_EQ(values.size(), 2);
    int percentAxes = 0;
    for (QAbstractAxis* a : values)
        if (auto* v = qobject_cast<QValueAxis*>(a); v && v->labelFormat().endsWith(QStringLiteral("%%"))) {
            ++percentAxes;
            EXPECT_EQ(v->alignment(), Qt::AlignRight);
        }
    EXPECT_EQ(percentAxes, 1);

    // The bar chart shows the same run without running it again.
    child<QRadioButton>("rb_bar")->setChecked(true);
    bool bars = false;
    for (QAbstractSeries* s : child<QChartView>("cv_trend")->chart()->series())
        bars = bars || qobject_cast<QAbstractBarSeries*>(s);
    EXPECT_TRUE(bars);
}

TEST_P(TrendScreenTest, CancelStopsAfterTheMonthUnderWayAndShowsWhatWasRun)
{
    open();
    auto* bar = child<QProgressBar>("hpb_1");
    auto* cancel = child<QPushButton>("cb_cancel");
    QObject::connect(bar, &QProgressBar::valueChanged, cancel, [cancel](int value) {
        if (value == 1)
            cancel->click();
    });
    runTrend(QStringLiteral("4501"), QDate(2024, 12, 1), QDate(2026, 11, 1), {QStringLiteral("借款余额")});
    auto* table = child<QTableWidget>("dw_trend");
    ASSERT_EQ(table->columnCount(), 2) << "one month run, the 23 others left out";
    EXPECT_EQ(table->horizontalHeaderItem(1)->text(), QStringLiteral("2024年12月"));
    EXPECT_FALSE(table->item(0, 1)->text().isEmpty());
    EXPECT_EQ(child<QLabel>("st_progress")->text(), QStringLiteral("已取消：完成 1 / 24 个月"));
    EXPECT_FALSE(window->running());
    EXPECT_TRUE(child<QPushButton>("cb_1")->isEnabled());
    EXPECT_FALSE(cancel->isEnabled());

    // Nothing of the stopped run holds the working table: the next run goes through.
    QObject::disconnect(bar, nullptr, cancel, nullptr);
    runTrend(QStringLiteral("4501"), QDate(2026, 10, 1), QDate(2026, 11, 1), {QStringLiteral("借款余额")});
    EXPECT_EQ(table->columnCount(), 3);
    EXPECT_EQ(child<QLabel>("st_progress")->text(), QStringLiteral("完成：2 个月"));
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_P(TrendScreenTest, RankingListsTheVillagesOfATownHighestFirst)
{
    open();
    const QVariant town = sqlca().selectValue(
        QStringLiteral("SELECT min(qybm) FROM s_qybm WHERE qybm LIKE '4501%' AND length(qybm) = 9"));
    ASSERT_FALSE(town.isNull());
    const int villages =
        sqlca()
            .selectValue(
                QStringLiteral("SELECT count(*) FROM s_qybm WHERE qybm LIKE ? AND length(qybm) = 12"),
                {town.toString() + QStringLiteral("%")})
            .toInt();
    ASSERT_GT(villages, 1);
    child<QTabWidget>("tab_1")->setCurrentIndex(1);
    child<RegionBox>("em_1")->setText(town.toString());
    child<QDateEdit>("em_month")->setDate(QDate(2026, 11, 1));
    auto* indicator = child<QComboBox>("ddlb_zb");
    indicator->setCurrentIndex(indicator->findText(QStringLiteral("逾期率")));
    QSignalSpy finished(window.get(), &w_trend::runFinished);
    child<QPushButton>("cb_rank")->click();
    ASSERT_TRUE(finished.wait(300000));
    EXPECT_TRUE(boxes.shown().isEmpty()) << boxes.shown().value(0).text.toStdString();

    auto* table = child<QTableWidget>("dw_rank");
    ASSERT_EQ(table->rowCount(), villages);
    ASSERT_EQ(table->columnCount(), 4);
    EXPECT_EQ(table->horizontalHeaderItem(0)->text(), QStringLiteral("名次"));
    EXPECT_EQ(table->horizontalHeaderItem(3)->text(), QStringLiteral("逾期率"));
    double previous = 1e9;
    for (int r = 0; r < villages; ++r) {
        const QString code = table->item(r, 1)->text();
        EXPECT_EQ(code.size(), 12);
        EXPECT_TRUE(code.startsWith(town.toString()));
        const QString figure = table->item(r, 3)->text();
        ASSERT_TRUE(figure.endsWith(u'%')) << figure.toStdString();
        const double value = figure.chopped(1).toDouble();
        EXPECT_LE(value, previous) << "row " << r;
        if (r > 0 && value == previous)
            EXPECT_EQ(table->item(r, 0)->text(), table->item(r - 1, 0)->text())
                << "equal figures share a rank";
        else
            EXPECT_EQ(table->item(r, 0)->text(), QString::number(r + 1));
        previous = value;
    }
    // The first place is what that village's own report shows.
    EXPECT_EQ(table->item(0, 3)->text(), reportFigure(table->item(0, 1)->text(), table->item(0, 2)->text(),
                                                      2026, 11, QStringLiteral("逾期率")));
    // One bar per village.
    const QList<QAbstractSeries*> series = child<QChartView>("cv_rank")->chart()->series();
    ASSERT_EQ(series.size(), 1);
    auto* bars = qobject_cast<QAbstractBarSeries*>(series.first());
    ASSERT_TRUE(bars);
    EXPECT_EQ(bars->barSets().first()->count(), villages);

    // A village has no level below it: the ranking says so and does not start.
    boxes.clear();
    child<RegionBox>("em_1")->setText(table->item(0, 1)->text());
    child<QPushButton>("cb_rank")->click();
    EXPECT_FALSE(window->running());
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_TRUE(boxes.shown().first().text.contains(QStringLiteral("没有下级区域")))
        << boxes.shown().first().text.toStdString();
    EXPECT_EQ(table->rowCount(), villages) << "the last ranking stays shown";
}

TEST_P(TrendScreenTest, PrintPreviewPdfAndPictureOfTheShownTab)
{
    open();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Before a query there is nothing to write.
    window->menu()->item(QStringLiteral("m_打印"))->click();
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown().first().text, QStringLiteral("请先查询，再打印"));
    boxes.clear();

    runTrend(QStringLiteral("4501"), QDate(2025, 11, 1), QDate(2026, 11, 1),
             {QStringLiteral("逾期率"), QStringLiteral("借款余额")});

    // No printer: the pages go to a PDF whose text names the screen, the region and the months.
    w_trend::setPrintFolder(dir.path());
    boxes.answer(msg::No);
    window->menu()->item(QStringLiteral("m_打印"))->click();
    const QString printed = window->lastPrintTarget();
    ASSERT_TRUE(QFileInfo(printed).size() > 0) << printed.toStdString();
    EXPECT_EQ(QFileInfo(printed).fileName(),
              QStringLiteral("指标趋势分析-石桥市-2025年11月至2026年11月.pdf"));
    const QString text = pdfText(printed);
    EXPECT_TRUE(text.contains(QStringLiteral("指标趋势分析"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("石桥市")));
    EXPECT_TRUE(text.contains(QStringLiteral("逾期率")));
    // Every month is on the page, across or down it: none is cut off at the edge.
    const QStringList months = window->trendTable()->captions;
    ASSERT_EQ(months.size(), 13);
    auto onPage = [&](const QString& pdf) {
        const QString all = pdfText(pdf);
        for (const QString& m : months)
            EXPECT_TRUE(all.contains(m)) << m.toStdString();
        EXPECT_TRUE(all.contains(child<QTableWidget>("dw_trend")->item(0, 13)->text()));
    };
    onPage(printed);
    MenuItem* orientation = window->menu()->item(QStringLiteral("m_printvh"));
    orientation->click(); // landscape, as the pages are at first
    orientation->click(); // portrait
    EXPECT_EQ(orientation->Text(), QStringLiteral("纵向打印"));
    EXPECT_FALSE(window->landscape());
    boxes.answer(msg::No);
    window->menu()->item(QStringLiteral("m_打印"))->click();
    ASSERT_NE(window->lastPrintTarget(), printed);
    onPage(window->lastPrintTarget());
    boxes.clear();

    // The save commands ask for the file and add its suffix.
    QString asked;
    window->chooseSaveFile = [&](QWidget*, const QString& caption, const QString&, const QString&) {
        asked = caption;
        return QDir(dir.path()).filePath(QStringLiteral("趋势"));
    };
    window->menu()->item(QStringLiteral("m_png"))->click();
    const QImage picture(QDir(dir.path()).filePath(QStringLiteral("趋势.png")));
    EXPECT_EQ(picture.width(), 1920);
    EXPECT_EQ(asked, QStringLiteral("保存图表图片"));
    window->menu()->item(QStringLiteral("m_pdf"))->click();
    window->menu()->item(QStringLiteral("m_excel"))->click();
    EXPECT_EQ(asked, QStringLiteral("保存为Excel文件"));
    EXPECT_GT(QFileInfo(QDir(dir.path()).filePath(QStringLiteral("趋势.xlsx"))).size(), 0);
    EXPECT_TRUE(
        pdfText(QDir(dir.path()).filePath(QStringLiteral("趋势.pdf"))).contains(QStringLiteral("借款余额")));

    // Ctrl+V's preview shows the pages in place of the tabs, and back.
    MenuItem* preview = window->menu()->item(QStringLiteral("m_preview"));
    preview->click();
    EXPECT_TRUE(window->previewShown());
    EXPECT_EQ(preview->Text(), QStringLiteral("取消预缆"));
    EXPECT_GE(window->pageCount(), 1);
    preview->click();
    EXPECT_FALSE(window->previewShown());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

ALLSTATS_ON_ALL_BACKENDS(TrendScreenTest);

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
// The trend's chart and pages as the eye reads them, without a database: a
// trend of many indicators shows every one in its legend, each in a look of
// its own; amounts carry thousands separators and their unit; the pages after
// the first repeat the title and the region line.
#include "analysis/ui/trendchart.h"
#include "support/files.h"

#include <QCategoryAxis>
#include <QChart>
#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QLineSeries>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A trend of `indicators` amounts over `months` months, each indicator's
// figures rising from `base`.
ChartDocument trendOf(int indicators, int months, double base, const QString& unit = QStringLiteral("元"))
{
    ChartDocument doc;
    doc.kind = ChartDocument::Line;
    doc.title = QStringLiteral("指标趋势分析");
    doc.subtitle = QStringLiteral("项目区：石桥市    报表期间：2025年1月至2026年12月");
    doc.columns << QStringLiteral("指标");
    for (int m = 0; m < months; ++m) {
        const QString period =
            QStringLiteral("%1%2").arg(2025 + m / 12).arg(m % 12 + 1, 2, 10, QLatin1Char('0'));
        doc.categories << period;
        doc.columns << QStringLiteral("%1年%2月").arg(period.left(4)).arg(m % 12 + 1);
    }
    for (int i = 0; i < indicators; ++i) {
        // Names no other name contains, so each can be counted in the PDF's text.
        ChartSeries s{QStringLiteral("第%1项指标").arg(QChar(u'甲' + i)), false, {}, unit};
        QStringList row{s.name};
        for (int m = 0; m < months; ++m) {
            const Decimal v = Decimal::fromVariant(base * (1 + i) + m * base / 10).value();
            s.values << v;
            row << v.toString(2);
        }
        doc.series << s;
        doc.rows << row;
    }
    return doc;
}

// The chart as the PNG picture draws it, laid out at the picture's size.
struct Drawn
{
    QGraphicsScene scene;
    QChart* chart = nullptr;
    explicit Drawn(const ChartDocument& doc)
    {
        chart = makeChart(doc, pictureLook()).release();
        scene.addItem(chart);
        chart->setGeometry(QRectF(0, 0, 1200, 675));
    }
};

TEST(TrendChart, ManyIndicatorsAllShowInTheLegendEachInALookOfItsOwn)
{
    const ChartDocument doc = trendOf(26, 24, 100);

    // The picture: every entry inside the chart, none over another, its name whole.
    Drawn drawn(doc);
    const QList<LegendEntry> legend = chartLegend(*drawn.chart);
    ASSERT_EQ(legend.size(), 26);
    const QRectF frame(QPointF(0, 0), drawn.chart->size());
    QFont font(pictureLook().family);
    font.setPixelSize(pictureLook().labelPixels);
    const QFontMetricsF fm(font);
    for (int i = 0; i < legend.size(); ++i) {
        EXPECT_EQ(legend[i].name, doc.series[i].name);
        EXPECT_TRUE(frame.contains(legend[i].rect)) << legend[i].name.toStdString();
        EXPECT_GE(legend[i].rect.width(), fm.horizontalAdvance(legend[i].name))
            << legend[i].name.toStdString();
        for (int j = 0; j < i; ++j)
            EXPECT_FALSE(legend[i].rect.intersects(legend[j].rect)) << i << " " << j;
    }
    // Below the plot, not over it.
    for (const LegendEntry& e : legend)
        EXPECT_GE(e.rect.top(), drawn.chart->plotArea().bottom()) << e.name.toStdString();

    // No two lines alike: colour and line style together tell each apart.
    QSet<QString> looks;
    QSet<QString> names;
    for (QAbstractSeries* s : drawn.chart->series()) {
        auto* line = qobject_cast<QLineSeries*>(s);
        ASSERT_NE(line, nullptr);
        names.insert(line->name());
        looks.insert(line->pen().color().name() + QString::number(int(line->pen().style())));
    }
    EXPECT_EQ(names.size(), 26);
    EXPECT_EQ(looks.size(), 26);

    // The PDF: each name in the legend and again in the table (of half a year, one block of months).
    QByteArray bytes;
    QString error;
    ASSERT_TRUE(writeChartPdf(trendOf(26, 6, 100), QStringLiteral("trend.pdf"), &error,
                              QPageLayout::Landscape, &bytes))
        << error.toStdString();
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("trend.pdf"));
    writeFile(pdf, bytes);
    const QString text = pdfText(pdf);
    for (const ChartSeries& s : doc.series)
        EXPECT_EQ(text.count(s.name), 2) << s.name.toStdString();
}

TEST(TrendChart, AmountsShowThousandsSeparatorsAndTheirUnit)
{
    const auto axisOf = [](const ChartDocument& doc, QStringList* labels) {
        Drawn drawn(doc);
        const QList<QAbstractAxis*> axes = drawn.chart->axes(Qt::Vertical);
        EXPECT_EQ(axes.size(), 1);
        auto* axis = qobject_cast<QCategoryAxis*>(axes.value(0));
        EXPECT_NE(axis, nullptr);
        if (!axis)
            return QString();
        *labels = axis->categoriesLabels();
        return axis->titleText();
    };
    QStringList labels;
    // Tens of thousands of 元: the ticks in 元, with separators.
    EXPECT_EQ(axisOf(trendOf(2, 6, 20000), &labels), QStringLiteral("元"));
    EXPECT_TRUE(labels.contains(QStringLiteral("20,000"))) << labels.join(u' ').toStdString();
    EXPECT_EQ(labels.first(), QStringLiteral("0"));
    // Millions: in 万元.
    EXPECT_EQ(axisOf(trendOf(2, 6, 3000000), &labels), QStringLiteral("万元"));
    EXPECT_TRUE(labels.contains(QStringLiteral("1,000"))) << labels.join(u' ').toStdString();
    for (const QString& l : labels)
        EXPECT_LE(QString(l).remove(u',').toDouble(), 1200) << l.toStdString();
    // Counts keep their own unit; an indicator of no known unit claims none.
    EXPECT_EQ(axisOf(trendOf(2, 6, 3000000, QStringLiteral("户")), &labels), QStringLiteral("户"));
    EXPECT_TRUE(labels.contains(QStringLiteral("6,000,000"))) << labels.join(u' ').toStdString();
    EXPECT_EQ(axisOf(trendOf(2, 6, 3000000, QString()), &labels), QString());

    // A short chart, as the screen shows it under its table, takes fewer ticks:
    // the chart cuts a label lower than the room between two ticks to "…".
    ChartLook shortLook = pictureLook();
    shortLook.plotHeight = 230;
    for (const double base : {20000.0, 3000000.0}) {
        const std::unique_ptr<QChart> chart = makeChart(trendOf(2, 24, base), shortLook);
        auto* axis = qobject_cast<QCategoryAxis*>(chart->axes(Qt::Vertical).value(0));
        ASSERT_NE(axis, nullptr);
        EXPECT_LE(axis->categoriesLabels().size(), 5) << axis->categoriesLabels().join(u' ').toStdString();
        EXPECT_GE(axis->categoriesLabels().size(), 3) << axis->categoriesLabels().join(u' ').toStdString();
    }
}

TEST(TrendChart, PagesAfterTheFirstRepeatTheTitleAndTheRegionLine)
{
    const ChartDocument doc = trendOf(26, 24, 100);
    for (const auto orientation : {QPageLayout::Landscape, QPageLayout::Portrait}) {
        QByteArray bytes;
        QString error;
        ASSERT_TRUE(writeChartPdf(doc, QStringLiteral("trend.pdf"), &error, orientation, &bytes))
            << error.toStdString();
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("trend.pdf"));
        writeFile(pdf, bytes);
        const int pages = pdfPages(pdf);
        ASSERT_GE(pages, 3);
        const QStringList texts = pdfText(pdf).split(QChar(u'\f'));
        for (int p = 0; p < pages; ++p) {
            QString page = texts.value(p);
            page.remove(QRegularExpression(QStringLiteral("\\s")));
            for (const QString& line : {QStringLiteral("指标趋势分析"), QStringLiteral("项目区：石桥市"),
                                        QStringLiteral("报表期间：2025年1月至2026年12月")})
                EXPECT_TRUE(page.contains(line)) << "page " << p + 1 << ": " << page.left(80).toStdString();
        }
    }
}

} // namespace

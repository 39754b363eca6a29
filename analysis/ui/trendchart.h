// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/decimal.h"
#include "foundation/host.h"

#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QChart;
struct ChartFile;
struct RankTable;
struct TrendTable;
class QPagedPaintDevice;
class QPainter;

// What a trend or ranking shows, as the chart, the table and the printed page
// read it: one series per indicator over the categories (months, or the
// sub-regions of a ranking), and the table's texts as the screen shows them.
struct ChartSeries
{
    QString name;                         // the indicator's name
    bool ratio = false;                   // a ratio indicator: drawn in percent on the right-hand axis
    QList<std::optional<Decimal>> values; // one per category; empty: no figure
    QString unit;                         // "元", "户", …; "" when the indicator names none
};

struct ChartDocument
{
    enum Kind
    {
        Line,
        Bar,
        Ranking, // horizontal bars, the first category on top
    };
    Kind kind = Line;
    QString title;          // "指标趋势分析" / "指标排名"
    QString subtitle;       // region and period: "石桥市 2024年1月—2025年12月"
    QString documentTitle;  // the file's title: "指标趋势分析 石桥市 2024年1月至2025年12月"
    QStringList categories; // the months (YYYYMM) of a trend, the sub-regions' names of a ranking
    QList<ChartSeries> series;

    // The table: header texts and rows of cell texts. The first `leadColumns`
    // columns name the row; the others are figures (right-aligned). A table too
    // wide for the page is split into blocks of figure columns, each repeating
    // the lead columns.
    QStringList columns;
    QList<QStringList> rows;
    int leadColumns = 1;
};

// How the chart draws its texts: the family and the pixel sizes of the labels.
// Pixel sizes keep the text the same whether the chart is painted on screen,
// on an image or on a page in points.
struct ChartLook
{
    QString family;       // 宋体 on screen (Noto Sans CJK), printFamily(宋体) in print
    int labelPixels = 12; // axis labels and the legend
    int titlePixels = 14; // the chart's own title (empty title: none)
    bool showTitle = false;
    qreal plotWidth = 0;  // the chart's width in pixels where known: narrow months are labelled in steps
    qreal plotHeight = 0; // the chart's height in pixels where known: a short chart has fewer value ticks
};

// The chart of a document: line or bar chart of the series over the months
// (ratios in percent on an axis of their own, on the right, when figures of
// both kinds are shown), or the ranking's horizontal bars. Amounts are shown
// with thousands separators and their unit (元, or 万元 for large ones); each
// series has a look of its own (seriesLook), and a month chart's legend under
// the plot lists every series, in as many rows as it needs. The caller owns
// it; it needs a QApplication.
std::unique_ptr<QChart> makeChart(const ChartDocument& doc, const ChartLook& look);

// A month chart's legend entries and the rectangle each takes, in the chart's
// coordinates (once the chart has its size).
struct LegendEntry
{
    QString name;
    QRectF rect;
};
QList<LegendEntry> chartLegend(const QChart& chart);

// The look of the PNG picture's chart, drawn 1200×675 before it is scaled up.
ChartLook pictureLook();

// Lays a chart document out on A4 paper: the title and the subtitle, the chart,
// then the table (split into blocks of months when it is wider than the page),
// "第 N 页 / 共 M 页" at the foot; the pages after the first repeat the title
// and the subtitle over the table's continuation. Geometry in points, the report's print
// families, so the preview shows what the printer prints.
class ChartPrinter final
{
public:
    explicit ChartPrinter(const ChartDocument& doc,
                          QPageLayout::Orientation orientation = QPageLayout::Landscape);

    QPageLayout pageLayout() const;
    QSizeF paperSize() const { return pageLayout().fullRectPoints().size(); }
    int pageCount() const;
    // Paints page `page` (from 1) into the printable area `content` (points).
    void paintPage(QPainter& painter, int page, const QRectF& content) const;
    // The sheet of paper, scaled into `target` (widget pixels), margins included.
    void paintSheet(QPainter& painter, int page, const QRectF& target) const;
    // Every page on a printer or PDF writer; false with *error set on failure.
    bool print(QPagedPaintDevice& device, QString* error) const;

private:
    struct Block
    {
        int page = 1;
        qreal top = 0;
        QList<int> columns; // figure columns of this block (indexes into doc.columns)
        int firstRow = 0;
        int rowCount = 0;
    };
    struct Plan
    {
        qreal chartTop = 0;
        qreal chartHeight = 0;
        qreal leadWidth = 0;
        QList<qreal> leadWidths;
        qreal figureWidth = 0;
        QList<Block> blocks;
        int pages = 1;
    };
    Plan plan(const QSizeF& content) const;

    ChartDocument m_doc;
    QPageLayout::Orientation m_orientation;
};

// Writes the chart alone, titled, as a PNG image of 1920×1080 pixels, whole or
// not at all. False with *error set. With `bytes` the image comes back there instead.
bool writeChartPng(const ChartDocument& doc, const QString& path, QString* error,
                   QByteArray* bytes = nullptr);
// Writes the printed pages (chart and table) as a PDF file whose document
// information names the document (its documentTitle), the subject, the author
// and the program, as the report's PDF does, whole or not at all. False with *error set.
// With `bytes` the PDF comes back there instead.
bool writeChartPdf(const ChartDocument& doc, const QString& path, QString* error,
                   QPageLayout::Orientation orientation = QPageLayout::Landscape,
                   QByteArray* bytes = nullptr);

// The documents of a trend (line or bar chart; indicators down, one column per
// month in the table) and of a ranking (名次, 代码, 名称 and the figure).
ChartDocument trendDocument(const TrendTable& table, bool bars);
ChartDocument rankDocument(const RankTable& table);

// The command line's chart files: PNG of the chart or PDF of the pages, for
// `allstats trend` and `allstats rank`. They need a QApplication (offscreen will do).
Status writeTrendChart(const TrendTable& table, const ChartFile& file);
Status writeRankChart(const RankTable& table, const ChartFile& file);

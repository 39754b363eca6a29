// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/ui/trendchart.h"

#include "analysis/trend.h"
#include "analysis/ui/chartlegend_p.h"
#include "foundation/fonts.h"
#include "foundation/gridprint.h"
#include "foundation/safefile.h"
#include "foundation/version.h"
#include "host/chartbook.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QBuffer>
#include <QCategoryAxis>
#include <QChart>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGraphicsObject>
#include <QGraphicsScene>
#include <QHorizontalBarSeries>
#include <QImage>
#include <QLineSeries>
#include <QLocale>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace {

constexpr qreal kMarginMm = 15;
constexpr qreal kTitlePoints = 16;
constexpr qreal kSubtitlePoints = 10;
constexpr qreal kCellPoints = 9;
constexpr qreal kFooterPoints = 9;
constexpr qreal kRowHeight = 16;
constexpr qreal kHeaderHeight = 20;
constexpr qreal kFooterHeight = 22;
constexpr qreal kPadding = 4;
constexpr qreal kBlockGap = 10;
constexpr int kChartLabelPixels = 8;       // 8 pt on paper: the size of a printed table's small print
constexpr qreal kBandHeight = 26 + 18 + 6; // the title, the region line and a gap, on every page
const QSize kPictureSize(1200, 675);       // the PNG's chart, before it is scaled up

const QColor kRule(0, 128, 128);
const QColor kHeaderFill(234, 244, 244);
const QColor kFooterText(90, 90, 90);

const QString kSong = QStringLiteral("宋体");
const QString kKai = QStringLiteral("楷体_GB2312");

void ensureFonts()
{
    static const bool done = [] {
        installFontSubstitutions();
        return true;
    }();
    Q_UNUSED(done);
}

// What the chart plots for a figure: ratios in percent, the rest in the
// axis's unit (万元: divided by 10,000).
std::optional<double> plotted(const std::optional<Decimal>& v, bool ratio, double divisor = 1)
{
    if (!v)
        return std::nullopt;
    return ratio ? v->toDouble() * 100.0 : v->toDouble() / divisor;
}

// Round ticks from the lowest to a little above the highest value: steps of
// 1, 2, 2.5 or 5 times a power of ten, at most `maxSteps` of them (eight where
// the chart has room).
struct Ticks
{
    double min = 0;
    double max = 1;
    double step = 1;
    int decimals = 0;
};

Ticks roundTicks(double lo, double hi, int maxSteps = 8)
{
    Ticks t;
    const double span = hi - lo;
    const double magnitude = std::pow(10.0, std::floor(std::log10(span / 6)));
    for (const double f : {1.0, 2.0, 2.5, 5.0, 10.0, 20.0, 25.0, 50.0, 100.0}) {
        t.step = f * magnitude;
        if (span / t.step <= maxSteps)
            break;
    }
    t.min = std::floor(lo / t.step + 1e-9) * t.step;
    t.max = std::ceil(hi / t.step - 1e-9) * t.step;
    // As many decimals as the step has: 250 none, 2.5 one, 0.25 two.
    const int power = int(std::floor(std::log10(t.step) + 1e-9));
    t.decimals = std::max(0, -power);
    if (power <= 0 && std::abs(t.step / std::pow(10.0, power) - 2.5) < 1e-9)
        ++t.decimals;
    return t;
}

// The value axis: percentages of the ratios, or figures with thousands
// separators and the unit over them ("万元" for large amounts in 元).
QAbstractAxis* valueAxis(const QList<double>& values, bool percent, const AxisUnit& unit, const QFont& font,
                         int maxSteps = 8)
{
    double lo = 0;
    double hi = 0;
    for (double v : values) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    if (hi - lo < 1e-9)
        hi = lo + (percent ? 10 : 1);
    // Room above the highest figure, so its point or bar is not cut by the frame.
    const Ticks ticks = roundTicks(lo, hi + (hi - lo) * 0.08, maxSteps);
    if (percent) {
        auto* axis = new QValueAxis;
        axis->setRange(ticks.min, ticks.max);
        axis->setTickCount(int(std::lround((ticks.max - ticks.min) / ticks.step)) + 1);
        axis->setLabelFormat(QStringLiteral("%.") + QString::number(ticks.decimals) + QStringLiteral("f%%"));
        axis->setLabelsFont(font);
        axis->setGridLineColor(QColor(220, 220, 220));
        return axis;
    }
    // Labels of their own, at the ticks, with the separators the value axis's format lacks.
    auto* axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axis->setStartValue(ticks.min);
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    const int count = int(std::lround((ticks.max - ticks.min) / ticks.step));
    for (int i = 0; i <= count; ++i) {
        double v = ticks.min + i * ticks.step;
        if (std::abs(v) < ticks.step * 1e-6)
            v = 0;
        axis->append(chinese.toString(v, 'f', ticks.decimals), v);
    }
    axis->setRange(ticks.min, ticks.max);
    axis->setLabelsFont(font);
    axis->setGridLineColor(QColor(220, 220, 220));
    if (!unit.title.isEmpty()) {
        axis->setTitleText(unit.title);
        axis->setTitleFont(font);
    }
    return axis;
}

// The unit of the figures of the series of one axis (not the ratios').
AxisUnit unitOf(const ChartDocument& doc, bool ratio)
{
    if (ratio)
        return {};
    QStringList units;
    double largest = 0;
    for (const ChartSeries& s : doc.series) {
        if (s.ratio)
            continue;
        units << s.unit;
        for (const auto& v : s.values)
            if (v)
                largest = std::max(largest, std::abs(v->toDouble()));
    }
    return axisUnit(units, largest);
}

QFont pixelFont(const QString& family, int pixels, bool bold = false)
{
    QFont f(family);
    f.setPixelSize(std::max(1, pixels));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

// The month axis: "M月", with the year under the first month of each year
// shown; where months are too narrow for their labels every step-th month is
// labelled and its label may run over its blank neighbours. The axis wants
// every label distinct, so a label carries empty markup of its own, which
// draws nothing.
QStringList monthAxisLabels(const QStringList& periods, int step)
{
    QStringList labels;
    QString lastYear;
    for (int i = 0; i < periods.size(); ++i) {
        const QString& p = periods[i];
        const QString unique = QStringLiteral("<b></b>").repeated(i + 1);
        if (p.size() != 6) {
            labels << p;
        } else if (step > 1 && (i % step != 1 || i + 1 == periods.size())) {
            // Stepped labels stay off the first and the last month: a label
            // reaching past the end of the axis is not drawn at all.
            labels << unique;
        } else if (p.left(4) != lastYear) {
            lastYear = p.left(4);
            labels << QStringLiteral("%1月<br>%2").arg(p.right(2).toInt()).arg(lastYear) + unique;
        } else {
            labels << QStringLiteral("%1月").arg(p.right(2).toInt()) + unique;
        }
    }
    return labels;
}

void makeMonthChart(QChart* chart, const ChartDocument& doc, const QFont& font, const ChartLook& look)
{
    bool anyRatio = false;
    bool anyPlain = false;
    for (const ChartSeries& s : doc.series)
        (s.ratio ? anyRatio : anyPlain) = true;
    const bool twoAxes = anyRatio && anyPlain;

    // A label wants about three characters' room ("12月" and the gaps beside it).
    int step = 1;
    if (look.plotWidth > 0 && !doc.categories.isEmpty()) {
        // The axes take about an eighth of the width.
        const qreal plot = look.plotWidth * 0.88;
        const qreal perMonth = plot / doc.categories.size();
        step = std::max(1, int(std::ceil(look.labelPixels * 3.0 / perMonth)));
    }
    auto* axisX = new QBarCategoryAxis;
    axisX->append(monthAxisLabels(doc.categories, step));
    if (step > 1)
        axisX->setTruncateLabels(false);
    axisX->setLabelsFont(font);
    axisX->setGridLineVisible(false);
    chart->addAxis(axisX, Qt::AlignBottom);

    const AxisUnit unit = unitOf(doc, false);
    QList<double> plainValues;
    QList<double> ratioValues;
    for (const ChartSeries& s : doc.series)
        for (const auto& v : s.values)
            if (const auto p = plotted(v, s.ratio, unit.divisor))
                (s.ratio ? ratioValues : plainValues) << *p;
    // A short chart (the screen's) gets fewer ticks: the chart cuts a label
    // to "…" when the room between two ticks is lower than the label.
    const int steps = look.plotHeight > 0
                          ? std::clamp(int(look.plotHeight * 0.55 / (look.labelPixels * 2.0)) - 1, 2, 8)
                          : 8;
    QAbstractAxis* plainAxis = anyPlain ? valueAxis(plainValues, false, unit, font, steps) : nullptr;
    QAbstractAxis* ratioAxis = anyRatio ? valueAxis(ratioValues, true, {}, font, steps) : nullptr;
    if (plainAxis)
        chart->addAxis(plainAxis, Qt::AlignLeft);
    if (ratioAxis)
        chart->addAxis(ratioAxis, twoAxes ? Qt::AlignRight : Qt::AlignLeft);
    if (twoAxes)
        ratioAxis->setGridLineVisible(false);

    const auto nameOf = [&](const ChartSeries& s) {
        return twoAxes && s.ratio ? s.name + QStringLiteral("（右轴）") : s.name;
    };
    // The chart's own legend would cut a long list short: the legend below has every indicator.
    chart->legend()->setVisible(false);
    QList<LegendItem::Entry> entries;
    for (int i = 0; i < doc.series.size(); ++i)
        entries.append({nameOf(doc.series[i]), seriesLook(i)});
    new LegendItem(chart, entries, font, doc.kind == ChartDocument::Bar, look);

    if (doc.kind == ChartDocument::Bar) {
        // One bar series per axis. Each carries a place for every indicator, so
        // the bars of the two axes stand side by side instead of on top of each other.
        for (bool ratio : {false, true}) {
            if ((ratio && !anyRatio) || (!ratio && !anyPlain))
                continue;
            auto* bars = new QBarSeries;
            for (int i = 0; i < doc.series.size(); ++i) {
                const ChartSeries& s = doc.series[i];
                auto* set = new QBarSet(nameOf(s));
                set->setBrush(barBrush(seriesLook(i)));
                set->setBorderColor(colourOf(seriesLook(i)));
                for (int c = 0; c < doc.categories.size(); ++c) {
                    const auto p =
                        s.ratio == ratio ? plotted(s.values.value(c), s.ratio, unit.divisor) : std::nullopt;
                    set->append(p.value_or(0.0));
                }
                // The place of an indicator of the other axis stays empty.
                if (s.ratio != ratio) {
                    set->setColor(Qt::transparent);
                    set->setBorderColor(Qt::transparent);
                }
                bars->append(set);
            }
            bars->setBarWidth(0.8);
            chart->addSeries(bars);
            bars->attachAxis(axisX);
            bars->attachAxis(ratio ? ratioAxis : plainAxis);
        }
        return;
    }

    for (int i = 0; i < doc.series.size(); ++i) {
        const ChartSeries& s = doc.series[i];
        const SeriesLook style = seriesLook(i);
        const QColor colour = colourOf(style);
        // A month without a figure is a gap in the line, not a fall to zero.
        bool first = true;
        QLineSeries* line = nullptr;
        const auto finish = [&] {
            if (!line)
                return;
            chart->addSeries(line);
            line->attachAxis(axisX);
            line->attachAxis(s.ratio ? ratioAxis : plainAxis);
            first = false;
            line = nullptr;
        };
        for (int c = 0; c < doc.categories.size(); ++c) {
            const auto p = plotted(s.values.value(c), s.ratio, unit.divisor);
            if (!p) {
                finish();
                continue;
            }
            if (!line) {
                line = new QLineSeries;
                line->setName(nameOf(s));
                line->setPen(linePen(style, look));
                line->setColor(colour);
                line->setPointsVisible(true);
                // Smaller points where many lines meet, so their strokes show between them.
                line->setMarkerSize(look.labelPixels / (doc.series.size() > 10 ? 3.0 : 2.0));
            }
            line->append(c, *p);
        }
        finish();
        if (first) {
            // No figure in any month: the indicator still has its legend entry.
            auto* empty = new QLineSeries;
            empty->setName(nameOf(s));
            empty->setColor(colour);
            chart->addSeries(empty);
            empty->attachAxis(axisX);
            empty->attachAxis(s.ratio ? ratioAxis : plainAxis);
        }
    }
}

void makeRankingChart(QChart* chart, const ChartDocument& doc, const QFont& font)
{
    auto* bars = new QHorizontalBarSeries;
    const ChartSeries s = doc.series.value(0);
    auto* set = new QBarSet(s.name);
    set->setColor(colourOf(seriesLook(0)));
    set->setBorderColor(colourOf(seriesLook(0)));
    const AxisUnit unit = unitOf(doc, s.ratio);
    // The first place on top: the category axis runs bottom-up.
    QStringList categories;
    QList<double> values;
    for (qsizetype c = doc.categories.size() - 1; c >= 0; --c) {
        categories << doc.categories[c];
        const double v = plotted(s.values.value(c), s.ratio, unit.divisor).value_or(0.0);
        set->append(v);
        values << v;
    }
    bars->append(set);
    bars->setBarWidth(0.7);
    chart->addSeries(bars);
    auto* axisY = new QBarCategoryAxis;
    axisY->append(categories);
    axisY->setLabelsFont(font);
    axisY->setGridLineVisible(false);
    chart->addAxis(axisY, Qt::AlignLeft);
    bars->attachAxis(axisY);
    QAbstractAxis* axisX = valueAxis(values, s.ratio, unit, font);
    chart->addAxis(axisX, Qt::AlignBottom);
    bars->attachAxis(axisX);
}

// A font for painting at `points` on the painter's device, one painter unit
// being one point (as the printed grid's fonts are sized).
QFont printFont(const QString& family, qreal points, bool bold, const QPaintDevice* device)
{
    const int dpi = device && device->logicalDpiY() > 0 ? device->logicalDpiY() : 72;
    QFont f(printFamily(family));
    f.setPointSizeF(points * 72.0 / dpi);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setKerning(false);
    return f;
}

const QPaintDevice* referenceDevice()
{
    static const QImage image = measuringImage(72);
    return &image;
}

// Paints a chart into `target` (painter units) through a scene of its own.
void paintChart(QPainter& painter, std::unique_ptr<QChart> chart, const QRectF& target)
{
    QGraphicsScene scene;
    QChart* c = chart.release();
    scene.addItem(c);
    c->setGeometry(QRectF(QPointF(0, 0), target.size()));
    scene.setSceneRect(QRectF(QPointF(0, 0), target.size()));
    scene.render(&painter, target, scene.sceneRect(), Qt::IgnoreAspectRatio);
}

} // namespace

QList<LegendEntry> chartLegend(const QChart& chart)
{
    QList<LegendEntry> out;
    for (QGraphicsItem* child : chart.childItems())
        if (auto* legend = dynamic_cast<LegendItem*>(child))
            for (const auto& [name, rect] : legend->entries())
                out.append({name, rect});
    return out;
}

ChartLook pictureLook()
{
    ChartLook look;
    look.family = kSong;
    look.labelPixels = 12;
    look.titlePixels = 16;
    look.plotWidth = kPictureSize.width();
    look.showTitle = true;
    return look;
}

std::unique_ptr<QChart> makeChart(const ChartDocument& doc, const ChartLook& look)
{
    ensureFonts();
    auto chart = std::make_unique<QChart>();
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setBackgroundRoundness(0);
    chart->setDropShadowEnabled(false);
    chart->setBackgroundBrush(Qt::white);
    chart->setMargins(QMargins(2, 2, 2, 2));
    const QFont font = pixelFont(look.family, look.labelPixels);
    // The ranking's one entry over its bars; the month charts have a legend of their own (LegendItem).
    chart->legend()->setFont(font);
    chart->legend()->setAlignment(Qt::AlignTop);
    if (look.showTitle) {
        chart->setTitleFont(pixelFont(look.family, look.titlePixels, true));
        chart->setTitle(doc.subtitle.isEmpty() ? doc.title : doc.title + QStringLiteral("  ") + doc.subtitle);
    }
    if (doc.kind == ChartDocument::Ranking)
        makeRankingChart(chart.get(), doc, font);
    else
        makeMonthChart(chart.get(), doc, font, look);
    return chart;
}

ChartPrinter::ChartPrinter(const ChartDocument& doc, QPageLayout::Orientation orientation)
    : m_doc(doc), m_orientation(orientation)
{
    ensureFonts();
}

QPageLayout ChartPrinter::pageLayout() const
{
    return QPageLayout(QPageSize(QPageSize::A4), m_orientation,
                       QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm), QPageLayout::Millimeter);
}

ChartPrinter::Plan ChartPrinter::plan(const QSizeF& content) const
{
    Plan p;
    p.chartTop = kBandHeight;
    const QFontMetricsF fm(printFont(kSong, kCellPoints, false, referenceDevice()), referenceDevice());
    const int lead = std::clamp(m_doc.leadColumns, 0, int(m_doc.columns.size()));
    for (int c = 0; c < lead; ++c) {
        qreal w = fm.horizontalAdvance(m_doc.columns[c]);
        for (const QStringList& row : m_doc.rows)
            w = std::max(w, fm.horizontalAdvance(row.value(c)));
        w = std::min(w + 2 * kPadding + 2, 200.0);
        p.leadWidths << w;
        p.leadWidth += w;
    }
    qreal figure = 40;
    for (int c = lead; c < m_doc.columns.size(); ++c) {
        figure = std::max(figure, fm.horizontalAdvance(m_doc.columns[c]) + 2 * kPadding + 2);
        for (const QStringList& row : m_doc.rows)
            figure = std::max(figure, fm.horizontalAdvance(row.value(c)) + 2 * kPadding + 2);
    }
    const int figures = int(m_doc.columns.size()) - lead;
    const int perBlock = std::max(1, int((content.width() - p.leadWidth) / figure));
    // Blocks of about equal width rather than a full one and a stub; split
    // tables run across the page.
    const int blockCount = figures > 0 ? (figures + perBlock - 1) / perBlock : 1;
    const int even = figures > 0 ? (figures + blockCount - 1) / blockCount : 0;
    p.figureWidth = blockCount > 1 ? std::max(figure, (content.width() - p.leadWidth) / even) : figure;

    const qreal bottom = content.height() - kFooterHeight;
    const int rows = int(m_doc.rows.size());
    // The chart takes what the table leaves of the first page, between two
    // fifths and a little over half of it.
    const qreal blockHeight = kHeaderHeight + rows * kRowHeight + kBlockGap;
    const qreal room = bottom - p.chartTop - kBlockGap - blockCount * blockHeight;
    p.chartHeight = std::clamp(room, content.height() * 0.4, content.height() * 0.55);
    // When not even the first block of the table fits below the chart, the
    // table starts on the next page and the chart has the first one.
    if (p.chartTop + p.chartHeight + kBlockGap + blockHeight - kBlockGap > bottom)
        p.chartHeight = bottom - p.chartTop - kBlockGap;
    qreal y = p.chartTop + p.chartHeight + kBlockGap;
    int page = 1;
    for (int b = 0; b < blockCount; ++b) {
        QList<int> columns;
        for (int c = lead + b * even; c < std::min<int>(lead + (b + 1) * even, int(m_doc.columns.size()));
             ++c)
            columns << c;
        int row = 0;
        // A block that fits a page is not split over two.
        // Every page starts under the title and the region line, which each page repeats.
        if (y > kBandHeight && y + blockHeight - kBlockGap > bottom &&
            kBandHeight + blockHeight - kBlockGap <= bottom) {
            ++page;
            y = kBandHeight;
        }
        do {
            if (y + kHeaderHeight + (rows > row ? kRowHeight : 0) > bottom) {
                ++page;
                y = kBandHeight;
            }
            const int fit = std::max(1, int((bottom - y - kHeaderHeight) / kRowHeight));
            const int take = std::min(fit, rows - row);
            p.blocks << Block{page, y, columns, row, take};
            y += kHeaderHeight + take * kRowHeight + kBlockGap;
            row += take;
        } while (row < rows);
    }
    p.pages = page;
    return p;
}

int ChartPrinter::pageCount() const
{
    return plan(pageLayout().paintRectPoints().size()).pages;
}

void ChartPrinter::paintPage(QPainter& painter, int page, const QRectF& content) const
{
    const Plan p = plan(content.size());
    if (page < 1 || page > p.pages)
        return;
    painter.save();
    painter.translate(content.topLeft());
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const QPaintDevice* device = painter.device();

    {
        // The title and the region line on every page.
        painter.setPen(Qt::black);
        painter.setFont(printFont(kKai, kTitlePoints, true, device));
        QRectF drawn;
        painter.drawText(QRectF(0, 0, content.width(), 26), Qt::AlignHCenter | Qt::AlignVCenter, m_doc.title,
                         &drawn);
        // The title stands on a double rule, as the report's title does.
        painter.setPen(QPen(kRule, 1.0));
        painter.drawLine(QPointF(drawn.left() - 12, drawn.bottom() + 1),
                         QPointF(drawn.right() + 12, drawn.bottom() + 1));
        painter.setPen(QPen(kRule, 0.5));
        painter.drawLine(QPointF(drawn.left() - 12, drawn.bottom() + 3.5),
                         QPointF(drawn.right() + 12, drawn.bottom() + 3.5));
        painter.setPen(Qt::black);
        painter.setFont(printFont(kSong, kSubtitlePoints, false, device));
        painter.drawText(QRectF(0, 28, content.width(), 18), Qt::AlignHCenter | Qt::AlignVCenter,
                         m_doc.subtitle);
    }
    if (page == 1) {
        ChartLook look;
        look.family = printFamily(kSong);
        look.labelPixels = kChartLabelPixels;
        look.plotWidth = content.width();
        paintChart(painter, makeChart(m_doc, look), QRectF(0, p.chartTop, content.width(), p.chartHeight));
    }

    const QFont cell = printFont(kSong, kCellPoints, false, device);
    painter.setFont(cell);
    const int lead = int(p.leadWidths.size());
    for (const Block& b : p.blocks) {
        if (b.page != page)
            continue;
        QList<qreal> widths = p.leadWidths;
        QList<int> columns;
        for (int c = 0; c < lead; ++c)
            columns << c;
        for (int c : b.columns) {
            widths << p.figureWidth;
            columns << c;
        }
        qreal width = 0;
        for (qreal w : widths)
            width += w;
        const qreal top = b.top;
        painter.fillRect(QRectF(0, top, width, kHeaderHeight), kHeaderFill);
        painter.setPen(Qt::black);
        qreal x = 0;
        for (int k = 0; k < columns.size(); ++k) {
            painter.drawText(QRectF(x + kPadding, top, widths[k] - 2 * kPadding, kHeaderHeight),
                             Qt::AlignCenter, m_doc.columns.value(columns[k]));
            x += widths[k];
        }
        qreal y = top + kHeaderHeight;
        for (int r = b.firstRow; r < b.firstRow + b.rowCount; ++r) {
            const QStringList& row = m_doc.rows[r];
            x = 0;
            for (int k = 0; k < columns.size(); ++k) {
                const Qt::Alignment align = k < lead ? Qt::AlignLeft : Qt::AlignRight;
                painter.drawText(QRectF(x + kPadding, y, widths[k] - 2 * kPadding, kRowHeight),
                                 int(align | Qt::AlignVCenter), row.value(columns[k]));
                x += widths[k];
            }
            y += kRowHeight;
        }
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(kRule, 0.5));
        for (qreal line = top + kHeaderHeight; line < y - 0.1; line += kRowHeight)
            painter.drawLine(QPointF(0, line), QPointF(width, line));
        x = 0;
        for (int k = 0; k + 1 < widths.size(); ++k) {
            x += widths[k];
            painter.drawLine(QPointF(x, top), QPointF(x, y));
        }
        painter.setPen(QPen(kRule, 1.0));
        painter.drawRect(QRectF(0, top, width, y - top));
        painter.setRenderHint(QPainter::Antialiasing, true);
    }

    painter.setFont(printFont(kSong, kFooterPoints, false, device));
    painter.setPen(kFooterText);
    painter.drawText(QRectF(0, content.height() - kFooterHeight + 6, content.width(), kFooterHeight - 6),
                     Qt::AlignHCenter | Qt::AlignBottom,
                     QStringLiteral("第 %1 页 / 共 %2 页").arg(page).arg(p.pages));
    painter.restore();
}

void ChartPrinter::paintSheet(QPainter& painter, int page, const QRectF& target) const
{
    const QPageLayout pl = pageLayout();
    const QSizeF paper = pl.fullRectPoints().size();
    const qreal scale = target.width() / paper.width();
    painter.save();
    painter.fillRect(target.translated(4, 4), QColor(0, 0, 0, 60));
    painter.fillRect(target, Qt::white);
    painter.setPen(QPen(QColor(160, 160, 160), 1));
    painter.drawRect(target);
    painter.translate(target.topLeft());
    painter.scale(scale, scale);
    paintPage(painter, page, pl.paintRectPoints());
    painter.restore();
}

bool ChartPrinter::print(QPagedPaintDevice& device, QString* error) const
{
    return printPages(
        device, pageLayout(), [this](const QPageLayout&) { return pageCount(); },
        [this](QPainter& painter, int page, const QRectF& content) { paintPage(painter, page, content); },
        error);
}

bool writeChartPng(const ChartDocument& doc, const QString& path, QString* error, QByteArray* into)
{
    // Drawn at 1200×675 and stored at 1.6 times that (1920×1080), sharp on a
    // projector and in a document, with room for 24 months of labels.
    const int kWidth = kPictureSize.width();
    const int kHeight = kPictureSize.height();
    constexpr qreal kScale = 1.6;
    QImage image(qRound(kWidth * kScale), qRound(kHeight * kScale), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        painter.scale(kScale, kScale);
        paintChart(painter, makeChart(doc, pictureLook()), QRectF(0, 0, kWidth, kHeight));
    }
    // Made in memory, then written whole or not at all.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        if (error)
            *error = QStringLiteral("cannot write %1: the picture cannot be made").arg(path);
        return false;
    }
    return finishFile(path, bytes, into, error);
}

bool writeChartPdf(const ChartDocument& doc, const QString& path, QString* error,
                   QPageLayout::Orientation orientation, QByteArray* into)
{
    // Title, subject, author and program, as the report's PDF carries them.
    DocumentInfo info;
    info.title = !doc.documentTitle.isEmpty() ? doc.documentTitle
                 : doc.subtitle.isEmpty()     ? doc.title
                                              : doc.title + u' ' + doc.subtitle;
    info.subject = doc.title;
    info.author = documentAuthor();
    info.creator = allstatsNameAndVersion();
    const PdfStamp stamp(info);
    QString why;
    // Made in memory, then written whole or not at all.
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(600);
        stamp.prepare(writer);
        if (!ChartPrinter(doc, orientation).print(writer, &why)) {
            if (error)
                *error = QStringLiteral("cannot write %1: %2").arg(path, why);
            return false;
        }
    }
    if (bytes.isEmpty()) {
        if (error)
            *error = QStringLiteral("cannot write %1: the PDF is empty").arg(path);
        return false;
    }
    const QByteArray update = stamp.update(bytes.right(4096), bytes.size(), &why);
    if (update.isEmpty()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, why);
        return false;
    }
    bytes += update;
    return finishFile(path, bytes, into, error);
}

ChartDocument trendDocument(const TrendTable& table, bool bars)
{
    ChartDocument doc;
    doc.kind = bars ? ChartDocument::Bar : ChartDocument::Line;
    doc.title = table.title;
    doc.subtitle = table.unitLine + QStringLiteral("    ") + table.periodLine;
    doc.documentTitle =
        QStringList{table.title, table.regionName.isEmpty() ? table.region : table.regionName,
                    table.captions.value(0) + (table.captions.size() > 1
                                                   ? QStringLiteral("至") + table.captions.last()
                                                   : QString())}
            .join(u' ');
    doc.categories = table.periods;
    doc.columns << QStringLiteral("指标");
    doc.columns << table.captions;
    doc.leadColumns = 1;
    for (const TrendRow& r : table.rows) {
        doc.series << ChartSeries{r.name, r.ratio, r.values, r.unit};
        QStringList cells{r.name};
        for (const auto& v : r.values)
            cells << formatTrendValue(v, r.mask);
        doc.rows << cells;
    }
    return doc;
}

ChartDocument rankDocument(const RankTable& table)
{
    ChartDocument doc;
    doc.kind = ChartDocument::Ranking;
    doc.title = table.title;
    doc.subtitle = table.unitLine + QStringLiteral("    ") + table.periodLine + QStringLiteral("    指标：") +
                   table.name;
    doc.documentTitle = QStringList{table.title, table.regionName.isEmpty() ? table.region : table.regionName,
                                    table.name, table.caption}
                            .join(u' ');
    doc.columns = {QStringLiteral("名次"), QStringLiteral("代码"), QStringLiteral("名称"), table.name};
    doc.leadColumns = 3;
    ChartSeries series{table.name, table.ratio, {}, table.unit};
    for (const RankRow& r : table.rows) {
        // Two sub-regions of one name stay two bars.
        QString label = r.name.trimmed();
        if (doc.categories.contains(label))
            label += QStringLiteral("（%1）").arg(r.code);
        doc.categories << label;
        series.values << r.value;
        doc.rows << QStringList{r.rank > 0 ? QString::number(r.rank) : QString(), r.code, r.name,
                                formatTrendValue(r.value, table.mask)};
    }
    doc.series << series;
    return doc;
}

namespace {

Status writeDocument(const ChartDocument& doc, const ChartFile& file)
{
    QString error;
    const bool ok = file.format == u"png"
                        ? writeChartPng(doc, file.path, &error, file.bytes)
                        : writeChartPdf(doc, file.path, &error, QPageLayout::Landscape, file.bytes);
    return ok ? Status::success() : Status::failure(error);
}

} // namespace

Status writeTrendChart(const TrendTable& table, const ChartFile& file)
{
    return writeDocument(trendDocument(table, file.bars), file);
}

Status writeRankChart(const RankTable& table, const ChartFile& file)
{
    return writeDocument(rankDocument(table), file);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/chartbook.h"

#include "foundation/gridprint.h"
#include "foundation/version.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <xlsxwriter.h>

namespace {

const char* const kSong = "宋体";

// The library's default chart size and row height, in pixels.
constexpr double kChartWidth = 480;
constexpr double kChartHeight = 288;
constexpr double kRowPixels = 20; // rows below the table keep the default height
// The widest table the sheet prints one page wide.
constexpr int kColumnsOnOnePage = 12;

// The value axis's number format: percentages as the figures are, amounts
// with thousands separators; in 万元 the last four digits fall away (the
// spreadsheet scales by thousands, and a point set before the last digit
// left makes it ten thousands: 12,345.7 for 123,456,789).
QString axisFormat(const QString& mask, const AxisUnit& unit, double largest)
{
    if (mask == u"###%")
        return QStringLiteral("0%");
    if (unit.divisor == 10000)
        return QStringLiteral("[>=10000000]#\\,##0\\.0,;[>=0]0\\.0,;-0\\.0,");
    return largest >= 100 ? QStringLiteral("#,##0") : QStringLiteral("#,##0.00");
}

uint8_t dashOf(SeriesLook::Stroke stroke)
{
    switch (stroke) {
    case SeriesLook::Solid:
        break;
    case SeriesLook::Dashed:
        return LXW_CHART_LINE_DASH_DASH;
    case SeriesLook::Dotted:
        return LXW_CHART_LINE_DASH_ROUND_DOT;
    case SeriesLook::DashDot:
        return LXW_CHART_LINE_DASH_DASH_DOT;
    case SeriesLook::DashDotDot:
        return LXW_CHART_LINE_DASH_LONG_DASH_DOT_DOT;
    }
    return LXW_CHART_LINE_DASH_SOLID;
}

uint8_t patternOf(SeriesLook::Stroke stroke)
{
    switch (stroke) {
    case SeriesLook::Solid:
        break;
    case SeriesLook::Dashed:
        return LXW_CHART_PATTERN_WIDE_UPWARD_DIAGONAL;
    case SeriesLook::Dotted:
        return LXW_CHART_PATTERN_WIDE_DOWNWARD_DIAGONAL;
    case SeriesLook::DashDot:
        return LXW_CHART_PATTERN_LARGE_GRID;
    case SeriesLook::DashDotDot:
        return LXW_CHART_PATTERN_PERCENT_50;
    }
    return LXW_CHART_PATTERN_NONE;
}

// Each series in its own look, as the program's own charts draw it.
void styleSeries(lxw_chart_series* s, ChartBookChart::Kind kind, int index)
{
    const SeriesLook look = seriesLook(index);
    lxw_chart_line line{};
    line.color = look.rgb;
    if (kind == ChartBookChart::Line) {
        line.width = 2.0f;
        line.dash_type = dashOf(look.stroke);
        chart_series_set_line(s, &line);
        lxw_chart_fill fill{};
        fill.color = look.rgb;
        lxw_chart_line edge{};
        edge.color = look.rgb;
        chart_series_set_marker_fill(s, &fill);
        chart_series_set_marker_line(s, &edge);
        return;
    }
    line.width = 0.75f;
    chart_series_set_line(s, &line);
    if (look.stroke == SeriesLook::Solid) {
        lxw_chart_fill fill{};
        fill.color = look.rgb;
        chart_series_set_fill(s, &fill);
    } else {
        lxw_chart_pattern pattern{};
        pattern.fg_color = look.rgb;
        pattern.bg_color = 0xFFFFFF;
        pattern.type = patternOf(look.stroke);
        chart_series_set_pattern(s, &pattern);
    }
}

// Chart texts in the sheet's font. The library keeps the pointers until the
// workbook is written, so they live as long as the workbook.
struct ChartFonts
{
    lxw_chart_font title{};
    lxw_chart_font axis{};
    lxw_chart_font legend{};
    lxw_chart_font unit{};        // under a horizontal value axis
    lxw_chart_font stackedUnit{}; // beside a vertical one, the characters one above the other
    ChartFonts()
    {
        unit.name = const_cast<char*>(kSong);
        unit.size = 9;
        stackedUnit = unit;
        stackedUnit.rotation = 271;
        title.name = const_cast<char*>(kSong);
        title.size = 12;
        title.bold = 1;
        axis.name = const_cast<char*>(kSong);
        axis.size = 9;
        legend.name = const_cast<char*>(kSong);
        legend.size = 9;
    }
};

} // namespace

SeriesLook seriesLook(int index)
{
    // Distinct colours that stay apart in print and for the colour-blind; past
    // them the colours come round again in another line style.
    static constexpr quint32 kColours[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd,
                                           0x8c564b, 0xe377c2, 0x7f7f7f, 0x17becf, 0xbcbd22};
    constexpr int kCount = int(std::size(kColours));
    const int i = std::max(0, index);
    return {kColours[i % kCount], SeriesLook::Stroke((i / kCount) % 5)};
}

AxisUnit axisUnit(const QStringList& seriesUnits, double largest)
{
    QStringList units;
    for (const QString& u : seriesUnits) {
        if (u.isEmpty())
            return {}; // a series of no known unit: the axis claims none
        if (!units.contains(u))
            units << u;
    }
    if (units.size() == 1 && units.first() == u"元" && std::abs(largest) >= 100000)
        return {QStringLiteral("万元"), 10000};
    return {units.join(u'、'), 1};
}

Status writeChartBook(const ChartBook& book, const QString& path, QByteArray* bytes)
{
    XlsxWorkbook workbook(path);
    if (!workbook.isOpen())
        return Status::failure(workbook.error());
    const int sheet = workbook.newSheet(book.sheetName.isEmpty() ? book.title : book.sheetName);
    if (sheet < 0)
        return Status::failure(workbook.error());
    XlsxTable table;
    table.title = book.title;
    table.subtitle = book.subtitle;
    table.headers = book.headers;
    table.rows = book.rows;
    table.frozenColumns = book.textColumns;
    table.landscape = book.landscape;
    table.onePageWide = book.onePageWide;
    if (const Status s = workbook.writeTable(sheet, table); !s)
        return s;

    // The charts refer to the cells by the sheet's name as the workbook holds it.
    const QByteArray sheetName = QByteArray(workbook.worksheet(sheet)->name);
    const lxw_row_t firstDataRow = lxw_row_t(XlsxWorkbook::tableRow(table));
    const lxw_row_t headerRow = firstDataRow - 1;
    const lxw_row_t lastDataRow = firstDataRow + lxw_row_t(book.rows.size()) - 1;
    const lxw_col_t lastColumn = lxw_col_t(book.headers.size() - 1);

    // Under a table of a dozen columns at most. A wider table prints across
    // pages with its leading columns repeated, which would cut the charts (and
    // repeat what hangs on those columns), or shrunk to one page wide, which
    // would shrink them with it: there they get a sheet of their own, which
    // opens first.
    lxw_worksheet* ws = workbook.worksheet(sheet);
    lxw_row_t chartRow = lastDataRow + 2;
    if (book.headers.size() > kColumnsOnOnePage && !book.charts.isEmpty() && !book.rows.isEmpty()) {
        const int charts = workbook.newSheet(QStringLiteral("图表"));
        if (charts < 0)
            return Status::failure(workbook.error());
        ws = workbook.worksheet(charts);
        setUpSheetPrinting(ws, {true, 0, 0});
        worksheet_activate(ws);
        chartRow = 1;
    }
    ChartFonts fonts;
    // Within a printed page's width (A4 less the margins).
    const double width = book.landscape ? 960 : 640;
    for (const ChartBookChart& wanted : book.charts) {
        if (book.rows.isEmpty())
            break;
        const bool bar = wanted.kind == ChartBookChart::Bar;
        const uint8_t type = bar                                     ? LXW_CHART_BAR
                             : wanted.kind == ChartBookChart::Column ? LXW_CHART_COLUMN
                                                                     : LXW_CHART_LINE;
        lxw_chart* chart = workbook_add_chart(workbook.workbook(), type);
        if (!chart)
            return Status::failure(
                QStringLiteral("cannot write %1: the spreadsheet library refused a chart").arg(path));
        // The figures the chart shows, for its value axis.
        double largest = 0;
        bool negative = false;
        const auto note = [&](int row, int column) {
            if (const auto v = book.rows.value(row).value(column).number) {
                largest = std::max(largest, std::abs(*v));
                negative = negative || *v < 0;
            }
        };
        if (wanted.seriesInRows) {
            for (const int r : wanted.rows)
                for (int c = book.firstValueColumn; c < book.headers.size(); ++c)
                    note(r, c);
        } else {
            for (int r = 0; r < book.rows.size(); ++r)
                note(r, wanted.valueColumn);
        }
        int index = 0;
        if (wanted.seriesInRows) {
            const lxw_col_t firstValue = lxw_col_t(book.firstValueColumn);
            for (const int r : wanted.rows) {
                if (r < 0 || r >= book.rows.size())
                    continue;
                const lxw_row_t at = firstDataRow + lxw_row_t(r);
                lxw_chart_series* s = chart_add_series(chart, nullptr, nullptr);
                chart_series_set_categories(s, sheetName.constData(), headerRow, firstValue, headerRow,
                                            lastColumn);
                chart_series_set_values(s, sheetName.constData(), at, firstValue, at, lastColumn);
                chart_series_set_name_range(s, sheetName.constData(), at, lxw_col_t(book.nameColumn));
                if (wanted.kind == ChartBookChart::Line) {
                    chart_series_set_marker_type(s, LXW_CHART_MARKER_CIRCLE);
                    chart_series_set_marker_size(s, 5);
                }
                styleSeries(s, wanted.kind, index++);
            }
            chart_legend_set_position(chart, LXW_CHART_LEGEND_BOTTOM);
        } else {
            lxw_chart_series* s = chart_add_series(chart, nullptr, nullptr);
            chart_series_set_categories(s, sheetName.constData(), firstDataRow, lxw_col_t(book.nameColumn),
                                        lastDataRow, lxw_col_t(book.nameColumn));
            chart_series_set_values(s, sheetName.constData(), firstDataRow, lxw_col_t(wanted.valueColumn),
                                    lastDataRow, lxw_col_t(wanted.valueColumn));
            chart_series_set_name_range(s, sheetName.constData(), headerRow, lxw_col_t(wanted.valueColumn));
            styleSeries(s, wanted.kind, 0);
            chart_legend_set_position(chart, LXW_CHART_LEGEND_NONE);
        }
        if (!wanted.title.isEmpty()) {
            chart_title_set_name(chart, wanted.title.toUtf8().constData());
            chart_title_set_name_font(chart, &fonts.title);
        }
        // A month without a figure is a gap, never a zero.
        chart_show_blanks_as(chart, LXW_CHART_BLANKS_AS_GAP);
        // In a bar chart the library's x axis is the horizontal one: the values.
        lxw_chart_axis* values = bar ? chart->x_axis : chart->y_axis;
        lxw_chart_axis* categories = bar ? chart->y_axis : chart->x_axis;
        // The value axis starts at 0, as the program's own charts do: a bar of
        // 94% beside one of 93% is not drawn twice as long.
        if (!negative)
            chart_axis_set_min(values, 0);
        const AxisUnit unit = wanted.mask == u"###%" ? AxisUnit{} : axisUnit(wanted.units, largest);
        const QByteArray format = axisFormat(wanted.mask, unit, largest).toUtf8();
        chart_axis_set_num_format(values, format.constData());
        chart_axis_set_num_font(values, &fonts.axis);
        if (!unit.title.isEmpty()) {
            chart_axis_set_name(values, unit.title.toUtf8().constData());
            chart_axis_set_name_font(values, bar ? &fonts.unit : &fonts.stackedUnit);
        }
        chart_axis_set_num_font(categories, &fonts.axis);
        if (bar)
            chart_axis_set_reverse(categories); // the first (highest) on top
        chart_legend_set_font(chart, &fonts.legend);

        const double height = bar ? std::clamp(80.0 + 22.0 * double(book.rows.size()), 240.0, 1600.0) : 360.0;
        lxw_chart_options options{};
        options.x_scale = width / kChartWidth;
        options.y_scale = height / kChartHeight;
        options.object_position = LXW_OBJECT_MOVE_DONT_SIZE;
        worksheet_insert_chart_opt(ws, chartRow, 0, chart, &options);
        chartRow += lxw_row_t(height / kRowPixels) + 2;
    }

    DocumentInfo info;
    info.title = book.documentTitle;
    info.subject = book.subject;
    info.author = documentAuthor();
    info.creator = allstatsNameAndVersion();
    workbook.setInfo(info);
    return workbook.commit(bytes);
}

#include "host/chartbook.h"

#include "foundation/gridprint.h"
#include "foundation/version.h"

#include <algorithm>
#include <xlsxwriter.h>

namespace {

const char* const kSong = "宋体";

// The library's default chart size and row height, in pixels.
constexpr double kChartWidth = 480;
constexpr double kChartHeight = 288;
constexpr double kRowPixels = 20; // rows below the table keep the default height
// The widest table the sheet prints one page wide.
constexpr int kColumnsOnOnePage = 12;

QString numberFormat(const QString& mask)
{
    if (mask == u"###%")
        return QStringLiteral("0%");
    if (mask == u"0.00")
        return QStringLiteral("0.00");
    return mask == u"[general]" ? QString() : mask;
}

// Chart texts in the sheet's font. The library keeps the pointers until the
// workbook is written, so they live as long as the workbook.
struct ChartFonts
{
    lxw_chart_font title{};
    lxw_chart_font axis{};
    lxw_chart_font legend{};
    ChartFonts()
    {
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
    if (const Status s = workbook.writeTable(sheet, table); !s)
        return s;

    // The charts refer to the cells by the sheet's name as the workbook holds it.
    const QByteArray sheetName = QByteArray(workbook.worksheet(sheet)->name);
    const lxw_row_t firstDataRow = lxw_row_t(XlsxWorkbook::tableRow(table));
    const lxw_row_t headerRow = firstDataRow - 1;
    const lxw_row_t lastDataRow = firstDataRow + lxw_row_t(book.rows.size()) - 1;
    const lxw_col_t lastColumn = lxw_col_t(book.headers.size() - 1);

    // Under a table that prints one page wide; a wider table prints across
    // pages with its leading columns repeated, which would cut the charts (and
    // repeat what hangs on those columns): there they get a sheet of their own,
    // which opens first.
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
            }
            chart_legend_set_position(chart, LXW_CHART_LEGEND_BOTTOM);
        } else {
            lxw_chart_series* s = chart_add_series(chart, nullptr, nullptr);
            chart_series_set_categories(s, sheetName.constData(), firstDataRow, lxw_col_t(book.nameColumn),
                                        lastDataRow, lxw_col_t(book.nameColumn));
            chart_series_set_values(s, sheetName.constData(), firstDataRow, lxw_col_t(wanted.valueColumn),
                                    lastDataRow, lxw_col_t(wanted.valueColumn));
            chart_series_set_name_range(s, sheetName.constData(), headerRow, lxw_col_t(wanted.valueColumn));
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
        const QByteArray format = numberFormat(wanted.mask).toUtf8();
        chart_axis_set_num_format(values, format.isEmpty() ? "General" : format.constData());
        chart_axis_set_num_font(values, &fonts.axis);
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
    info.creator = allstatsNameAndVersion();
    workbook.setInfo(info);
    return workbook.commit(bytes);
}

#include "host/chartbook.h"

#include "host/xlsxexport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <memory>
#include <xlsxwriter.h>

namespace {

// The look of the report's sheets: teal borders, a tinted header row.
constexpr lxw_color_t kBorder = 0x008080;
constexpr lxw_color_t kHeaderFill = 0xDDEBEB;
const char* const kSong = "宋体";
const char* const kKai = "楷体_GB2312";
constexpr double kCellPoints = 11;

// Default chart size of the library, in pixels.
constexpr double kChartWidth = 480;
constexpr double kChartHeight = 288;
// A row of the sheet at the default height, in pixels.
constexpr int kRowPixels = 20;

QString numberFormat(const QString& mask)
{
    if (mask == u"###%")
        return QStringLiteral("0%");
    if (mask == u"0.00")
        return QStringLiteral("0.00");
    return mask == u"[general]" ? QString() : mask;
}

// Width of a text in the sheet's character units: a CJK character is two.
double textUnits(const QString& text)
{
    double widest = 0;
    for (const QString& line : text.split(u'\n')) {
        double w = 0;
        for (const QChar c : line)
            w += c.unicode() >= 0x2E80 ? 2.1 : 1.1;
        widest = std::max(widest, w);
    }
    return widest;
}

QByteArray utf8(const QString& s)
{
    return s.toUtf8();
}

class Formats final
{
public:
    explicit Formats(lxw_workbook* wb) : m_wb(wb) {}

    lxw_format* title()
    {
        if (!m_title) {
            m_title = workbook_add_format(m_wb);
            format_set_font_name(m_title, kKai);
            format_set_font_size(m_title, 18);
            format_set_bold(m_title);
            format_set_align(m_title, LXW_ALIGN_CENTER);
            format_set_align(m_title, LXW_ALIGN_VERTICAL_CENTER);
        }
        return m_title;
    }
    lxw_format* line(bool right)
    {
        lxw_format*& f = right ? m_lineRight : m_lineLeft;
        if (!f) {
            f = workbook_add_format(m_wb);
            format_set_font_name(f, kSong);
            format_set_font_size(f, kCellPoints);
            format_set_align(f, right ? LXW_ALIGN_RIGHT : LXW_ALIGN_LEFT);
            format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
        }
        return f;
    }
    lxw_format* header()
    {
        if (!m_header) {
            m_header = workbook_add_format(m_wb);
            format_set_font_name(m_header, kSong);
            format_set_font_size(m_header, kCellPoints);
            format_set_bold(m_header);
            format_set_border(m_header, LXW_BORDER_THIN);
            format_set_border_color(m_header, kBorder);
            format_set_bg_color(m_header, kHeaderFill);
            format_set_align(m_header, LXW_ALIGN_CENTER);
            format_set_align(m_header, LXW_ALIGN_VERTICAL_CENTER);
            format_set_text_wrap(m_header);
        }
        return m_header;
    }
    lxw_format* cell(const QString& numFormat)
    {
        auto it = m_cells.find(numFormat);
        if (it != m_cells.end())
            return it.value();
        lxw_format* f = workbook_add_format(m_wb);
        format_set_font_name(f, kSong);
        format_set_font_size(f, kCellPoints);
        format_set_border(f, LXW_BORDER_THIN);
        format_set_border_color(f, kBorder);
        format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
        if (numFormat.isNull()) {
            format_set_align(f, LXW_ALIGN_LEFT);
        } else {
            format_set_align(f, LXW_ALIGN_RIGHT);
            if (!numFormat.isEmpty())
                format_set_num_format(f, utf8(numFormat).constData());
        }
        m_cells.insert(numFormat, f);
        return f;
    }

private:
    lxw_workbook* m_wb;
    lxw_format* m_title = nullptr;
    lxw_format* m_lineLeft = nullptr;
    lxw_format* m_lineRight = nullptr;
    lxw_format* m_header = nullptr;
    QHash<QString, lxw_format*> m_cells;
};

// Chart texts in the sheet's fonts; the library keeps the pointers until the
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

void mergeOrWrite(lxw_worksheet* ws, lxw_row_t row, int first, int last, const QString& text, lxw_format* f)
{
    const QByteArray s = utf8(text);
    if (last > first)
        worksheet_merge_range(ws, row, lxw_col_t(first), row, lxw_col_t(last), s.constData(), f);
    else
        worksheet_write_string(ws, row, lxw_col_t(first), s.constData(), f);
}

} // namespace

Status writeChartBook(const ChartBook& book, const QString& path)
{
    const QFileInfo target(path);
    if (!target.absoluteDir().exists())
        return Status::failure(
            QStringLiteral("cannot write %1: the folder %2 does not exist").arg(path, target.absolutePath()));
    const int columns = int(book.headers.size());
    if (columns == 0)
        return Status::failure(QStringLiteral("cannot write %1: the table has no columns").arg(path));

    // Written beside the target and renamed at the end, so a failure leaves no half file.
    const QString partial = target.absoluteFilePath() + QStringLiteral(".part");
    QFile::remove(partial);
    const QByteArray partialName = QFile::encodeName(partial);
    lxw_workbook* wb = workbook_new(partialName.constData());
    if (!wb)
        return Status::failure(
            QStringLiteral("cannot write %1: the spreadsheet library refused the file").arg(path));
    const QString sheetName = xlsxSheetName(book.sheetName.isEmpty() ? book.title : book.sheetName);
    const QByteArray sheetUtf8 = utf8(sheetName);
    lxw_worksheet* ws = workbook_add_worksheet(wb, sheetUtf8.constData());
    if (!ws) {
        workbook_close(wb);
        QFile::remove(partial);
        return Status::failure(QStringLiteral("cannot write %1: bad sheet name %2").arg(path, sheetName));
    }
    Formats formats(wb);
    const int last = columns - 1;
    QList<double> widths(columns, 6.0);

    lxw_row_t row = 0;
    // The title lines over the first columns at most, so a wide table shows them where it starts.
    const int lastTitleColumn = std::min(last, 9);
    if (!book.title.isEmpty()) {
        worksheet_set_row(ws, row, 30, nullptr);
        mergeOrWrite(ws, row, 0, lastTitleColumn, book.title, formats.title());
        ++row;
    }
    for (const auto& [left, right] : book.lines) {
        // The left text over the first half, the right text over the rest.
        const int split = right.isEmpty() ? lastTitleColumn : std::max(0, lastTitleColumn / 2);
        if (!left.isEmpty() || right.isEmpty())
            mergeOrWrite(ws, row, 0, split, left, formats.line(false));
        if (!right.isEmpty() && split < lastTitleColumn)
            mergeOrWrite(ws, row, split + 1, lastTitleColumn, right, formats.line(true));
        else if (!right.isEmpty())
            worksheet_write_string(ws, row, 0, utf8(left + QStringLiteral("  ") + right).constData(),
                                   formats.line(false));
        ++row;
    }
    const lxw_row_t headerRow = row;
    for (int c = 0; c < columns; ++c) {
        worksheet_write_string(ws, row, lxw_col_t(c), utf8(book.headers[c]).constData(), formats.header());
        widths[c] = std::max(widths[c], std::min(textUnits(book.headers[c]) + 2, 14.0));
    }
    ++row;
    const lxw_row_t firstDataRow = row;
    for (const QList<ChartBookCell>& cells : book.rows) {
        for (int c = 0; c < columns; ++c) {
            const ChartBookCell cell = cells.value(c);
            if (!cell.numeric) {
                lxw_format* f = formats.cell(QString());
                widths[c] = std::max(widths[c], textUnits(cell.text) + 2);
                if (cell.text.isEmpty())
                    worksheet_write_blank(ws, row, lxw_col_t(c), f);
                else
                    worksheet_write_string(ws, row, lxw_col_t(c), utf8(cell.text).constData(), f);
                continue;
            }
            lxw_format* f = formats.cell(numberFormat(cell.mask));
            if (cell.number) {
                worksheet_write_number(ws, row, lxw_col_t(c), *cell.number, f);
                const double shown = cell.mask == u"###%" ? 5 : QString::number(*cell.number, 'f', 2).size();
                widths[c] = std::max(widths[c], shown + 3);
            } else {
                worksheet_write_blank(ws, row, lxw_col_t(c), f);
            }
        }
        ++row;
    }
    const lxw_row_t lastDataRow = row - 1;
    double tableWidthPixels = 0;
    for (int c = 0; c < columns; ++c) {
        const double w = std::min(widths[c], 40.0);
        worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), w, nullptr);
        tableWidthPixels += w * 7 + 5;
    }
    worksheet_freeze_panes(ws, headerRow + 1, 0);
    setUpSheetPrinting(ws, {book.landscape, int(headerRow) + 1});

    // The charts under the table, as wide as the table (within reason).
    auto fonts = std::make_unique<ChartFonts>();
    lxw_row_t chartRow = row + 1;
    const double width = std::clamp(tableWidthPixels, 640.0, 1400.0);
    for (const ChartBookChart& spec : book.charts) {
        if (book.rows.isEmpty())
            break;
        const uint8_t type = spec.kind == ChartBookChart::Bar      ? LXW_CHART_BAR
                             : spec.kind == ChartBookChart::Column ? LXW_CHART_COLUMN
                                                                   : LXW_CHART_LINE;
        lxw_chart* chart = workbook_add_chart(wb, type);
        if (!chart)
            continue;
        if (spec.seriesInRows) {
            const int firstValue = book.firstValueColumn;
            for (const int r : spec.rows) {
                if (r < 0 || r >= book.rows.size())
                    continue;
                const lxw_row_t at = firstDataRow + lxw_row_t(r);
                lxw_chart_series* s = chart_add_series(chart, nullptr, nullptr);
                chart_series_set_categories(s, sheetUtf8.constData(), headerRow, lxw_col_t(firstValue),
                                            headerRow, lxw_col_t(last));
                chart_series_set_values(s, sheetUtf8.constData(), at, lxw_col_t(firstValue), at,
                                        lxw_col_t(last));
                chart_series_set_name_range(s, sheetUtf8.constData(), at, lxw_col_t(book.nameColumn));
                if (spec.kind == ChartBookChart::Line) {
                    chart_series_set_marker_type(s, LXW_CHART_MARKER_CIRCLE);
                    chart_series_set_marker_size(s, 5);
                }
            }
        } else {
            lxw_chart_series* s = chart_add_series(chart, nullptr, nullptr);
            chart_series_set_categories(s, sheetUtf8.constData(), firstDataRow, lxw_col_t(book.nameColumn),
                                        lastDataRow, lxw_col_t(book.nameColumn));
            chart_series_set_values(s, sheetUtf8.constData(), firstDataRow, lxw_col_t(spec.valueColumn),
                                    lastDataRow, lxw_col_t(spec.valueColumn));
            chart_series_set_name_range(s, sheetUtf8.constData(), headerRow, lxw_col_t(spec.valueColumn));
            chart_legend_set_position(chart, LXW_CHART_LEGEND_NONE);
        }
        if (!spec.title.isEmpty()) {
            chart_title_set_name(chart, utf8(spec.title).constData());
            chart_title_set_name_font(chart, &fonts->title);
        }
        // A month without a figure is a gap, never a zero.
        chart_show_blanks_as(chart, LXW_CHART_BLANKS_AS_GAP);
        // In a bar chart the library's x axis is the horizontal one: the values.
        const bool bar = spec.kind == ChartBookChart::Bar;
        lxw_chart_axis* values = bar ? chart->x_axis : chart->y_axis;
        lxw_chart_axis* categories = bar ? chart->y_axis : chart->x_axis;
        const QByteArray format = utf8(numberFormat(spec.mask));
        chart_axis_set_num_format(values, format.isEmpty() ? "General" : format.constData());
        chart_axis_set_num_font(values, &fonts->axis);
        chart_axis_set_num_font(categories, &fonts->axis);
        if (bar)
            chart_axis_set_reverse(categories); // the first (highest) on top
        if (spec.seriesInRows)
            chart_legend_set_position(chart, LXW_CHART_LEGEND_BOTTOM);
        chart_legend_set_font(chart, &fonts->legend);

        double height = 360;
        if (spec.kind == ChartBookChart::Bar)
            height = std::clamp(80.0 + 22.0 * double(book.rows.size()), 240.0, 1600.0);
        lxw_chart_options options{};
        options.x_scale = width / kChartWidth;
        options.y_scale = height / kChartHeight;
        options.object_position = LXW_OBJECT_MOVE_DONT_SIZE;
        worksheet_insert_chart_opt(ws, chartRow, 0, chart, &options);
        chartRow += lxw_row_t(height / kRowPixels) + 2;
    }

    const QByteArray title = utf8(book.documentTitle);
    const QByteArray subject = utf8(book.subject);
    lxw_doc_properties properties{};
    properties.title = const_cast<char*>(title.constData());
    properties.subject = const_cast<char*>(subject.constData());
    workbook_set_properties(wb, &properties);

    const lxw_error err = workbook_close(wb);
    if (err != LXW_NO_ERROR) {
        QFile::remove(partial);
        return Status::failure(
            QStringLiteral("cannot write %1: %2").arg(path, QString::fromUtf8(lxw_strerror(err))));
    }
    if (QFile::exists(path) && !QFile::remove(path)) {
        QFile::remove(partial);
        return Status::failure(
            QStringLiteral("cannot write %1: the file exists and cannot be replaced").arg(path));
    }
    if (!QFile::rename(partial, path)) {
        QFile::remove(partial);
        return Status::failure(
            QStringLiteral("cannot write %1: cannot move the finished file in place").arg(path));
    }
    return Status::success();
}

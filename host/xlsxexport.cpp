#include "host/xlsxexport.h"

#include "foundation/gridbuffer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>
#include <algorithm>
#include <xlsxwriter.h>

namespace {

// Border colour of the grids on screen and on paper (teal).
constexpr lxw_color_t kBorder = 0x008080;
constexpr lxw_color_t kHeaderFill = 0xDDEBEB;
constexpr double kMaxWidth = 60.0;

// What a column of the sheet shows.
struct SheetColumn
{
    int layoutColumn = -1; // -1: the row number
    QString name;
    QString header;
    bool numeric = false;
    Qt::Alignment alignment;
};

// Display width in spreadsheet character units: CJK and full-width characters
// take two.
double textWidth(const QString& text)
{
    double w = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) ||
                          (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
                          (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) ||
                          (u >= 0xFFE0 && u <= 0xFFE6);
        w += wide ? 2.1 : 1.1;
    }
    return w;
}

// The spreadsheet number format for a grid mask.
QString numberFormat(const QString& mask)
{
    if (mask == u"###%")
        return QStringLiteral("0%");
    if (mask == u"0.00")
        return QStringLiteral("0.00");
    if (mask.isEmpty() || mask == u"[general]")
        return QString();
    // Another grid mask: the spreadsheet reads the same picture characters.
    return mask;
}

// Formats are made once per distinct look and shared by the cells.
class Formats final
{
public:
    explicit Formats(lxw_workbook* wb) : m_wb(wb) {}

    lxw_format* title()
    {
        if (!m_title) {
            m_title = workbook_add_format(m_wb);
            format_set_bold(m_title);
            format_set_font_size(m_title, 16);
            format_set_align(m_title, LXW_ALIGN_CENTER);
            format_set_align(m_title, LXW_ALIGN_VERTICAL_CENTER);
        }
        return m_title;
    }
    lxw_format* line(Qt::Alignment a)
    {
        const int key = int(a & Qt::AlignHorizontal_Mask);
        if (!m_lines.contains(key)) {
            lxw_format* f = workbook_add_format(m_wb);
            format_set_font_size(f, 11);
            format_set_align(f, horizontal(a));
            format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
            m_lines.insert(key, f);
        }
        return m_lines.value(key);
    }
    lxw_format* header()
    {
        if (!m_header) {
            m_header = workbook_add_format(m_wb);
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
    // A body cell: its number format (empty for text), alignment and fill.
    lxw_format* cell(const QString& numFormat, Qt::Alignment a, QRgb fill)
    {
        const QString key =
            QStringLiteral("%1|%2|%3").arg(numFormat).arg(int(a & Qt::AlignHorizontal_Mask)).arg(fill);
        auto it = m_cells.find(key);
        if (it != m_cells.end())
            return it.value();
        lxw_format* f = workbook_add_format(m_wb);
        format_set_border(f, LXW_BORDER_THIN);
        format_set_border_color(f, kBorder);
        format_set_align(f, horizontal(a));
        format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
        if (!numFormat.isEmpty())
            format_set_num_format(f, numFormat.toUtf8().constData());
        if ((fill & 0xFFFFFF) != 0xFFFFFF)
            format_set_bg_color(f, lxw_color_t(fill & 0xFFFFFF));
        m_cells.insert(key, f);
        return f;
    }

private:
    static uint8_t horizontal(Qt::Alignment a)
    {
        if (a & Qt::AlignRight)
            return LXW_ALIGN_RIGHT;
        if (a & Qt::AlignHCenter)
            return LXW_ALIGN_CENTER;
        return LXW_ALIGN_LEFT;
    }

    lxw_workbook* m_wb;
    lxw_format* m_title = nullptr;
    lxw_format* m_header = nullptr;
    QHash<int, lxw_format*> m_lines;
    QHash<QString, lxw_format*> m_cells;
};

QByteArray utf8(const QString& s)
{
    return s.toUtf8();
}

} // namespace

QString xlsxSheetName(const QString& title)
{
    QString name;
    for (const QChar c : title.trimmed()) {
        if (QStringLiteral("[]:*?/\\").contains(c) || c.unicode() < 0x20)
            continue;
        name += c;
    }
    // A name may not start or end with an apostrophe.
    while (name.startsWith(u'\''))
        name.remove(0, 1);
    name = name.left(31);
    while (name.endsWith(u'\''))
        name.chop(1);
    if (name.trimmed().isEmpty())
        name = QStringLiteral("Sheet1");
    return name;
}

namespace {

// Writes the grid into a sheet of the workbook: the title and header lines,
// the column headers, the rows as the grid shows them. False when the grid
// shows no columns.
bool writeGridSheet(lxw_worksheet* ws, Formats& formats, const GridBuffer& grid)
{
    const GridLayout& layout = grid.layout();
    // The columns the grid shows, in its display order, the row number first.
    QList<SheetColumn> columns;
    if (layout.rowNumber)
        columns.append({-1, QString(), layout.rowNumberHeader, true, Qt::AlignHCenter});
    for (int i = 0; i < layout.columns.size(); ++i) {
        const GridColumn& c = layout.columns[i];
        if (!c.visible || c.width <= 0)
            continue;
        const bool numeric = c.type != ColumnType::Text;
        Qt::Alignment a = c.alignment;
        if (numeric && !(a & Qt::AlignHorizontal_Mask & ~Qt::AlignLeft))
            a = Qt::AlignRight;
        columns.append({i, c.name, c.header, numeric, a});
    }
    if (columns.isEmpty())
        return false;
    const int lastColumn = int(columns.size()) - 1;

    // Title and header lines: the texts of the grid's bands grouped by line.
    QMap<int, QList<const GridText*>> lines;
    for (const GridText& t : layout.texts)
        lines[t.line].append(&t);

    QList<double> widths(columns.size(), 6.0);
    lxw_row_t row = 0;
    bool first = true;
    for (auto it = lines.cbegin(); it != lines.cend(); ++it) {
        QList<QPair<QString, Qt::Alignment>> texts;
        for (const GridText* t : it.value()) {
            const QString s = grid.text(t->name);
            if (!s.trimmed().isEmpty())
                texts.append({s, t->alignment});
        }
        if (texts.isEmpty()) {
            first = false;
            continue;
        }
        if (first) {
            // The title line, merged across the table.
            const QString title = texts.first().first;
            worksheet_set_row(ws, row, 28, nullptr);
            if (lastColumn > 0)
                worksheet_merge_range(ws, row, 0, row, lxw_col_t(lastColumn), utf8(title).constData(),
                                      formats.title());
            else
                worksheet_write_string(ws, row, 0, utf8(title).constData(), formats.title());
            first = false;
        } else if (texts.size() == 1 || lastColumn < 1) {
            QStringList all;
            for (const auto& t : texts)
                all << t.first;
            const QByteArray s = utf8(all.join(QStringLiteral("    ")));
            lxw_format* f = formats.line(texts.first().second);
            if (lastColumn > 0)
                worksheet_merge_range(ws, row, 0, row, lxw_col_t(lastColumn), s.constData(), f);
            else
                worksheet_write_string(ws, row, 0, s.constData(), f);
        } else {
            // Two or more texts on one line: the first on the left half, the rest on the right.
            const int split = (lastColumn + 1) / 2;
            QStringList rest;
            for (qsizetype i = 1; i < texts.size(); ++i)
                rest << texts[i].first;
            const QByteArray left = utf8(texts.first().first);
            const QByteArray right = utf8(rest.join(QStringLiteral("    ")));
            if (split - 1 > 0)
                worksheet_merge_range(ws, row, 0, row, lxw_col_t(split - 1), left.constData(),
                                      formats.line(Qt::AlignLeft));
            else
                worksheet_write_string(ws, row, 0, left.constData(), formats.line(Qt::AlignLeft));
            if (lastColumn > split)
                worksheet_merge_range(ws, row, lxw_col_t(split), row, lxw_col_t(lastColumn),
                                      right.constData(), formats.line(Qt::AlignRight));
            else
                worksheet_write_string(ws, row, lxw_col_t(split), right.constData(),
                                       formats.line(Qt::AlignRight));
        }
        ++row;
    }

    // Column headers.
    const lxw_row_t headerRow = row;
    for (int c = 0; c <= lastColumn; ++c) {
        worksheet_write_string(ws, row, lxw_col_t(c), utf8(columns[c].header).constData(), formats.header());
        widths[c] = std::max(widths[c], textWidth(columns[c].header) + 2);
    }
    ++row;

    // The rows as the grid shows them.
    const long rows = grid.RowCount();
    for (long r = 1; r <= rows; ++r, ++row) {
        const QRgb fill = grid.rowBackground(r);
        for (int c = 0; c <= lastColumn; ++c) {
            const SheetColumn& col = columns[c];
            if (col.layoutColumn < 0) {
                worksheet_write_number(ws, row, lxw_col_t(c), double(r),
                                       formats.cell(QString(), col.alignment, fill));
                widths[c] = std::max(widths[c], textWidth(QString::number(r)) + 2);
                continue;
            }
            const QString shown = grid.displayText(r, col.name);
            widths[c] = std::max(widths[c], textWidth(shown) + 2);
            if (!col.numeric) {
                lxw_format* f = formats.cell(QString(), col.alignment, fill);
                if (shown.isEmpty())
                    worksheet_write_blank(ws, row, lxw_col_t(c), f);
                else
                    worksheet_write_string(ws, row, lxw_col_t(c), utf8(shown).constData(), f);
                continue;
            }
            const std::optional<Decimal> value = grid.GetItemDecimal(r, col.name);
            lxw_format* f = formats.cell(numberFormat(grid.maskFor(r, col.name)), col.alignment, fill);
            // Blank on screen (null, or tidied away): an empty cell, not a zero.
            if (!value || shown.trimmed().isEmpty())
                worksheet_write_blank(ws, row, lxw_col_t(c), f);
            else
                worksheet_write_number(ws, row, lxw_col_t(c), value->toDouble(), f);
        }
    }
    for (int c = 0; c <= lastColumn; ++c)
        worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), std::min(widths[c], kMaxWidth), nullptr);
    // The header row stays in view while scrolling.
    worksheet_freeze_panes(ws, headerRow + 1, 0);
    return true;
}

// The sheet title of a grid: the first text of its title line.
QString gridSheetTitle(const GridBuffer& grid)
{
    QMap<int, QList<const GridText*>> lines;
    for (const GridText& t : grid.layout().texts)
        lines[t.line].append(&t);
    QString title;
    if (!lines.isEmpty())
        for (const GridText* t : lines.first())
            if (title.isEmpty())
                title = grid.text(t->name).trimmed();
    return title;
}

// Moves the finished partial file in place of the target.
Status finishFile(const QString& partial, const QString& path)
{
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

} // namespace

Status writeXlsx(const GridBuffer& grid, const QString& path)
{
    XlsxBook book(path);
    if (!book.isOpen())
        return Status::failure(book.error());
    const int sheet = book.addSheet(gridSheetTitle(grid));
    if (sheet < 0)
        return Status::failure(book.error());
    if (const Status s = book.writeGrid(sheet, grid); !s)
        return s;
    return book.close();
}

struct XlsxBook::Book
{
    lxw_workbook* wb = nullptr;
    std::unique_ptr<Formats> formats;
    QList<lxw_worksheet*> sheets;
    QSet<QString> names;
};

XlsxBook::XlsxBook(QString path) : m_path(std::move(path)), m_book(std::make_unique<Book>())
{
    const QFileInfo target(m_path);
    if (!target.absoluteDir().exists()) {
        m_error = QStringLiteral("cannot write %1: the folder %2 does not exist")
                      .arg(m_path, target.absolutePath());
        return;
    }
    // Written beside the target and renamed at the end, so a failure leaves no half file.
    m_partial = target.absoluteFilePath() + QStringLiteral(".part");
    QFile::remove(m_partial);
    const QByteArray partialName = QFile::encodeName(m_partial);
    m_book->wb = workbook_new(partialName.constData());
    if (!m_book->wb) {
        m_error = QStringLiteral("cannot write %1: the spreadsheet library refused the file").arg(m_path);
        return;
    }
    m_book->formats = std::make_unique<Formats>(m_book->wb);
}

XlsxBook::~XlsxBook()
{
    abandon();
}

bool XlsxBook::isOpen() const
{
    return m_book->wb != nullptr;
}

int XlsxBook::addSheet(const QString& title)
{
    if (!m_book->wb)
        return -1;
    // Sheet names are unique regardless of case.
    QString name = xlsxSheetName(title);
    for (int n = 2; m_book->names.contains(name.toLower()); ++n) {
        const QString suffix = QStringLiteral(" (%1)").arg(n);
        name = xlsxSheetName(title).left(31 - suffix.size()) + suffix;
    }
    const QByteArray utf = utf8(name);
    lxw_worksheet* ws = workbook_add_worksheet(m_book->wb, utf.constData());
    if (!ws) {
        m_error = QStringLiteral("cannot write %1: bad sheet name %2").arg(m_path, name);
        return -1;
    }
    m_book->names.insert(name.toLower());
    m_book->sheets.append(ws);
    return int(m_book->sheets.size()) - 1;
}

Status XlsxBook::writeGrid(int sheet, const GridBuffer& grid)
{
    if (!m_book->wb || sheet < 0 || sheet >= m_book->sheets.size())
        return Status::failure(QStringLiteral("cannot write %1: no such sheet").arg(m_path));
    if (!writeGridSheet(m_book->sheets[sheet], *m_book->formats, grid))
        return Status::failure(QStringLiteral("cannot write %1: the grid shows no columns").arg(m_path));
    return Status::success();
}

Status XlsxBook::writeTable(int sheet, const XlsxTable& table)
{
    if (!m_book->wb || sheet < 0 || sheet >= m_book->sheets.size())
        return Status::failure(QStringLiteral("cannot write %1: no such sheet").arg(m_path));
    lxw_worksheet* ws = m_book->sheets[sheet];
    Formats& formats = *m_book->formats;
    const int lastColumn = int(table.headers.size()) - 1;
    if (lastColumn < 0)
        return Status::failure(QStringLiteral("cannot write %1: the table has no columns").arg(m_path));
    QList<double> widths(table.headers.size(), 6.0);
    lxw_row_t row = 0;
    // Title lines over the first columns at most, so a wide table shows them on its first page.
    const int lastTitleColumn = std::min(lastColumn, table.frozenColumns + 4);
    if (!table.title.isEmpty()) {
        worksheet_set_row(ws, row, 28, nullptr);
        if (lastTitleColumn > 0)
            worksheet_merge_range(ws, row, 0, row, lxw_col_t(lastTitleColumn), utf8(table.title).constData(),
                                  formats.title());
        else
            worksheet_write_string(ws, row, 0, utf8(table.title).constData(), formats.title());
        ++row;
    }
    if (!table.subtitle.isEmpty()) {
        const QByteArray s = utf8(table.subtitle);
        if (lastTitleColumn > 0)
            worksheet_merge_range(ws, row, 0, row, lxw_col_t(lastTitleColumn), s.constData(),
                                  formats.line(Qt::AlignLeft));
        else
            worksheet_write_string(ws, row, 0, s.constData(), formats.line(Qt::AlignLeft));
        ++row;
    }
    const lxw_row_t headerRow = row;
    // Headers of two lines (code and name) get the height of two lines.
    bool twoLines = false;
    for (const QString& h : table.headers)
        twoLines = twoLines || h.contains(u'\n');
    if (twoLines)
        worksheet_set_row(ws, row, 30, nullptr);
    for (int c = 0; c <= lastColumn; ++c) {
        worksheet_write_string(ws, row, lxw_col_t(c), utf8(table.headers[c]).constData(), formats.header());
        widths[c] = std::max(widths[c], std::min(textWidth(table.headers[c]) + 2, 16.0));
    }
    ++row;
    for (const QList<XlsxCell>& cells : table.rows) {
        for (int c = 0; c <= lastColumn && c < cells.size(); ++c) {
            const XlsxCell& cell = cells[c];
            if (!cell.numeric) {
                lxw_format* f = formats.cell(QString(), Qt::AlignLeft, qRgb(255, 255, 255));
                widths[c] = std::max(widths[c], textWidth(cell.text) + 2);
                if (cell.text.isEmpty())
                    worksheet_write_blank(ws, row, lxw_col_t(c), f);
                else
                    worksheet_write_string(ws, row, lxw_col_t(c), utf8(cell.text).constData(), f);
                continue;
            }
            lxw_format* f = formats.cell(numberFormat(cell.mask), Qt::AlignRight, qRgb(255, 255, 255));
            widths[c] = std::max(widths[c], textWidth(cell.text) + 2);
            if (cell.number)
                worksheet_write_number(ws, row, lxw_col_t(c), *cell.number, f);
            else
                worksheet_write_blank(ws, row, lxw_col_t(c), f);
        }
        ++row;
    }
    for (int c = 0; c <= lastColumn; ++c)
        worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), std::min(widths[c], kMaxWidth), nullptr);
    // The header row and the text columns stay in view while scrolling.
    worksheet_freeze_panes(ws, headerRow + 1, lxw_col_t(std::max(0, table.frozenColumns)));
    return Status::success();
}

Status XlsxBook::close()
{
    if (!m_book->wb)
        return Status::failure(m_error.isEmpty() ? QStringLiteral("cannot write %1").arg(m_path) : m_error);
    const lxw_error err = workbook_close(m_book->wb);
    m_book->wb = nullptr;
    m_book->formats.reset();
    if (err != LXW_NO_ERROR) {
        QFile::remove(m_partial);
        return Status::failure(
            QStringLiteral("cannot write %1: %2").arg(m_path, QString::fromUtf8(lxw_strerror(err))));
    }
    return finishFile(m_partial, m_path);
}

void XlsxBook::abandon()
{
    if (!m_book->wb)
        return;
    // The library writes the file when the workbook closes; the half book goes with it.
    workbook_close(m_book->wb);
    m_book->wb = nullptr;
    m_book->formats.reset();
    QFile::remove(m_partial);
}

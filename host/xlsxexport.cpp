// SPDX-License-Identifier: GPL-3.0-or-later
// Spreadsheets written cell by cell: a grid or a table into a sheet with the
// grid's formats, and the workbook finished whole with its document information.
#include "host/xlsxexport.h"

#include "foundation/fonts.h"
#include "foundation/gridbuffer.h"
#include "foundation/gridprint.h"
#include "foundation/safefile.h"
#include "foundation/version.h"
#include "host/xlsxmeasure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QImage>
#include <QMap>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>
#include <xlsxwriter.h>
#include <zip.h>

namespace {

// Border colour of the grids on screen and on paper (teal).
constexpr lxw_color_t kBorder = 0x008080;
constexpr lxw_color_t kHeaderFill = 0xDDEBEB;

// The fonts the sheet names for its table; the title band keeps the grid's own.
const QString kSong = QStringLiteral("宋体");
constexpr double kCellPoints = 11;

constexpr double kMinWidth = 6;
constexpr double kMaxTextWidth = 60; // longer texts wrap inside the column
constexpr double kLinePoints = 15;   // one line of 11 pt text
constexpr double kRowPoints = 18;    // a detail row of one line
constexpr double kTitleRowPoints = 30;

// What a column of the sheet shows.
struct SheetColumn
{
    int layoutColumn = -1; // -1: the row number
    QString name;
    QString header;
    bool numeric = false;
    Qt::Alignment alignment;
};

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

QByteArray utf8(const QString& s)
{
    return s.toUtf8();
}

// Formats are made once per distinct look and shared by the cells.
class Formats final
{
public:
    explicit Formats(lxw_workbook* wb) : m_wb(wb) {}

    // A band text (title, period, unit) in its own font.
    lxw_format* band(const GridText& t, Qt::Alignment a)
    {
        const QString key = QStringLiteral("%1|%2|%3|%4")
                                .arg(t.family)
                                .arg(t.pointSize)
                                .arg(t.bold)
                                .arg(int(a & Qt::AlignHorizontal_Mask));
        auto it = m_bands.find(key);
        if (it != m_bands.end())
            return it.value();
        lxw_format* f = workbook_add_format(m_wb);
        format_set_font_name(f, utf8(t.family).constData());
        format_set_font_size(f, t.pointSize);
        if (t.bold)
            format_set_bold(f);
        format_set_align(f, horizontal(a));
        format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
        m_bands.insert(key, f);
        return f;
    }
    // The title and other lines of a plain table, in the sheet's font.
    lxw_format* title()
    {
        GridText t;
        t.family = kSong;
        t.pointSize = 16;
        t.bold = true;
        return band(t, Qt::AlignLeft);
    }
    lxw_format* line(Qt::Alignment a)
    {
        GridText t;
        t.family = kSong;
        t.pointSize = int(kCellPoints);
        return band(t, a);
    }
    lxw_format* header()
    {
        if (!m_header) {
            m_header = workbook_add_format(m_wb);
            format_set_font_name(m_header, utf8(kSong).constData());
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
    // A body cell: its number format (empty for text), alignment and fill.
    // Text wraps inside its column rather than running into the next.
    lxw_format* cell(const QString& numFormat, Qt::Alignment a, QRgb fill, bool wrap)
    {
        const QString key = QStringLiteral("%1|%2|%3|%4")
                                .arg(numFormat)
                                .arg(int(a & Qt::AlignHorizontal_Mask))
                                .arg(fill)
                                .arg(wrap);
        auto it = m_cells.find(key);
        if (it != m_cells.end())
            return it.value();
        lxw_format* f = workbook_add_format(m_wb);
        format_set_font_name(f, utf8(kSong).constData());
        format_set_font_size(f, kCellPoints);
        format_set_border(f, LXW_BORDER_THIN);
        format_set_border_color(f, kBorder);
        format_set_align(f, horizontal(a));
        format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
        if (wrap)
            format_set_text_wrap(f);
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
    lxw_format* m_header = nullptr;
    QHash<QString, lxw_format*> m_bands;
    QHash<QString, lxw_format*> m_cells;
};

// A chart part as that other program reads it: the library leaves out what
// it assumes by default (blank cells as gaps, straight lines), and readers
// that take the file format's own defaults for files of other programs would
// join the gaps as zeros and draw curves. Written out, every reader agrees.
void spellOutChartDefaults(QByteArray& chart)
{
    if (!chart.contains("<c:dispBlanksAs"))
        chart.replace("<c:plotVisOnly val=\"1\"/>",
                      "<c:plotVisOnly val=\"1\"/><c:dispBlanksAs val=\"gap\"/>");
    if (chart.contains("<c:lineChart>") && !chart.contains("<c:smooth"))
        chart.replace("</c:ser>", "<c:smooth val=\"0\"/></c:ser>");
}

// A file in memory that the spreadsheet and zip libraries write and read by
// name (they take nothing else): the workbook is made and finished here, and
// only its final bytes go to the target, through a SafeFile that sees every
// failure of the disk with its reason (the library would lose the reason and
// could leave a cut file in place).
class MemoryFile final
{
public:
    MemoryFile() : m_fd(::memfd_create("allstats-xlsx", MFD_CLOEXEC)) {}
    ~MemoryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool isValid() const { return m_fd >= 0; }
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(m_fd); }
    // All bytes written; false with errno set when they cannot be read.
    bool read(QByteArray* bytes) const
    {
        struct stat st = {};
        if (::fstat(m_fd, &st) != 0)
            return false;
        bytes->resize(qsizetype(st.st_size));
        qsizetype done = 0;
        while (done < bytes->size()) {
            const ssize_t n = ::pread(m_fd, bytes->data() + done, size_t(bytes->size() - done), off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n == 0)
                    errno = EIO;
                return false;
            }
            done += n;
        }
        return true;
    }

private:
    int m_fd = -1;
};

// libxlsxwriter names another program as the workbook's application in
// docProps/app.xml and offers no way to change it, so that one part is
// rewritten after the package is written (and the chart parts with it); every
// other part is copied as is.
bool nameApplication(const QString& from, const QString& to, QString* why)
{
    const QByteArray fromName = QFile::encodeName(from);
    const QByteArray toName = QFile::encodeName(to);
    unzFile in = unzOpen64(fromName.constData());
    if (!in) {
        *why = QStringLiteral("the written package cannot be read");
        return false;
    }
    zipFile out = zipOpen64(toName.constData(), APPEND_STATUS_CREATE);
    if (!out) {
        unzClose(in);
        *why = QStringLiteral("the package cannot be rewritten: %1").arg(systemErrorText(errno));
        return false;
    }
    bool ok = unzGoToFirstFile(in) == UNZ_OK;
    while (ok) {
        unz_file_info64 info{};
        char name[512];
        ok = unzGetCurrentFileInfo64(in, &info, name, sizeof name, nullptr, 0, nullptr, 0) == UNZ_OK &&
             unzOpenCurrentFile(in) == UNZ_OK;
        if (!ok)
            break;
        QByteArray data(qsizetype(info.uncompressed_size), Qt::Uninitialized);
        const int read = data.isEmpty() ? 0 : unzReadCurrentFile(in, data.data(), unsigned(data.size()));
        ok = unzCloseCurrentFile(in) == UNZ_OK && read == data.size();
        if (!ok)
            break;
        if (qstrcmp(name, "docProps/app.xml") == 0) {
            const QByteArray application = allstatsNameAndVersion().toHtmlEscaped().toUtf8();
            data.replace("<Application>Microsoft Excel</Application>",
                         "<Application>" + application + "</Application>");
            // The version field is the other program's; ours is in the name.
            data.replace("<AppVersion>12.0000</AppVersion>", "");
        }
        if (qstrncmp(name, "xl/charts/chart", 15) == 0)
            spellOutChartDefaults(data);
        zip_fileinfo z{};
        z.tmz_date.tm_sec = info.tmu_date.tm_sec;
        z.tmz_date.tm_min = info.tmu_date.tm_min;
        z.tmz_date.tm_hour = info.tmu_date.tm_hour;
        z.tmz_date.tm_mday = info.tmu_date.tm_mday;
        z.tmz_date.tm_mon = info.tmu_date.tm_mon;
        z.tmz_date.tm_year = info.tmu_date.tm_year;
        ok = zipOpenNewFileInZip(out, name, &z, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                 Z_DEFAULT_COMPRESSION) == ZIP_OK &&
             zipWriteInFileInZip(out, data.constData(), unsigned(data.size())) == ZIP_OK &&
             zipCloseFileInZip(out) == ZIP_OK;
        if (!ok)
            break;
        const int next = unzGoToNextFile(in);
        if (next == UNZ_END_OF_LIST_OF_FILE)
            break;
        ok = next == UNZ_OK;
    }
    unzClose(in);
    if (zipClose(out, nullptr) != ZIP_OK)
        ok = false;
    if (!ok)
        *why = QStringLiteral("the package cannot be rewritten");
    return ok;
}

} // namespace

struct XlsxWorkbook::Private
{
    QString path;
    std::unique_ptr<MemoryFile> raw; // what the library writes
    lxw_workbook* wb = nullptr;
    std::unique_ptr<Formats> formats;
    QSet<QString> sheetNames; // folded, as the spreadsheet compares them
    QList<lxw_worksheet*> sheets;
    QString error; // the first failure, reported by commit()
    std::optional<DocumentInfo> info;

    void discard()
    {
        if (wb) {
            workbook_close(wb);
            wb = nullptr;
        }
        raw.reset();
    }
};

XlsxWorkbook::XlsxWorkbook(const QString& path) : d(std::make_unique<Private>())
{
    const QFileInfo target(path);
    d->path = path;
    if (!target.absoluteDir().exists()) {
        d->error =
            QStringLiteral("cannot write %1: the folder %2 does not exist").arg(path, target.absolutePath());
        return;
    }
    // Made in memory; commit() writes the finished file whole or not at all.
    d->raw = std::make_unique<MemoryFile>();
    if (!d->raw->isValid()) {
        d->error = QStringLiteral("cannot write %1: %2").arg(path, systemErrorText(errno));
        return;
    }
    const QByteArray rawName = QFile::encodeName(d->raw->path());
    d->wb = workbook_new(rawName.constData());
    if (!d->wb) {
        d->error = QStringLiteral("cannot write %1: the spreadsheet library refused the file").arg(path);
        return;
    }
    d->formats = std::make_unique<Formats>(d->wb);
}

XlsxWorkbook::~XlsxWorkbook()
{
    d->discard();
}

bool XlsxWorkbook::isOpen() const
{
    return d->wb != nullptr;
}

QString XlsxWorkbook::error() const
{
    return d->error;
}

lxw_workbook* XlsxWorkbook::workbook() const
{
    return d->wb;
}

lxw_worksheet* XlsxWorkbook::worksheet(int sheet) const
{
    return d->wb && sheet >= 0 && sheet < d->sheets.size() ? d->sheets[sheet] : nullptr;
}

int XlsxWorkbook::newSheet(const QString& wanted)
{
    if (!d->wb)
        return -1;
    QString name = xlsxSheetName(wanted);
    for (int n = 2; d->sheetNames.contains(name.toCaseFolded()); ++n)
        name = xlsxSheetName(xlsxSheetName(wanted).left(25) + QStringLiteral(" (%1)").arg(n));
    const QByteArray sheetNameUtf8 = utf8(name);
    lxw_worksheet* ws = workbook_add_worksheet(d->wb, sheetNameUtf8.constData());
    if (!ws) {
        d->error = QStringLiteral("cannot write %1: bad sheet name %2").arg(d->path, name);
        return -1;
    }
    d->sheetNames.insert(name.toCaseFolded());
    d->sheets.append(ws);
    return int(d->sheets.size()) - 1;
}

void XlsxWorkbook::setInfo(const DocumentInfo& info)
{
    d->info = info;
}

namespace {

// A line of the title band: its texts as the grid shows them, with their fonts.
struct BandLine
{
    QList<QPair<const GridText*, QString>> texts;
    bool title = false;
};

} // namespace

namespace {

// The title and header lines of a grid: the texts of its bands grouped by
// line; the first line is the title. A line with no text takes no row.
QList<BandLine> gridBand(const GridBuffer& grid)
{
    QMap<int, QList<const GridText*>> grouped;
    for (const GridText& t : grid.layout().texts)
        grouped[t.line].append(&t);
    QList<BandLine> band;
    bool first = true;
    for (const QList<const GridText*>& texts : std::as_const(grouped)) {
        BandLine line;
        line.title = first;
        first = false;
        for (const GridText* t : texts) {
            const QString s = grid.text(t->name);
            if (!s.trimmed().isEmpty())
                line.texts.append({t, s});
        }
        if (!line.texts.isEmpty())
            band.append(line);
    }
    return band;
}

} // namespace

Status XlsxWorkbook::addSheet(const GridBuffer& grid, const QString& sheetName)
{
    if (!d->wb)
        return Status::failure(d->error);
    const QList<BandLine> band = gridBand(grid);
    const int sheet = newSheet(sheetName.isEmpty() && !band.isEmpty() && band.first().title
                                   ? band.first().texts.first().second
                                   : sheetName);
    if (sheet < 0)
        return Status::failure(d->error);
    return writeGrid(sheet, grid);
}

Status XlsxWorkbook::writeGrid(int sheet, const GridBuffer& grid)
{
    lxw_worksheet* ws = worksheet(sheet);
    if (!ws)
        return Status::failure(d->wb ? QStringLiteral("cannot write %1: no such sheet").arg(d->path)
                                     : d->error);
    const GridLayout& layout = grid.layout();

    // The columns the grid shows, in its display order, the row number first.
    QList<SheetColumn> columns;
    if (layout.rowNumber)
        columns.append({-1, QString(), layout.rowNumberHeader, true, Qt::AlignHCenter});
    for (const int i : layout.displayIndices()) {
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
        return Status::failure(QStringLiteral("cannot write %1: the grid shows no columns").arg(d->path));
    const int lastColumn = int(columns.size()) - 1;

    const QList<BandLine> band = gridBand(grid);
    Formats& formats = *d->formats;

    // Column widths: the widest text of each column in the sheet's cell font.
    TextMeasure measure;
    const long rows = grid.RowCount();
    QList<double> widths(columns.size(), kMinWidth);
    QList<QStringList> shown(rows);
    for (int c = 0; c <= lastColumn; ++c)
        widths[c] =
            std::max(widths[c], unitsFor(measure.pixels(columns[c].header, kSong, kCellPoints, true)));
    for (long r = 1; r <= rows; ++r) {
        QStringList& texts = shown[r - 1];
        for (int c = 0; c <= lastColumn; ++c) {
            const SheetColumn& col = columns[c];
            texts << (col.layoutColumn < 0 ? QString::number(r) : grid.displayText(r, col.name));
            widths[c] =
                std::max(widths[c], unitsFor(measure.pixels(texts.last(), kSong, kCellPoints, false)));
        }
    }
    for (int c = 0; c <= lastColumn; ++c)
        if (!columns[c].numeric)
            widths[c] = std::min(widths[c], kMaxTextWidth);

    // A merged band text must fit its merged cells: widen them when it does not.
    auto fit = [&](int from, int to, const GridText* t, const QString& text) {
        const double need = unitsFor(measure.pixels(text, t->family, t->pointSize, t->bold));
        double have = 0;
        for (int c = from; c <= to; ++c)
            have += widths[c];
        if (have >= need || have <= 0)
            return;
        const double factor = need / have;
        for (int c = from; c <= to; ++c)
            widths[c] *= factor;
    };
    const int split = (lastColumn + 1) / 2;
    auto joined = [](const QList<QPair<const GridText*, QString>>& texts, qsizetype from) {
        QStringList all;
        for (qsizetype i = from; i < texts.size(); ++i)
            all << texts[i].second;
        return all.join(QStringLiteral("    "));
    };
    for (const BandLine& line : std::as_const(band)) {
        const GridText* t = line.texts.first().first;
        if (line.title || line.texts.size() == 1 || lastColumn < 1) {
            fit(0, lastColumn, t, joined(line.texts, 0));
        } else {
            fit(0, split - 1, t, line.texts.first().second);
            fit(split, lastColumn, line.texts[1].first, joined(line.texts, 1));
        }
    }

    lxw_row_t row = 0;
    for (const BandLine& line : std::as_const(band)) {
        const GridText* t = line.texts.first().first;
        if (line.title || line.texts.size() == 1 || lastColumn < 1) {
            const QByteArray s = utf8(joined(line.texts, 0));
            lxw_format* f = formats.band(*t, line.title ? Qt::AlignHCenter : t->alignment);
            if (lastColumn > 0)
                worksheet_merge_range(ws, row, 0, row, lxw_col_t(lastColumn), s.constData(), f);
            else
                worksheet_write_string(ws, row, 0, s.constData(), f);
        } else {
            // Two or more texts on one line: the first on the left half, the rest on the right.
            const QByteArray left = utf8(line.texts.first().second);
            const QByteArray right = utf8(joined(line.texts, 1));
            lxw_format* leftFormat = formats.band(*t, Qt::AlignLeft);
            lxw_format* rightFormat = formats.band(*line.texts[1].first, Qt::AlignRight);
            if (split - 1 > 0)
                worksheet_merge_range(ws, row, 0, row, lxw_col_t(split - 1), left.constData(), leftFormat);
            else
                worksheet_write_string(ws, row, 0, left.constData(), leftFormat);
            if (lastColumn > split)
                worksheet_merge_range(ws, row, lxw_col_t(split), row, lxw_col_t(lastColumn),
                                      right.constData(), rightFormat);
            else
                worksheet_write_string(ws, row, lxw_col_t(split), right.constData(), rightFormat);
        }
        int largest = 0;
        for (const auto& text : line.texts)
            largest = std::max(largest, text.first->pointSize);
        worksheet_set_row(ws, row, std::max(line.title ? kTitleRowPoints : kRowPoints, largest * 1.6),
                          nullptr);
        ++row;
    }

    // Column headers.
    const lxw_row_t headerRow = row;
    for (int c = 0; c <= lastColumn; ++c)
        worksheet_write_string(ws, row, lxw_col_t(c), utf8(columns[c].header).constData(), formats.header());
    worksheet_set_row(ws, row, kRowPoints + 4, nullptr);
    ++row;

    // The rows as the grid shows them; a row with wrapped text is as tall as its lines.
    for (long r = 1; r <= rows; ++r, ++row) {
        const QRgb fill = grid.rowBackground(r);
        int lines = 1;
        for (int c = 0; c <= lastColumn; ++c) {
            const SheetColumn& col = columns[c];
            // The tint falls on the layout's tinted columns only.
            const QRgb cellFill = layout.tints(col.name) ? fill : qRgb(255, 255, 255);
            const QString& text = shown[r - 1][c];
            if (col.layoutColumn < 0) {
                worksheet_write_number(ws, row, lxw_col_t(c), double(r),
                                       formats.cell(QString(), col.alignment, cellFill, false));
                continue;
            }
            if (!col.numeric) {
                lxw_format* f = formats.cell(QString(), col.alignment, cellFill, true);
                if (text.isEmpty()) {
                    worksheet_write_blank(ws, row, lxw_col_t(c), f);
                    continue;
                }
                worksheet_write_string(ws, row, lxw_col_t(c), utf8(text).constData(), f);
                const double room = std::max(1.0, pixelsFor(widths[c]));
                lines =
                    std::max(lines, int(std::ceil(measure.pixels(text, kSong, kCellPoints, false) / room)) +
                                        int(text.count(u'\n')));
                continue;
            }
            const std::optional<Decimal> value = grid.GetItemDecimal(r, col.name);
            lxw_format* f =
                formats.cell(numberFormat(grid.maskFor(r, col.name)), col.alignment, cellFill, false);
            // Blank on screen (null, or tidied away): an empty cell, not a zero.
            if (!value || text.trimmed().isEmpty())
                worksheet_write_blank(ws, row, lxw_col_t(c), f);
            else if (Decimal::fromVariant(QVariant(value->toDouble())) == value)
                worksheet_write_number(ws, row, lxw_col_t(c), value->toDouble(), f);
            else // beyond the 15 digits a spreadsheet number keeps: the exact figure as shown
                worksheet_write_string(ws, row, lxw_col_t(c), utf8(text).constData(), f);
        }
        worksheet_set_row(ws, row, std::max(kRowPoints, lines * kLinePoints + 4), nullptr);
    }
    for (int c = 0; c <= lastColumn; ++c)
        worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), std::ceil(widths[c] * 4) / 4, nullptr);
    // The header row stays in view while scrolling.
    worksheet_freeze_panes(ws, headerRow + 1, 0);
    setUpSheetPrinting(ws, {grid.orientation == 1, int(headerRow) + 1});
    return Status::success();
}

int XlsxWorkbook::tableRow(const XlsxTable& table)
{
    return int(!table.title.isEmpty()) + int(!table.subtitle.isEmpty()) + 1;
}

Status XlsxWorkbook::writeTable(int sheet, const XlsxTable& table)
{
    lxw_worksheet* ws = worksheet(sheet);
    if (!ws)
        return Status::failure(d->wb ? QStringLiteral("cannot write %1: no such sheet").arg(d->path)
                                     : d->error);
    Formats& formats = *d->formats;
    const int lastColumn = int(table.headers.size()) - 1;
    if (lastColumn < 0)
        return Status::failure(QStringLiteral("cannot write %1: the table has no columns").arg(d->path));
    TextMeasure measure;
    QList<double> widths(table.headers.size(), kMinWidth);
    lxw_row_t row = 0;
    // Title lines over the first columns at most, so a wide table shows them on
    // its first page; over the whole table when it prints one page wide.
    const int lastTitleColumn =
        table.onePageWide ? lastColumn : std::min(lastColumn, table.frozenColumns + 4);
    auto line = [&](const QString& text, lxw_format* f, double height) {
        const QByteArray s = utf8(text);
        worksheet_set_row(ws, row, height, nullptr);
        if (lastTitleColumn > 0)
            worksheet_merge_range(ws, row, 0, row, lxw_col_t(lastTitleColumn), s.constData(), f);
        else
            worksheet_write_string(ws, row, 0, s.constData(), f);
        ++row;
    };
    if (!table.title.isEmpty())
        line(table.title, formats.title(), kTitleRowPoints);
    if (!table.subtitle.isEmpty())
        line(table.subtitle, formats.line(Qt::AlignLeft), kRowPoints);
    const lxw_row_t headerRow = row;
    // Headers of two lines (code and name) get the height of two lines.
    int headerLines = 1;
    for (const QString& h : table.headers)
        headerLines = std::max(headerLines, int(h.count(u'\n')) + 1);
    worksheet_set_row(ws, row, headerLines * kLinePoints + 4, nullptr);
    for (int c = 0; c <= lastColumn; ++c) {
        worksheet_write_string(ws, row, lxw_col_t(c), utf8(table.headers[c]).constData(), formats.header());
        widths[c] = std::max(widths[c], unitsFor(measure.pixels(table.headers[c], kSong, kCellPoints, true)));
    }
    ++row;
    for (const QList<XlsxCell>& cells : table.rows) {
        for (int c = 0; c <= lastColumn && c < cells.size(); ++c) {
            const XlsxCell& cell = cells[c];
            widths[c] = std::max(widths[c], unitsFor(measure.pixels(cell.text, kSong, kCellPoints, false)));
            if (!cell.numeric) {
                lxw_format* f = formats.cell(QString(), Qt::AlignLeft, qRgb(255, 255, 255), false);
                if (cell.text.isEmpty())
                    worksheet_write_blank(ws, row, lxw_col_t(c), f);
                else
                    worksheet_write_string(ws, row, lxw_col_t(c), utf8(cell.text).constData(), f);
                continue;
            }
            lxw_format* f =
                formats.cell(numberFormat(cell.mask), cell.centred ? Qt::AlignHCenter : Qt::AlignRight,
                             qRgb(255, 255, 255), false);
            if (cell.number)
                worksheet_write_number(ws, row, lxw_col_t(c), *cell.number, f);
            else
                worksheet_write_blank(ws, row, lxw_col_t(c), f);
        }
        worksheet_set_row(ws, row, kRowPoints, nullptr);
        ++row;
    }
    for (int c = 0; c <= lastColumn; ++c)
        widths[c] = std::min(widths[c], kMaxTextWidth);
    // The title lines whole in their merged cells: the columns under them widen when they do not fit.
    const auto fit = [&](const QString& text, double points, bool bold) {
        const double need = unitsFor(measure.pixels(text, kSong, points, bold)) + 2;
        double have = 0;
        for (int c = 0; c <= lastTitleColumn; ++c)
            have += widths[c];
        if (text.isEmpty() || have <= 0 || have >= need)
            return;
        for (int c = 0; c <= lastTitleColumn; ++c)
            widths[c] *= need / have;
    };
    fit(table.title, 16, true);
    fit(table.subtitle, kCellPoints, false);
    for (int c = 0; c <= lastColumn; ++c)
        worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), std::ceil(widths[c] * 4) / 4, nullptr);
    // The header row and the text columns stay in view while scrolling.
    worksheet_freeze_panes(ws, headerRow + 1, lxw_col_t(std::max(0, table.frozenColumns)));
    // Up to a dozen columns fit a page's width; wider tables keep their size
    // unless they are to print one page wide.
    setUpSheetPrinting(ws, {table.landscape, int(headerRow) + 1,
                            !table.onePageWide && lastColumn >= 12 ? table.frozenColumns : 0});
    return Status::success();
}

Status XlsxWorkbook::commit(QByteArray* into)
{
    if (!d->wb)
        return Status::failure(d->error);
    if (d->sheetNames.isEmpty()) {
        d->discard();
        return Status::failure(QStringLiteral("cannot write %1: the workbook has no sheet").arg(d->path));
    }
    const DocumentInfo info = d->info.value_or(DocumentInfo{});
    const QByteArray title = utf8(info.title);
    const QByteArray subject = utf8(info.subject);
    const QByteArray author = utf8(info.author);
    lxw_doc_properties properties{};
    properties.title = const_cast<char*>(title.constData());
    properties.subject = const_cast<char*>(subject.constData());
    properties.author = const_cast<char*>(author.constData());
    workbook_set_properties(d->wb, &properties);

    errno = 0;
    const lxw_error err = workbook_close(d->wb);
    const int closeErrno = errno;
    d->wb = nullptr;
    if (err != LXW_NO_ERROR) {
        d->discard();
        // The library's own text says which of its steps failed; the system's says why.
        const bool system =
            closeErrno != 0 && (err == LXW_ERROR_CREATING_XLSX_FILE || err == LXW_ERROR_CREATING_TMPFILE ||
                                err == LXW_ERROR_ZIP_FILE_OPERATION || err == LXW_ERROR_ZIP_CLOSE);
        return Status::failure(
            QStringLiteral("cannot write %1: %2")
                .arg(d->path, system ? systemErrorText(closeErrno) : QString::fromUtf8(lxw_strerror(err))));
    }
    MemoryFile named;
    QString why;
    QByteArray bytes;
    if (!named.isValid() || !nameApplication(d->raw->path(), named.path(), &why) || !named.read(&bytes)) {
        if (why.isEmpty())
            why = systemErrorText(errno);
        d->discard();
        return Status::failure(QStringLiteral("cannot write %1: %2").arg(d->path, why));
    }
    d->discard();
    if (!finishFile(d->path, bytes, into, &why))
        return Status::failure(why);
    return Status::success();
}

Status writeXlsx(const GridBuffer& grid, const QString& path, QByteArray* bytes)
{
    XlsxWorkbook book(path);
    if (const Status s = book.addSheet(grid); !s)
        return s;
    book.setInfo(documentInfoFor(grid));
    return book.commit(bytes);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/gridprint.h"

#include "foundation/fonts.h"
#include "foundation/gridbuffer.h"
#include "foundation/safefile.h"
#include "foundation/version.h"

#include <QBuffer>
#include <QDateTime>
#include <QFontMetricsF>
#include <QImage>
#include <QMutex>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <algorithm>
#include <map>
#include <pwd.h>
#include <unistd.h>

namespace {

// The look of the printed table, in points.
constexpr qreal kMarginMm = 15;
constexpr qreal kCellPoints = 10; // detail and header cells: 宋体 10 pt
constexpr qreal kFooterPoints = 9;
constexpr qreal kRowHeight = 18;    // one line of a detail row
constexpr qreal kHeaderHeight = 24; // the column header row
constexpr qreal kFooterHeight = 22; // "第 N 页 / 共 M 页" below the table
constexpr qreal kPadding = 4;       // text inside a cell, left and right
constexpr int kMaxLinesPerRow = 6;  // long texts wrap (a 120-character description fits)
constexpr qreal kGapAfterBand = 6;

const QColor kRule(0, 128, 128);         // the layouts' line colour 8421376
const QColor kHeaderFill(234, 244, 244); // a pale wash of the rule colour
const QColor kFooterText(90, 90, 90);

const QString kSong = QStringLiteral("宋体");

// Metrics are taken on a 72 dpi device, so one pixel is one point: the plan is
// the same whatever the pages are painted on.
const QPaintDevice* referenceDevice()
{
    static const QImage image = measuringImage(72);
    return &image;
}

bool isFigure(ColumnType t)
{
    return t == ColumnType::Decimal || t == ColumnType::Integer || t == ColumnType::Number;
}

void ensureFonts()
{
    static const bool done = [] {
        installFontSubstitutions();
        return true;
    }();
    Q_UNUSED(done);
}

} // namespace

GridPrinter::GridPrinter(const GridBuffer& grid) : m_grid(grid)
{
    ensureFonts();
}

QPageLayout GridPrinter::pageLayoutFor(const GridBuffer& grid)
{
    return QPageLayout(QPageSize(QPageSize::A4),
                       grid.orientation == 1 ? QPageLayout::Landscape : QPageLayout::Portrait,
                       QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm), QPageLayout::Millimeter);
}

QSizeF GridPrinter::paperSize() const
{
    return pageLayout().fullRectPoints().size();
}

QFont GridPrinter::fontFor(const QString& family, qreal points, bool bold, const QPainter* painter) const
{
    // Sized so that one font pixel is one unit of the painter's point space.
    const QPaintDevice* device = painter && painter->device() ? painter->device() : referenceDevice();
    const int dpi = device->logicalDpiY() > 0 ? device->logicalDpiY() : 72;
    QFont f(printFamily(family));
    f.setPointSizeF(points * 72.0 / dpi);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setKerning(false);
    return f;
}

QStringList GridPrinter::cellTexts(long row, const QList<Column>& columns) const
{
    QStringList out;
    const GridLayout& layout = m_grid.layout();
    for (const Column& c : columns) {
        if (c.index < 0) {
            out << QString::number(row);
        } else if (c.checkBox) {
            const auto v = m_grid.GetItemDecimal(row, layout.columns[c.index].name);
            out << (v && !v->isZero() ? QStringLiteral("√") : QString());
        } else {
            out << m_grid.displayText(row, layout.columns[c.index].name);
        }
    }
    return out;
}

const GridPrinter::Plan& GridPrinter::plan(const QSizeF& content) const
{
    if (!m_plan || m_planRevision != m_grid.revision() || m_plan->content != content) {
        m_plan = makePlan(content);
        m_planRevision = m_grid.revision();
    }
    return *m_plan;
}

GridPrinter::Plan GridPrinter::makePlan(const QSizeF& content) const
{
    const GridLayout& layout = m_grid.layout();
    Plan p;
    p.content = content;

    // Columns: the row number first, then every shown column; design widths
    // scaled so the table fills the page width.
    qreal designWidth = 0;
    if (layout.rowNumber) {
        Column c;
        c.header = layout.rowNumberHeader;
        c.width = layout.rowNumberWidth;
        c.alignment = Qt::AlignCenter;
        p.columns << c;
    }
    for (const int i : layout.displayIndices()) {
        const GridColumn& gc = layout.columns[i];
        if (!gc.visible || gc.header.isEmpty())
            continue;
        Column c;
        c.index = i;
        c.header = gc.header;
        c.width = std::max(gc.width, 1);
        c.checkBox = gc.checkBox;
        if (gc.checkBox)
            c.alignment = Qt::AlignCenter;
        else if (isFigure(gc.type))
            c.alignment = Qt::AlignRight | Qt::AlignVCenter;
        else
            c.alignment = (gc.alignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter;
        p.columns << c;
    }
    for (const Column& c : std::as_const(p.columns))
        designWidth += c.width;
    const QFont cellFont = fontFor(kSong, kCellPoints, false, nullptr);
    const QFontMetricsF fm(cellFont, referenceDevice());
    const long rows = m_grid.RowCount();
    fitColumns(p.columns, content.width(), fm, rows);
    p.tableWidth = designWidth > 0 ? content.width() : 0;

    // The band above the table: texts grouped by line, in line order.
    std::map<int, QList<int>> lines;
    for (int i = 0; i < layout.texts.size(); ++i)
        lines[layout.texts[i].line] << i;
    for (const auto& [number, texts] : lines) {
        TextLine line;
        line.texts = texts;
        qreal largest = 0;
        for (int i : texts)
            largest = std::max<qreal>(largest, layout.texts[i].pointSize);
        line.title = largest >= 14;
        line.height = line.title ? largest * 2.2 : largest * 2.0;
        p.band << line;
        p.bandHeight += line.height;
    }
    if (!p.band.isEmpty())
        p.bandHeight += kGapAfterBand;
    p.headerHeight = kHeaderHeight;

    // Row heights: long texts wrap inside their cell.
    const qreal lineHeight = fm.lineSpacing();
    p.rowHeights.reserve(rows);
    for (long r = 1; r <= rows; ++r) {
        const QStringList texts = cellTexts(r, p.columns);
        qreal h = kRowHeight;
        for (int k = 0; k < p.columns.size(); ++k) {
            const Column& c = p.columns[k];
            if (c.index < 0 || c.checkBox || texts[k].isEmpty())
                continue;
            const qreal inner = c.width - 2 * kPadding;
            if (fm.horizontalAdvance(texts[k]) <= inner)
                continue;
            const QRectF need = fm.boundingRect(QRectF(0, 0, inner, 1e6), Qt::TextWordWrap, texts[k]);
            const int lineCount =
                std::min(kMaxLinesPerRow, int(std::ceil(need.height() / lineHeight - 0.01)));
            h = std::max(h, lineCount * lineHeight + 6);
        }
        p.rowHeights << h;
    }

    // Pages: as many rows as fit under the band and the column header.
    const qreal room =
        std::max<qreal>(kRowHeight * 4, content.height() - p.bandHeight - p.headerHeight - kFooterHeight);
    p.pageStarts << 1;
    qreal used = 0;
    for (long r = 1; r <= rows; ++r) {
        const qreal h = p.rowHeights[r - 1];
        if (used > 0 && used + h > room + 0.01) {
            p.pageStarts << int(r);
            used = 0;
        }
        used += h;
    }
    return p;
}

void GridPrinter::fitColumns(QList<Column>& columns, qreal width, const QFontMetricsF& fm, long rows) const
{
    // Design widths scaled to the page width; then every column gets at least
    // the room its header and (for figures) its widest figure need, taken from
    // the columns that have room to spare.
    const GridLayout& layout = m_grid.layout();
    QList<qreal> design;
    QList<qreal> least;
    qreal total = 0;
    for (const Column& c : std::as_const(columns)) {
        design << c.width;
        total += c.width;
        qreal need = fm.horizontalAdvance(c.header);
        if (c.index < 0) {
            need = std::max(need, fm.horizontalAdvance(QString::number(std::max(rows, 1L))));
        } else if (!c.checkBox && isFigure(layout.columns[c.index].type)) {
            for (long r = 1; r <= rows; ++r)
                need =
                    std::max(need, fm.horizontalAdvance(m_grid.displayText(r, layout.columns[c.index].name)));
        }
        least << need + 2 * kPadding + 2;
    }
    if (total <= 0)
        return;
    QList<bool> pinned(columns.size(), false);
    for (int round = 0; round <= columns.size(); ++round) {
        qreal free = width;
        qreal freeDesign = 0;
        for (int k = 0; k < columns.size(); ++k) {
            if (pinned[k])
                free -= least[k];
            else
                freeDesign += design[k];
        }
        if (freeDesign <= 0 || free <= 0)
            break;
        bool changed = false;
        for (int k = 0; k < columns.size(); ++k) {
            if (pinned[k]) {
                columns[k].width = least[k];
                continue;
            }
            columns[k].width = design[k] * free / freeDesign;
            if (columns[k].width < least[k]) {
                pinned[k] = true;
                changed = true;
            }
        }
        if (!changed) {
            return;
        }
    }
    // Not enough room for every header: fall back to the plain proportions.
    for (int k = 0; k < columns.size(); ++k)
        columns[k].width = pinned[k] ? least[k] : columns[k].width;
    qreal sum = 0;
    for (const Column& c : std::as_const(columns))
        sum += c.width;
    if (sum > width + 0.01)
        for (int k = 0; k < columns.size(); ++k)
            columns[k].width = design[k] * width / total;
}

int GridPrinter::pageCount(const QPageLayout& layout) const
{
    return int(plan(layout.paintRectPoints().size()).pageStarts.size());
}

void GridPrinter::paintPage(QPainter& painter, int page, const QRectF& contentRect) const
{
    const GridLayout& layout = m_grid.layout();
    const Plan p = plan(contentRect.size()); // a copy: painting must not see a re-plan
    const int pages = int(p.pageStarts.size());
    if (page < 1 || page > pages)
        return;

    painter.save();
    painter.translate(contentRect.topLeft());
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);

    // Title band.
    qreal y = 0;
    for (const TextLine& line : p.band) {
        for (int i : line.texts) {
            const GridText& t = layout.texts[i];
            const QString text = m_grid.text(t.name);
            if (text.isEmpty())
                continue;
            painter.setFont(fontFor(t.family, t.pointSize, t.bold, &painter));
            painter.setPen(Qt::black);
            const QRectF box(0, y, p.tableWidth, line.height);
            QRectF drawn;
            painter.drawText(box, int((t.alignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter), text,
                             &drawn);
            if (line.title) {
                // The title stands on a double rule, as Chinese statements are set.
                const qreal left = drawn.left() - 12;
                const qreal right = drawn.right() + 12;
                const qreal base = drawn.bottom() + 1;
                painter.setPen(QPen(kRule, 1.0));
                painter.drawLine(QPointF(left, base), QPointF(right, base));
                painter.setPen(QPen(kRule, 0.5));
                painter.drawLine(QPointF(left, base + 2.5), QPointF(right, base + 2.5));
            }
        }
        y += line.height;
    }
    if (!p.band.isEmpty())
        y += kGapAfterBand;

    // Column header, on every page.
    const qreal tableTop = y;
    const QFont cellFont = fontFor(kSong, kCellPoints, false, &painter);
    painter.fillRect(QRectF(0, y, p.tableWidth, p.headerHeight), kHeaderFill);
    painter.setFont(cellFont);
    painter.setPen(Qt::black);
    {
        qreal x = 0;
        for (const Column& c : p.columns) {
            painter.drawText(QRectF(x + kPadding, y, c.width - 2 * kPadding, p.headerHeight),
                             Qt::AlignCenter | Qt::TextWordWrap, c.header);
            x += c.width;
        }
    }
    y += p.headerHeight;

    // The rows of this page.
    const int first = p.pageStarts[page - 1];
    const int last = page < pages ? p.pageStarts[page] - 1 : int(m_grid.RowCount());
    QList<qreal> rowLines;
    for (int r = first; r <= last; ++r) {
        const qreal h = p.rowHeights[r - 1];
        const QColor bg = QColor::fromRgb(m_grid.rowBackground(r));
        if (bg != Qt::white) {
            qreal left = 0;
            for (const Column& c : p.columns) {
                if (layout.tints(c.index >= 0 ? layout.columns[c.index].name : QString()))
                    painter.fillRect(QRectF(left, y, c.width, h), bg);
                left += c.width;
            }
        }
        const QStringList texts = cellTexts(r, p.columns);
        qreal x = 0;
        for (int k = 0; k < p.columns.size(); ++k) {
            const Column& c = p.columns[k];
            const QRectF cell(x + kPadding, y + 1, c.width - 2 * kPadding, h - 2);
            if (!texts[k].isEmpty()) {
                const bool wraps = c.index >= 0 && !c.checkBox && !isFigure(layout.columns[c.index].type);
                if (wraps) {
                    painter.save();
                    painter.setClipRect(cell);
                    painter.drawText(cell, int(c.alignment | Qt::TextWordWrap), texts[k]);
                    painter.restore();
                } else {
                    painter.drawText(cell, int(c.alignment), texts[k]);
                }
            }
            x += c.width;
        }
        y += h;
        rowLines << y;
    }
    const qreal tableBottom = y;

    // Cell borders: thin inner lines, a firmer frame.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(kRule, 0.5));
    painter.drawLine(QPointF(0, tableTop + p.headerHeight), QPointF(p.tableWidth, tableTop + p.headerHeight));
    for (int i = 0; i + 1 < rowLines.size(); ++i)
        painter.drawLine(QPointF(0, rowLines[i]), QPointF(p.tableWidth, rowLines[i]));
    {
        qreal x = 0;
        for (int k = 0; k + 1 < p.columns.size(); ++k) {
            x += p.columns[k].width;
            painter.drawLine(QPointF(x, tableTop), QPointF(x, tableBottom));
        }
    }
    painter.setPen(QPen(kRule, 1.0));
    painter.drawRect(QRectF(0, tableTop, p.tableWidth, tableBottom - tableTop));

    // Footer.
    painter.setFont(fontFor(kSong, kFooterPoints, false, &painter));
    painter.setPen(kFooterText);
    painter.drawText(QRectF(0, p.content.height() - kFooterHeight + 6, p.content.width(), kFooterHeight - 6),
                     Qt::AlignHCenter | Qt::AlignBottom,
                     m_footer ? m_footer(page, pages)
                              : QStringLiteral("第 %1 页 / 共 %2 页").arg(page).arg(pages));
    painter.restore();
}

void GridPrinter::paintPreview(QPainter& painter, int page, const QRectF& target, bool outline,
                               bool rulers) const
{
    const QPageLayout pl = pageLayout();
    const QSizeF paper = pl.fullRectPoints().size();
    const qreal scale = target.width() / paper.width();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    // The sheet with a soft shadow.
    painter.fillRect(target.translated(4, 4), QColor(0, 0, 0, 60));
    painter.fillRect(target, Qt::white);
    painter.setPen(QPen(QColor(160, 160, 160), 1));
    painter.drawRect(target);

    painter.translate(target.topLeft());
    painter.scale(scale, scale);
    const QRectF content = pl.paintRectPoints();
    if (outline) {
        painter.setPen(QPen(QColor(150, 150, 220), 0.8 / scale, Qt::DashLine));
        painter.drawRect(content);
    }
    paintPage(painter, page, content);
    if (rulers) {
        // Centimetre rulers along the top and left edges of the sheet.
        const qreal cm = 72.0 / 2.54;
        const qreal strip = 14 / scale;
        painter.setPen(Qt::NoPen);
        painter.fillRect(QRectF(0, 0, paper.width(), strip), QColor(245, 245, 235));
        painter.fillRect(QRectF(0, 0, strip, paper.height()), QColor(245, 245, 235));
        painter.setPen(QPen(QColor(90, 90, 90), 0.6 / scale));
        painter.setFont(fontFor(QStringLiteral("DejaVu Sans"), 7.5 / scale, false, &painter));
        for (int i = 0; i * cm / 2 <= paper.width(); ++i) {
            const qreal x = i * cm / 2;
            const qreal len = (i % 2 == 0 ? 6 : 3) / scale;
            painter.drawLine(QPointF(x, strip - len), QPointF(x, strip));
            if (i % 2 == 0 && i > 0)
                painter.drawText(QPointF(x + 1 / scale, strip - 7 / scale), QString::number(i / 2));
        }
        for (int i = 0; i * cm / 2 <= paper.height(); ++i) {
            const qreal yy = i * cm / 2;
            const qreal len = (i % 2 == 0 ? 6 : 3) / scale;
            painter.drawLine(QPointF(strip - len, yy), QPointF(strip, yy));
            if (i % 2 == 0 && i > 0)
                painter.drawText(QPointF(1 / scale, yy - 1 / scale), QString::number(i / 2));
        }
    }
    painter.restore();
}

bool printPages(QPagedPaintDevice& device, const QPageLayout& layout,
                const std::function<int(const QPageLayout& layout)>& pageCount,
                const std::function<void(QPainter&, int page, const QRectF& content)>& paintPage,
                QString* error)
{
    if (!device.setPageLayout(layout)) {
        if (error)
            *error = QStringLiteral("the printer does not accept an A4 page");
        return false;
    }
    QPainter painter;
    if (!painter.begin(&device)) {
        if (error)
            *error = QStringLiteral("cannot print: the output cannot be opened");
        return false;
    }
    // One painter unit = one point.
    painter.scale(device.logicalDpiX() / 72.0, device.logicalDpiY() / 72.0);
    const QRectF content(QPointF(0, 0), device.pageLayout().paintRectPoints().size());
    const int pages = pageCount(device.pageLayout());
    for (int page = 1; page <= pages; ++page) {
        if (page > 1 && !device.newPage()) {
            painter.end();
            if (error)
                *error = QStringLiteral("cannot start page %1").arg(page);
            return false;
        }
        paintPage(painter, page, content);
    }
    if (!painter.end()) {
        if (error)
            *error = QStringLiteral("cannot finish the printout");
        return false;
    }
    return true;
}

bool GridPrinter::print(QPagedPaintDevice& device, QString* error) const
{
    return printPages(
        device, pageLayout(), [this](const QPageLayout& layout) { return pageCount(layout); },
        [this](QPainter& painter, int page, const QRectF& content) { paintPage(painter, page, content); },
        error);
}

namespace {

// A caption's value: "报表期间：2024年3月" gives "2024年3月".
QString afterCaption(const QString& text)
{
    const qsizetype colon = text.indexOf(u'：');
    return (colon >= 0 ? text.mid(colon + 1) : text).trimmed();
}

// A PDF text string: UTF-16BE with a byte-order mark, in hex.
QByteArray pdfText(const QString& s)
{
    QByteArray utf16("\xFE\xFF", 2);
    for (const QChar c : s) {
        utf16 += char(c.unicode() >> 8);
        utf16 += char(c.unicode() & 0xFF);
    }
    return '<' + utf16.toHex().toUpper() + '>';
}

QByteArray pdfDate(const QDateTime& t)
{
    const int offset = t.offsetFromUtc() / 60;
    QByteArray zone = "Z";
    if (offset != 0)
        zone = QStringLiteral("%1%2'%3'")
                   .arg(QLatin1Char(offset < 0 ? '-' : '+'))
                   .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
                   .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'))
                   .toLatin1();
    return "(D:" + t.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + zone + ')';
}

QString producer()
{
    return QStringLiteral("Qt ") + QString::fromLatin1(qVersion());
}

// The XMP packet: the same title, subject, author, creator, producer and dates
// as the document information dictionary, and the PDF/A-1b mark when asked.
QByteArray xmpPacket(const DocumentInfo& info, const QDateTime& when, bool archival)
{
    const QString date = when.toString(Qt::ISODate);
    auto esc = [](const QString& s) { return s.toHtmlEscaped(); };
    QString x = QStringLiteral("<?xpacket begin=\"\uFEFF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
                               "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
                               "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n");
    x += QStringLiteral("<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
                        "<dc:format>application/pdf</dc:format>\n"
                        "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">%1</rdf:li></rdf:Alt></dc:title>\n"
                        "<dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">%2</rdf:li></rdf:Alt>"
                        "</dc:description>\n"
                        "<dc:creator><rdf:Seq><rdf:li>%3</rdf:li></rdf:Seq></dc:creator>\n"
                        "</rdf:Description>\n")
             .arg(esc(info.title), esc(info.subject), esc(info.author));
    x += QStringLiteral("<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\">\n"
                        "<xmp:CreatorTool>%1</xmp:CreatorTool>\n"
                        "<xmp:CreateDate>%2</xmp:CreateDate>\n"
                        "<xmp:ModifyDate>%2</xmp:ModifyDate>\n"
                        "<xmp:MetadataDate>%2</xmp:MetadataDate>\n"
                        "</rdf:Description>\n"
                        "<rdf:Description rdf:about=\"\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">\n"
                        "<pdf:Producer>%3</pdf:Producer>\n"
                        "</rdf:Description>\n")
             .arg(esc(info.creator), date, esc(producer()));
    if (archival)
        x += QStringLiteral(
            "<rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">\n"
            "<pdfaid:part>1</pdfaid:part>\n"
            "<pdfaid:conformance>B</pdfaid:conformance>\n"
            "</rdf:Description>\n");
    x += QStringLiteral("</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>");
    return x.toUtf8();
}

// Qt's PDF writer sets only a title and a creator in the document information.
// The whole set (with subject, author and dates equal to the XMP packet's, as
// PDF/A asks) is appended as an incremental update that replaces the
// information dictionary; the pages stay as written. `tail` is the end of the
// file (its trailer at least), `size` the file's size.
QByteArray documentInfoUpdate(const QByteArray& tail, qint64 size, const DocumentInfo& info,
                              const QDateTime& when, QString* why)
{
    const qsizetype trailerAt = tail.lastIndexOf("trailer");
    if (trailerAt < 0) {
        *why = QStringLiteral("the PDF has no trailer");
        return {};
    }
    const QByteArray trailer = tail.mid(trailerAt);
    auto number = [&](const char* pattern) {
        const QRegularExpressionMatch m =
            QRegularExpression(QString::fromLatin1(pattern)).match(QString::fromLatin1(trailer));
        return m.hasMatch() ? m.captured(1).toLongLong() : -1LL;
    };
    const qint64 objects = number("/Size\\s+(\\d+)");
    const qint64 infoObject = number("/Info\\s+(\\d+)\\s+0\\s+R");
    const qint64 root = number("/Root\\s+(\\d+)\\s+0\\s+R");
    const qint64 previous = number("startxref\\s+(\\d+)");
    const QRegularExpressionMatch id =
        QRegularExpression(QStringLiteral("/ID\\s*\\[[^\\]]*\\]")).match(QString::fromLatin1(trailer));
    if (objects < 0 || infoObject < 0 || root < 0 || previous < 0) {
        *why = QStringLiteral("the PDF's trailer cannot be read");
        return {};
    }

    QByteArray update;
    if (!tail.endsWith('\n'))
        update += '\n';
    const qint64 objectAt = size + update.size();
    update += QByteArray::number(infoObject) + " 0 obj\n<<\n";
    update += "/Title " + pdfText(info.title) + "\n";
    update += "/Subject " + pdfText(info.subject) + "\n";
    update += "/Author " + pdfText(info.author) + "\n";
    update += "/Creator " + pdfText(info.creator) + "\n";
    update += "/Producer " + pdfText(producer()) + "\n";
    update += "/CreationDate " + pdfDate(when) + "\n";
    update += "/ModDate " + pdfDate(when) + "\n";
    update += ">>\nendobj\n";
    const qint64 xrefAt = size + update.size();
    update += "xref\n0 1\n0000000000 65535 f \n";
    update += QByteArray::number(infoObject) + " 1\n";
    update += QByteArray::number(objectAt).rightJustified(10, '0') + " 00000 n \n";
    update += "trailer\n<<\n/Size " + QByteArray::number(objects) + "\n/Info " +
              QByteArray::number(infoObject) + " 0 R\n/Root " + QByteArray::number(root) + " 0 R\n" +
              (id.hasMatch() ? id.captured(0).toLatin1() + '\n' : QByteArray()) + "/Prev " +
              QByteArray::number(previous) + "\n>>\nstartxref\n" + QByteArray::number(xrefAt) + "\n%%EOF\n";
    return update;
}

QMutex g_authorMutex;
QString g_author; // empty: the login name

} // namespace

DocumentInfo documentInfoFor(const GridBuffer& grid)
{
    DocumentInfo info;
    const GridLayout& layout = grid.layout();
    // The title: the largest text of the title band.
    QString title = layout.name;
    int largest = 0;
    for (const GridText& t : layout.texts) {
        if (t.pointSize > largest && !grid.text(t.name).trimmed().isEmpty()) {
            largest = t.pointSize;
            title = grid.text(t.name).trimmed();
        }
    }
    QStringList parts{title};
    for (const QString& name : {QStringLiteral("t_qymc"), QStringLiteral("t_qijian")}) {
        if (!layout.text(name))
            continue;
        const QString value = afterCaption(grid.text(name));
        if (!value.isEmpty())
            parts << value;
    }
    info.title = parts.join(u' ');
    info.subject = title;
    info.author = documentAuthor();
    info.creator = allstatsNameAndVersion();
    return info;
}

QString systemLoginName()
{
    const uid_t uid = ::getuid();
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    QByteArray buffer(int(size > 0 ? size : 16384), Qt::Uninitialized);
    struct passwd entry = {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), size_t(buffer.size()), &found) == 0 && found &&
        found->pw_name && *found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

QString documentAuthor()
{
    {
        QMutexLocker lock(&g_authorMutex);
        if (!g_author.isEmpty())
            return g_author;
    }
    static const QString login = systemLoginName();
    return login;
}

void setDocumentAuthor(const QString& name)
{
    QMutexLocker lock(&g_authorMutex);
    g_author = name.trimmed();
}

PdfStamp::PdfStamp(DocumentInfo info, bool archival) : m_info(std::move(info)), m_archival(archival)
{
    // Whole seconds with the zone's offset: the dictionary and the XMP packet
    // must name the same instant.
    const QDateTime now = QDateTime::currentDateTime();
    m_when = now.addMSecs(-now.time().msec()).toOffsetFromUtc(now.offsetFromUtc());
}

void PdfStamp::prepare(QPdfWriter& writer) const
{
    if (m_archival)
        writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
    writer.setTitle(m_info.title);
    writer.setCreator(m_info.creator);
    writer.setDocumentXmpMetadata(xmpPacket(m_info, m_when, m_archival));
}

QByteArray PdfStamp::update(const QByteArray& tail, qint64 size, QString* why) const
{
    return documentInfoUpdate(tail, size, m_info, m_when, why);
}

bool writePdf(const GridBuffer& grid, const QString& path, QString* error, const PdfOptions& options,
              QByteArray* into)
{
    const PdfStamp stamp(options.info ? *options.info : documentInfoFor(grid), options.archival);
    QString why;
    // Made in memory, then written whole or not at all.
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(600);
        stamp.prepare(writer);
        if (!GridPrinter(grid).print(writer, &why)) {
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

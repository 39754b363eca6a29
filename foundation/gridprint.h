// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class GridBuffer;
class QFontMetricsF;
class QPagedPaintDevice;
class QPainter;
class QPdfWriter;

// Prints `pageCount(layout)` pages on a paged device set to `layout`, one
// painter unit a point, a new page before each but the first; false with
// *error when the device refuses the layout, a page or the end.
bool printPages(QPagedPaintDevice& device, const QPageLayout& layout,
                const std::function<int(const QPageLayout& layout)>& pageCount,
                const std::function<void(QPainter&, int page, const QRectF& content)>& paintPage,
                QString* error);

// Lays a grid out on paper and paints its pages: the title band (title, period
// and unit lines), the table with its column header repeated on every page, and
// a page footer. The same pages go to the PDF writer, to a printer and to the
// in-place preview. Geometry is in points (1/72 inch) and does not depend on
// the device, so the preview shows exactly what is printed.
class GridPrinter final
{
public:
    explicit GridPrinter(const GridBuffer& grid);

    // A4, the grid's orientation (1 landscape, 2 portrait), 15 mm margins.
    static QPageLayout pageLayoutFor(const GridBuffer& grid);
    QPageLayout pageLayout() const { return pageLayoutFor(m_grid); }

    int pageCount() const { return pageCount(pageLayout()); }
    int pageCount(const QPageLayout& layout) const;

    // Paints page `page` (counted from 1, like rows) into `contentRect`: the
    // printable area inside the margins (pageLayout().paintRectPoints() when
    // the painter's origin is the paper's corner), in the painter's user units
    // taken as points. Pages out of range paint nothing.
    void paintPage(QPainter& painter, int page, const QRectF& contentRect) const;

    // Paints a preview of page `page` as a sheet of paper filling `target`
    // (in widget pixels): the paper with a shadow, optionally the margin outline
    // and rulers in centimetres.
    void paintPreview(QPainter& painter, int page, const QRectF& target, bool outline, bool rulers) const;
    // The same at a scale (widget pixels per point), the sheet's top left at `topLeft`.
    void paintPreview(QPainter& painter, int page, const QPointF& topLeft, qreal scale, bool outline,
                      bool rulers) const
    {
        paintPreview(painter, page, QRectF(topLeft, paperSize() * scale), outline, rulers);
    }
    // Paper size in points, for the preview's layout of sheets.
    QSizeF paperSize() const;

    // Prints every page on a printer or PDF writer. False with *error set when
    // the device cannot be painted on.
    bool print(QPagedPaintDevice& device, QString* error) const;

    // The line at the foot of each page; "第 N 页 / 共 M 页" unless given
    // (a binder of many reports names the report beside its page number).
    void setFooter(std::function<QString(int page, int pages)> footer) { m_footer = std::move(footer); }

private:
    struct Column
    {
        int index = -1; // column in the layout; -1 for the row number
        QString header;
        qreal width = 0; // points, after fitting to the page
        Qt::Alignment alignment;
        bool checkBox = false;
    };
    struct TextLine
    {
        QList<int> texts; // indexes into the layout's texts
        qreal height = 0;
        bool title = false;
    };
    struct Plan
    {
        QSizeF content;
        QList<Column> columns;
        qreal tableWidth = 0;
        QList<TextLine> band;
        qreal bandHeight = 0;
        qreal headerHeight = 0;
        QList<qreal> rowHeights;
        QList<int> pageStarts; // first row (from 1) of each page
    };

    // The plan for this page size, laid out again when the grid has changed.
    const Plan& plan(const QSizeF& content) const;
    Plan makePlan(const QSizeF& content) const;
    void fitColumns(QList<Column>& columns, qreal width, const QFontMetricsF& fm, long rows) const;
    QStringList cellTexts(long row, const QList<Column>& columns) const;
    QFont fontFor(const QString& family, qreal points, bool bold, const QPainter* painter) const;

    const GridBuffer& m_grid;
    std::function<QString(int page, int pages)> m_footer;
    mutable std::optional<Plan> m_plan;
    mutable quint64 m_planRevision = 0;
};

// What a written file says about itself: the PDF's document information and
// the workbook's properties.
struct DocumentInfo
{
    QString title;   // "项目进度及借款质量表 青禾省 2024年3月"
    QString subject; // the kind of report: its title text
    QString author;  // who made the file: documentAuthor()
    QString creator; // "allstats 0.1"
};

// The author the written files name: the signed-in user's name, which the
// session sets once it knows who signed in (the display name of the users
// table, else the database role); until then, and on a SQLite file, the login
// name the system's user database gives the process's user. Never a folder's name.
QString documentAuthor();
// A name for documentAuthor(); empty: the login name again.
void setDocumentAuthor(const QString& name);
// The login name of the process's user (getpwuid), or its user number when the
// system's user database does not know it.
QString systemLoginName();

// The grid's document information: the title text (the largest text of the
// title band) followed by the unit (t_qymc) and the period (t_qijian) without
// their captions, when the grid has them.
DocumentInfo documentInfoFor(const GridBuffer& grid);

struct PdfOptions
{
    // PDF/A-1b: fonts embedded, colours tied to sRGB, the metadata in XMP too.
    bool archival = false;
    // Taken from documentInfoFor(grid) when empty.
    std::optional<DocumentInfo> info;
};

// Writes the whole grid as a PDF file (A4, the grid's orientation) with its
// document information, whole or not at all. False with *error set when the
// file cannot be written. With `bytes` the PDF comes back there instead (the
// path then only names it in messages).
bool writePdf(const GridBuffer& grid, const QString& path, QString* error, const PdfOptions& options = {},
              QByteArray* bytes = nullptr);

// The document information of a PDF written by a QPdfWriter of the caller's
// own (a binder, a chart): made with a moment, set on the writer before the
// first page (title, creator and the XMP packet), and, once the writer is
// finished, completed by bytes appended to the file (Qt's writer keeps only
// the title and the creator in the document information).
class PdfStamp final
{
public:
    explicit PdfStamp(DocumentInfo info, bool archival = false);
    const DocumentInfo& info() const { return m_info; }
    void prepare(QPdfWriter& writer) const;
    // The bytes to append to a finished PDF of `size` bytes whose last bytes
    // (its trailer at least) are `tail`. Empty with *why when the trailer cannot be read.
    QByteArray update(const QByteArray& tail, qint64 size, QString* why) const;

private:
    DocumentInfo m_info;
    QDateTime m_when;
    bool m_archival = false;
};

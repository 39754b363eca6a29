#pragma once

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
    mutable std::optional<Plan> m_plan;
    mutable quint64 m_planRevision = 0;
};

// What a written file says about itself: the PDF's document information and
// the workbook's properties.
struct DocumentInfo
{
    QString title;   // "项目进度及借款质量表 青禾省 2024年3月"
    QString subject; // the kind of report: its title text
    QString author;  // who made the file: the login name
    QString creator; // "allstats 0.1"
};

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

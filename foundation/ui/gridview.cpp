// SPDX-License-Identifier: GPL-3.0-or-later
// The grid control: the table, the title band and the preview in one widget,
// its attributes by path (Modify, Describe), printing and the spreadsheet title.
#include "foundation/ui/gridview.h"

#include "foundation/gridprint.h"
#include "foundation/places.h"
#include "foundation/ui/gridview_p.h"
#include "foundation/ui/messages.h"
#include "foundation/ui/showfolder.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace {

// Screen pixels per layout unit for column widths.
constexpr double kColumnScale = 0.28;

QString g_printFolder;

} // namespace

using namespace gridview_detail;

// ---------------------------------------------------------------- GridView

GridView::GridView(const QString& controlName, GridLayout layout, QWidget* parent)
    : QWidget(parent), m_buffer(new GridBuffer(std::move(layout), this))
{
    setObjectName(controlName);
    setAttribute(Qt::WA_StyledBackground);
    m_model = new GridModel(*m_buffer, this);

    m_sheet = new QWidget(this);
    m_sheet->setObjectName(QStringLiteral("sheet"));
    m_sheet->setAutoFillBackground(true);
    QPalette pal = m_sheet->palette();
    pal.setColor(QPalette::Window, Qt::white);
    m_sheet->setPalette(pal);
    auto* sheetLayout = new QVBoxLayout(m_sheet);
    // A white margin round the table, as on paper; the header lines align with its edges.
    sheetLayout->setContentsMargins(8, 0, 8, 6);
    sheetLayout->setSpacing(0);
    m_title = new TitleBand(*m_buffer, m_sheet);
    m_table = new GridTable(m_model, m_sheet);
    m_table->setObjectName(QStringLiteral("table"));
    sheetLayout->addWidget(m_title);
    sheetLayout->addWidget(m_table, 1);
    m_table->viewport()->installEventFilter(this);
    if (!m_buffer->layout().displayOrder.isEmpty())
        setColumnOrder(m_buffer->layout().displayOrder);
    fitColumns();

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("preview"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(false);
    scroll->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    scroll->setBackgroundRole(QPalette::Dark);
    m_pages = new PreviewPages(*m_buffer, scroll);
    scroll->setWidget(m_pages);
    m_previewArea = scroll;
    scroll->viewport()->installEventFilter(this);

    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(1, 1, 1, 1);
    m_stack->addWidget(m_sheet);
    m_stack->addWidget(m_previewArea);
    setStyleSheet(QStringLiteral("GridView { border: 1px solid #8a9a9a; background: white; }"));

    m_buffer->acceptTextHandler = [this] { return commitOpenEditor(); };
    connect(m_buffer, &GridBuffer::rowsChanged, this, [this] {
        m_model->reload();
        if (previewShown())
            m_pages->refresh();
    });
    connect(m_buffer, &GridBuffer::itemValueChanged, this, [this](long row, const QString&) {
        m_model->rowChanged(row);
        if (previewShown())
            m_pages->update();
    });
    connect(m_buffer, &GridBuffer::appearanceChanged, this, &GridView::syncAppearance);
    syncAppearance();
}

GridView::~GridView()
{
    m_buffer->acceptTextHandler = nullptr;
}

QTableView* GridView::table() const
{
    return m_table;
}

bool GridView::previewShown() const
{
    return m_stack->currentWidget() == m_previewArea;
}

bool GridView::commitOpenEditor()
{
    return m_table->commitOpenEditor();
}

void GridView::fitColumns()
{
    // Design widths at screen scale; when the table is wider than that, every
    // column grows in proportion so the report fills its width as on paper.
    const int columns = m_model->columnCount();
    double designTotal = 0;
    for (int c = 0; c < columns; ++c)
        designTotal += m_model->designWidth(c) * kColumnScale;
    const int available = m_table->viewport()->width();
    const double factor = designTotal > 0 && available > designTotal ? available / designTotal : 1.0;
    // Narrower than the layout: the column that gives way takes the difference.
    const int narrow = m_model->modelColumn(m_buffer->layout().narrowColumn);
    int shortBy = 0;
    if (narrow >= 0 && available > 0 && designTotal > available)
        shortBy = std::min(int(designTotal) - available + 1,
                           int(m_model->designWidth(narrow) * kColumnScale * 2 / 3));
    int used = 0;
    for (int c = 0; c < columns; ++c) {
        int w = qMax(28, int(m_model->designWidth(c) * kColumnScale * factor) - (c == narrow ? shortBy : 0));
        if (c == columns - 1 && factor > 1.0)
            w = qMax(28, available - used); // no sliver left at the right edge
        m_table->setColumnWidth(c, w);
        used += w;
    }
}

bool GridView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && watched == m_table->viewport())
        fitColumns();
    // The sheets follow the width of the preview area.
    if (event->type() == QEvent::Resize && watched == static_cast<QScrollArea*>(m_previewArea)->viewport() &&
        previewShown())
        m_pages->refresh();
    return QWidget::eventFilter(watched, event);
}

void GridView::syncAppearance()
{
    m_title->refresh();
    m_table->viewport()->update();
    if (m_buffer->preview) {
        if (!previewShown())
            m_table->commitOpenEditor();
        m_pages->refresh();
        // Other pages after a change of orientation: the preview starts again at page 1.
        if (m_previewOrientation != m_buffer->orientation)
            static_cast<QScrollArea*>(m_previewArea)->verticalScrollBar()->setValue(0);
        m_previewOrientation = m_buffer->orientation;
        m_stack->setCurrentWidget(m_previewArea);
    } else {
        m_stack->setCurrentWidget(m_sheet);
    }
}

static bool truthy(const QVariant& v)
{
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    const QString s = v.toString().trimmed().toLower();
    return s == QStringLiteral("yes") || s == QStringLiteral("true") || s == QStringLiteral("1");
}

QString GridView::Modify(const QString& path, const QVariant& value)
{
    const QString p = path.trimmed().toLower();
    if (p == QStringLiteral("datawindow.print.preview")) {
        m_buffer->setPreview(truthy(value));
    } else if (p == QStringLiteral("datawindow.print.preview.outline")) {
        m_buffer->setPreviewOutline(truthy(value));
    } else if (p == QStringLiteral("datawindow.print.preview.rulers")) {
        m_buffer->setPreviewRulers(truthy(value));
    } else if (p == QStringLiteral("datawindow.print.orientation")) {
        bool ok = false;
        const int o = value.toInt(&ok);
        if (!ok || (o != 1 && o != 2))
            return QStringLiteral("orientation must be 1 or 2");
        m_buffer->setOrientation(o);
    } else if (p.endsWith(QStringLiteral(".text"))) {
        const QString object = path.trimmed().chopped(5);
        if (!m_buffer->layout().text(object))
            return QStringLiteral("no text object ") + object;
        m_buffer->setText(object, value.toString());
    } else {
        return QStringLiteral("unknown attribute ") + path;
    }
    return {};
}

QString GridView::Describe(const QString& path) const
{
    const QString p = path.trimmed().toLower();
    auto yesNo = [](bool on) { return on ? QStringLiteral("yes") : QStringLiteral("no"); };
    if (p == QStringLiteral("datawindow.print.preview"))
        return yesNo(m_buffer->preview);
    if (p == QStringLiteral("datawindow.print.preview.outline"))
        return yesNo(m_buffer->previewOutline);
    if (p == QStringLiteral("datawindow.print.preview.rulers"))
        return yesNo(m_buffer->previewRulers);
    if (p == QStringLiteral("datawindow.print.orientation"))
        return QString::number(m_buffer->orientation);
    if (p.endsWith(QStringLiteral(".text")))
        return m_buffer->text(path.trimmed().chopped(5));
    return QStringLiteral("!");
}

QString GridView::title() const
{
    const GridText* best = nullptr;
    for (const GridText& t : m_buffer->layout().texts)
        if (!best || t.pointSize > best->pointSize)
            best = &t;
    const QString text = best ? m_buffer->text(best->name).trimmed() : QString();
    return text.isEmpty() ? m_buffer->layout().name : text;
}

QString GridView::fileTitle() const
{
    return m_fileTitle.trimmed().isEmpty() ? title() : m_fileTitle.trimmed();
}

void GridView::setPrintFolder(const QString& folder)
{
    g_printFolder = folder;
}

int GridView::Print()
{
    m_buffer->AcceptText();
    const QPrinterInfo printerInfo =
        g_printFolder.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo();
    QString error;
    if (printerInfo.isNull()) {
        // No printer: the pages go to a PDF file the user is told about.
        const QString folder = g_printFolder.isEmpty() ? lastFileFolder() : g_printFolder;
        QDir().mkpath(folder);
        const QString path =
            freeFilePath(QDir(folder).filePath(reportFileStem(fileTitle()) + QStringLiteral(".pdf")));
        if (!writePdf(*m_buffer, path, &error)) {
            messages().MessageBox(QStringLiteral("提示信息"), QStringLiteral("打印失败：") + error,
                                  msg::Icon::Warning);
            return -1;
        }
        m_lastPrintTarget = path;
        const int answer = messages().MessageBox(QStringLiteral("提示信息"),
                                                 QStringLiteral("没有找到打印机，报表已保存为PDF文件：\n") +
                                                     QDir::toNativeSeparators(path) +
                                                     QStringLiteral("\n\n打开所在的文件夹吗？"),
                                                 msg::Icon::Question, msg::Buttons::YesNo);
        // A folder given for tests and machines without a printer is not shown.
        if (answer == msg::Yes && g_printFolder.isEmpty())
            showFolder(folder, this);
        emit printed(path);
        return 1;
    }
    QPrinter printer(printerInfo, QPrinter::HighResolution);
    printer.setDocName(fileTitle());
    printer.setPageOrientation(m_buffer->orientation == 1 ? QPageLayout::Landscape : QPageLayout::Portrait);
    if (!GridPrinter(*m_buffer).print(printer, &error)) {
        messages().MessageBox(QStringLiteral("提示信息"), QStringLiteral("打印失败：") + error,
                              msg::Icon::Warning);
        return -1;
    }
    m_lastPrintTarget = printerInfo.printerName();
    emit printed(m_lastPrintTarget);
    return 1;
}

void GridView::setColumnOrder(const QStringList& columns)
{
    QHeaderView* h = m_table->horizontalHeader();
    int visual = m_buffer->layout().rowNumber ? 1 : 0;
    for (const QString& name : columns) {
        const int logical = m_model->modelColumn(name);
        if (logical < 0)
            continue;
        h->moveSection(h->visualIndex(logical), visual++);
    }
}

void GridView::BringToTop()
{
    raise();
    m_broughtToTop = true;
}

#include "foundation/ui/gridview.h"

#include "foundation/gridprint.h"
#include "foundation/places.h"
#include "foundation/ui/gridview_p.h"
#include "foundation/ui/messages.h"

#include <QApplication>
#include <QDateTime>
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
#include <utility>

namespace {

// Screen pixels per layout unit for column widths.
constexpr double kColumnScale = 0.28;
// The thin rules of the reports: rgb(0,128,128), a little lighter on screen.
const QColor kRule(0x7f, 0xbf, 0xbf);
const QColor kHeaderBack(0xe9, 0xf3, 0xf3);

QString g_printFolder;

QFont cellFont()
{
    QFont f(QStringLiteral("宋体"));
    f.setPointSize(10);
    return f;
}

bool isFigure(ColumnType t)
{
    return t == ColumnType::Decimal || t == ColumnType::Integer || t == ColumnType::Number;
}

QString fileSafe(QString text)
{
    static const QString bad = QStringLiteral("/\\:*?\"<>|\t\r\n");
    for (QChar& c : text)
        if (bad.contains(c))
            c = u'_';
    text = text.trimmed();
    return text.isEmpty() ? QStringLiteral("报表") : text;
}

} // namespace

namespace gridview_detail {

// ---------------------------------------------------------------- model

GridModel::GridModel(GridBuffer& buffer, QObject* parent) : QAbstractTableModel(parent), m_buffer(buffer)
{
    const GridLayout& l = buffer.layout();
    if (l.rowNumber)
        m_columns << -1;
    for (int i = 0; i < l.columns.size(); ++i)
        if (l.columns[i].visible && !l.columns[i].header.isEmpty())
            m_columns << i;
    m_rows = int(buffer.RowCount());
}

int GridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int GridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

int GridModel::modelColumn(const QString& gridColumn) const
{
    const int c = m_buffer.layout().columnIndex(gridColumn);
    return c < 0 ? -1 : int(m_columns.indexOf(c));
}

const QStringList& GridModel::tabOrder() const
{
    return m_buffer.layout().tabOrder;
}

bool GridModel::isEditable(int modelColumn) const
{
    const int c = layoutColumn(modelColumn);
    return c >= 0 && m_buffer.layout().columns[c].editable;
}

bool GridModel::isCheckBox(int modelColumn) const
{
    const int c = layoutColumn(modelColumn);
    return c >= 0 && m_buffer.layout().columns[c].checkBox;
}

int GridModel::editLimit(int modelColumn) const
{
    const int c = layoutColumn(modelColumn);
    return c < 0 ? 0 : m_buffer.layout().columns[c].editLimit;
}

int GridModel::designWidth(int modelColumn) const
{
    const int c = layoutColumn(modelColumn);
    return c < 0 ? m_buffer.layout().rowNumberWidth : m_buffer.layout().columns[c].width;
}

void GridModel::reload()
{
    beginResetModel();
    m_rows = int(m_buffer.RowCount());
    endResetModel();
}

void GridModel::rowChanged(long row)
{
    if (row >= 1 && row <= m_rows)
        emit dataChanged(index(int(row) - 1, 0), index(int(row) - 1, columnCount() - 1));
}

QVariant GridModel::data(const QModelIndex& index, int role) const
{
    const long row = index.row() + 1;
    // While redraw is off the buffer may hold fewer rows than the model last saw.
    if (!index.isValid() || row > m_buffer.RowCount())
        return {};
    const int c = layoutColumn(index.column());
    if (role == Qt::BackgroundRole)
        return QColor::fromRgb(m_buffer.rowBackground(row));
    if (c < 0) {
        if (role == Qt::DisplayRole)
            return QString::number(row);
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignCenter);
        return {};
    }
    const GridColumn& col = m_buffer.layout().columns[c];
    switch (role) {
    case Qt::DisplayRole:
        return col.checkBox ? QVariant() : QVariant(m_buffer.displayText(row, col.name));
    case Qt::EditRole:
        if (col.type == ColumnType::Decimal) {
            const auto d = m_buffer.GetItemDecimal(row, col.name);
            return d ? d->toString(2) : QString();
        }
        return m_buffer.GetItemString(row, col.name);
    case Qt::CheckStateRole:
        if (!col.checkBox)
            return {};
        return m_buffer.GetItem(row, col.name).toInt() == 1 ? Qt::Checked : Qt::Unchecked;
    case Qt::TextAlignmentRole:
        if (isFigure(col.type))
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(col.alignment);
    case Qt::ToolTipRole: {
        const QString text = m_buffer.displayText(row, col.name);
        return text.size() > 24 ? QVariant(text) : QVariant();
    }
    default:
        return {};
    }
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return {};
    const int c = m_columns[section];
    if (role == Qt::DisplayRole)
        return c < 0 ? m_buffer.layout().rowNumberHeader : m_buffer.layout().columns[c].header;
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    return {};
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (isCheckBox(index.column()) && isEditable(index.column()))
        f |= Qt::ItemIsUserCheckable;
    else if (isEditable(index.column()))
        f |= Qt::ItemIsEditable;
    return f;
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    const int c = layoutColumn(index.column());
    if (c < 0 || !isEditable(index.column()))
        return false;
    const QString name = m_buffer.layout().columns[c].name;
    const long row = index.row() + 1;
    if (role == Qt::CheckStateRole)
        return m_buffer.SetText(row, name, value.toInt() == Qt::Checked ? 1 : 0) == 1;
    if (role != Qt::EditRole)
        return false;
    // An unchanged cell is not an edit: it must not mark the row or run the hook.
    if (value.toString() == data(index, Qt::EditRole).toString())
        return true;
    const QString text = value.toString();
    if (m_buffer.layout().columns[c].type == ColumnType::Text)
        // An emptied text cell holds the empty text, as the grid shows it, not null.
        return m_buffer.SetText(row, name, text.isEmpty() ? QVariant(QStringLiteral("")) : QVariant(text)) ==
               1;
    return m_buffer.SetText(row, name, text.isEmpty() ? QVariant() : QVariant(text)) == 1;
}

QString GridModel::refusal(const QModelIndex& index, const QString& text) const
{
    const int c = layoutColumn(index.column());
    if (c < 0 || text == data(index, Qt::EditRole).toString())
        return {};
    return m_buffer.refusal(index.row() + 1, m_buffer.layout().columns[c].name, text);
}

QValidator::State LimitValidator::validate(QString& input, int& pos) const
{
    if (input.size() <= m_limit) {
        m_ceiling = m_limit;
        return Acceptable;
    }
    if (input.size() > m_ceiling) {
        // Growth past the limit: what was just typed or pasted (before the caret) is cut.
        const qsizetype excess = input.size() - m_ceiling;
        if (pos < excess)
            return Invalid;
        input.remove(pos - excess, excess);
        pos -= int(excess);
    }
    m_ceiling = input.size();
    return Acceptable;
}

// ---------------------------------------------------------------- delegate

QWidget* GridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                    const QModelIndex& index) const
{
    auto* edit = new QLineEdit(parent);
    edit->setFrame(false);
    edit->setFont(cellFont());
    if (const int limit = m_model->editLimit(index.column()); limit > 0)
        edit->setValidator(new LimitValidator(limit, edit));
    edit->setAlignment(Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt()));
    edit->setProperty("column", index.column());
    m_editor = edit;
    return edit;
}

void GridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
        const QString text = index.data(Qt::EditRole).toString();
        if (auto* limit = edit->findChild<LimitValidator*>())
            limit->startWith(text);
        edit->setText(text);
        edit->selectAll();
    }
}

void GridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    m_refusedEditor = nullptr;
    auto* edit = qobject_cast<QLineEdit*>(editor);
    if (!edit)
        return;
    // A value the column cannot hold is not dropped: the editor keeps it to be corrected.
    if (const QString why = m_model->refusal(index, edit->text()); !why.isEmpty()) {
        m_refusedEditor = editor;
        m_refusal = why;
        return;
    }
    model->setData(index, edit->text(), Qt::EditRole);
}

QString GridDelegate::takeRefusal(const QWidget* editor)
{
    if (!m_refusedEditor || m_refusedEditor != editor)
        return {};
    m_refusedEditor = nullptr;
    return std::exchange(m_refusal, QString());
}

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const
{
    const QVariant back = index.data(Qt::BackgroundRole);
    if (back.isValid())
        painter->fillRect(option.rect, back.value<QColor>());
    if (!m_model->isCheckBox(index.column())) {
        QStyleOptionViewItem opt = option;
        opt.rect.adjust(4, 0, -4, 0); // a little air between text and rules
        QStyledItemDelegate::paint(painter, opt, index);
        return;
    }
    // A check box centred in its cell, without a label.
    if (option.state & QStyle::State_Selected)
        painter->fillRect(option.rect, option.palette.highlight().color().lighter(170));
    QStyleOptionButton box;
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    const QRect indicator = style->subElementRect(QStyle::SE_CheckBoxIndicator, &box, option.widget);
    box.rect =
        QRect(option.rect.center() - QPoint(indicator.width() / 2, indicator.height() / 2), indicator.size());
    box.state =
        QStyle::State_Enabled |
        (index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On : QStyle::State_Off);
    style->drawControl(QStyle::CE_CheckBox, &box, painter, option.widget);
}

bool GridDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                               const QModelIndex& index)
{
    if (!m_model->isCheckBox(index.column()) || !(index.flags() & Qt::ItemIsUserCheckable))
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    bool toggle = false;
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(event);
        toggle = me->button() == Qt::LeftButton && option.rect.contains(me->position().toPoint());
    } else if (event->type() == QEvent::MouseButtonDblClick) {
        return true; // no editor for a check box
    } else if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        toggle = key == Qt::Key_Space || key == Qt::Key_Select;
    }
    if (!toggle)
        return false;
    const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    return model->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

// ---------------------------------------------------------------- table

GridTable::GridTable(GridModel* model, QWidget* parent)
    : QTableView(parent), m_model(model), m_delegate(new GridDelegate(model, this))
{
    setModel(model);
    setItemDelegate(m_delegate);
    setFont(cellFont());
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    // The caret goes into an editable cell the user clicks or tabs to; a cell
    // that only becomes current (the view getting focus, a retrieve) stays shown.
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setTabKeyNavigation(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    verticalScrollBar()->setTracking(true); // rows move while the thumb is dragged
    horizontalScrollBar()->setTracking(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 10);
    QHeaderView* h = horizontalHeader();
    QFont hf = cellFont();
    hf.setBold(true);
    h->setFont(hf);
    h->setHighlightSections(false);
    h->setSectionsClickable(false);
    h->setDefaultAlignment(Qt::AlignCenter);
    h->setMinimumHeight(QFontMetrics(hf).height() + 14);
    h->setStretchLastSection(false);
    setStyleSheet(
        QStringLiteral("QTableView { gridline-color: %1; background: white; "
                       "selection-background-color: #cfe3f7; selection-color: black; }"
                       "QHeaderView::section { background: %2; color: #103c3c; border: none; "
                       "border-right: 1px solid %1; border-bottom: 1px solid %1; padding: 2px 4px; }")
            .arg(kRule.name(), kHeaderBack.name()));
}

bool GridTable::commitOpenEditor()
{
    QWidget* editor = m_delegate->openEditor();
    if (state() != QAbstractItemView::EditingState || !editor)
        return true;
    m_lastRefused = false;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
    return !m_lastRefused;
}

void GridTable::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    const QString why = m_delegate->takeRefusal(editor);
    if (why.isEmpty()) {
        QTableView::closeEditor(editor, hint);
        return;
    }
    m_lastRefused = true;
    keepRefused(editor, why);
}

void GridTable::keepRefused(QWidget* editor, const QString& why)
{
    // The box takes the focus from the editor, which commits it again: say it once.
    if (m_telling)
        return;
    const QPersistentModelIndex cell = indexAt(editor->geometry().center());
    m_telling = true;
    messages().MessageBox(QStringLiteral("提示信息"), why);
    m_telling = false;
    QPointer<QWidget> kept(editor);
    QTimer::singleShot(0, this, [this, kept, cell] {
        if (!kept)
            return;
        if (cell.isValid() && currentIndex() != QModelIndex(cell))
            setCurrentIndex(cell);
        kept->setFocus();
        if (auto* edit = qobject_cast<QLineEdit*>(kept.data()))
            edit->selectAll();
    });
}

void GridTable::mousePressEvent(QMouseEvent* event)
{
    m_userMove = event->button() == Qt::LeftButton;
    QTableView::mousePressEvent(event);
    m_userMove = false;
}

void GridTable::keyPressEvent(QKeyEvent* event)
{
    // The editor follows the tab key.
    m_userMove = event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab;
    QTableView::keyPressEvent(event);
    m_userMove = false;
}

void GridTable::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (m_userMove && current.isValid() && (current.flags() & Qt::ItemIsEditable) &&
        state() != QAbstractItemView::EditingState)
        edit(current);
}

QModelIndex GridTable::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    if (action != MoveNext && action != MovePrevious)
        return QTableView::moveCursor(action, modifiers);

    // Tab walks the editable cells in the layout's tab order (else its column
    // order), row by row.
    QList<int> editable;
    const QStringList& tabOrder = m_model->tabOrder();
    for (const QString& name : tabOrder)
        if (const int c = m_model->modelColumn(name);
            c >= 0 && m_model->isEditable(c) && !editable.contains(c))
            editable << c;
    for (int c = 0; c < m_model->columnCount(); ++c)
        if (m_model->isEditable(c) && !editable.contains(c))
            editable << c;
    const int rows = m_model->rowCount();
    if (editable.isEmpty() || rows == 0)
        return QTableView::moveCursor(action, modifiers);
    QModelIndex cur = currentIndex();
    int row = cur.isValid() ? cur.row() : 0;
    int pos = cur.isValid() ? int(editable.indexOf(cur.column())) : -1;
    if (action == MoveNext) {
        if (pos < 0 && tabOrder.isEmpty()) {
            // From a non-editable cell: the first editable cell to its right (in layout order).
            pos = -1;
            for (int i = 0; i < editable.size(); ++i)
                if (cur.isValid() &&
                    m_model->layoutColumn(editable[i]) > m_model->layoutColumn(cur.column())) {
                    pos = i - 1;
                    break;
                }
        }
        if (++pos >= editable.size()) {
            pos = 0;
            row = (row + 1) % rows;
        }
    } else {
        if (pos < 0)
            pos = int(editable.size());
        if (--pos < 0) {
            pos = int(editable.size()) - 1;
            row = (row - 1 + rows) % rows;
        }
    }
    return m_model->index(row, editable[pos]);
}

// ---------------------------------------------------------------- title band

TitleBand::TitleBand(const GridBuffer& buffer, QWidget* parent) : QWidget(parent), m_buffer(buffer)
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

static QFont fontOf(const GridText& t)
{
    QFont f(t.family);
    f.setPointSize(t.pointSize);
    f.setBold(t.bold);
    return f;
}

QList<TitleBand::Line> TitleBand::lines() const
{
    QMap<int, Line> byLine;
    for (const GridText& t : m_buffer.layout().texts) {
        Line& l = byLine[t.line];
        l.texts << &t;
        l.height = qMax(l.height, QFontMetrics(fontOf(t)).height() + (t.pointSize >= 14 ? 16 : 6));
    }
    return byLine.values();
}

QSize TitleBand::sizeHint() const
{
    int h = 0;
    for (const Line& l : lines())
        h += l.height;
    return {400, h > 0 ? h + 8 : 0};
}

void TitleBand::refresh()
{
    updateGeometry();
    update();
}

void TitleBand::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    int y = 4;
    const QRect area = rect().adjusted(1, 0, -1, 0);
    bool first = true;
    for (const Line& l : lines()) {
        for (const GridText* t : l.texts) {
            p.setFont(fontOf(*t));
            p.setPen(t->pointSize >= 14 ? QColor(0x10, 0x2a, 0x2a) : QColor(0x30, 0x30, 0x30));
            p.drawText(QRect(area.left(), y, area.width(), l.height), int(t->alignment) | Qt::AlignVCenter,
                       m_buffer.text(t->name));
        }
        y += l.height;
        if (first && l.texts.size() == 1 && l.texts.first()->pointSize >= 14) {
            // The title's double rule, as on the printed page.
            const int w =
                qMin(area.width(), QFontMetrics(fontOf(*l.texts.first()))
                                           .horizontalAdvance(m_buffer.text(l.texts.first()->name)) +
                                       80);
            const int x = area.left() + (area.width() - w) / 2;
            p.setPen(QPen(QColor(0, 128, 128), 1.2));
            p.drawLine(x, y - 6, x + w, y - 6);
            p.setPen(QPen(QColor(0, 128, 128), 0.6));
            p.drawLine(x, y - 3, x + w, y - 3);
        }
        first = false;
    }
}

// ---------------------------------------------------------------- preview

PreviewPages::PreviewPages(const GridBuffer& buffer, QWidget* parent)
    : QWidget(parent), m_buffer(buffer), m_printer(buffer)
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(0x8a, 0x93, 0x99));
    setPalette(p);
}

namespace {
constexpr int kDeskMargin = 24;
} // namespace

double PreviewPages::zoom() const
{
    // Screen pixels per point: the sheet fits the width of the view, between
    // 60 % and life size.
    const double paperWidth = m_printer.paperSize().width();
    const QWidget* viewport = parentWidget();
    const double available = viewport ? viewport->width() - 2 * kDeskMargin : paperWidth;
    return qBound(0.6, available / paperWidth, 96.0 / 72.0);
}

QSizeF PreviewPages::pagePixels() const
{
    return m_printer.paperSize() * zoom();
}

void PreviewPages::refresh()
{
    m_pageCount = m_printer.pageCount();
    resize(sizeHint());
    update();
}

QSize PreviewPages::sizeHint() const
{
    const QSizeF page = pagePixels();
    const int n = qMax(1, m_pageCount);
    return {int(page.width()) + 2 * kDeskMargin, int(n * (page.height() + kDeskMargin) + kDeskMargin)};
}

void PreviewPages::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QSizeF page = pagePixels();
    const double x0 = qMax<double>(kDeskMargin, (width() - page.width()) / 2);
    for (int i = 0; i < qMax(1, m_pageCount); ++i) {
        const QRectF sheet(x0, kDeskMargin + i * (page.height() + kDeskMargin), page.width(), page.height());
        if (!event->rect().intersects(sheet.toAlignedRect().adjusted(-8, -8, 8, 8)))
            continue;
        m_printer.paintPreview(p, i + 1, sheet, m_buffer.previewOutline, m_buffer.previewRulers);
    }
}

} // namespace gridview_detail

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
    int used = 0;
    for (int c = 0; c < columns; ++c) {
        int w = qMax(28, int(m_model->designWidth(c) * kColumnScale * factor));
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
        const QString folder = g_printFolder.isEmpty() ? outputDir() : g_printFolder;
        QDir().mkpath(folder);
        const QString stem = fileSafe(title()) + QStringLiteral("_") +
                             QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
        QString path = QDir(folder).filePath(stem + QStringLiteral(".pdf"));
        for (int n = 2; QFileInfo::exists(path); ++n)
            path = QDir(folder).filePath(stem + QStringLiteral("_%1.pdf").arg(n));
        if (!writePdf(*m_buffer, path, &error)) {
            messages().MessageBox(QStringLiteral("提示信息"), QStringLiteral("打印失败：") + error);
            return -1;
        }
        m_lastPrintTarget = path;
        messages().MessageBox(QStringLiteral("提示信息"),
                              QStringLiteral("没有找到打印机，报表已保存为PDF文件：\n") +
                                  QDir::toNativeSeparators(path));
        emit printed(path);
        return 1;
    }
    QPrinter printer(printerInfo, QPrinter::HighResolution);
    printer.setDocName(title());
    printer.setPageOrientation(m_buffer->orientation == 1 ? QPageLayout::Landscape : QPageLayout::Portrait);
    if (!GridPrinter(*m_buffer).print(printer, &error)) {
        messages().MessageBox(QStringLiteral("提示信息"), QStringLiteral("打印失败：") + error);
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

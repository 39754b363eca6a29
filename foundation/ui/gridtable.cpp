// SPDX-License-Identifier: GPL-3.0-or-later
// The grid's table: the model over the row buffer, the cell editors and their
// two gates on typed values, and the table with its keys and tab order.
#include "foundation/gridprint.h"
#include "foundation/places.h"
#include "foundation/ui/gridview.h"
#include "foundation/ui/gridview_p.h"
#include "foundation/ui/messages.h"

#include <QApplication>
#include <QDesktopServices>
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
#include <QUrl>
#include <QVBoxLayout>
#include <utility>

namespace {

// The thin rules of the reports: rgb(0,128,128), a little lighter on screen.
const QColor kRule(0x7f, 0xbf, 0xbf);
const QColor kHeaderBack(0xe9, 0xf3, 0xf3);

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
        return c >= 0 && !m_buffer.layout().tints(m_buffer.layout().columns[c].name)
                   ? QColor(Qt::white)
                   : QColor::fromRgb(m_buffer.rowBackground(row));
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

} // namespace gridview_detail

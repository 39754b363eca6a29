// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Parts of GridView: the thin model over the buffer, the table with the tab
// order of the editable cells, the title band and the in-place preview.

#include "foundation/gridbuffer.h"
#include "foundation/gridprint.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QValidator>
#include <QWidget>

namespace gridview_detail {

class GridModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    GridModel(GridBuffer& buffer, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    // Why the typed text cannot go into the cell's column ("" when it can).
    QString refusal(const QModelIndex& index, const QString& text) const;

    // The layout's column index of a model column; -1 for the row number.
    int layoutColumn(int modelColumn) const { return m_columns.value(modelColumn, -1); }
    int modelColumn(const QString& gridColumn) const;
    const QStringList& tabOrder() const;
    bool isEditable(int modelColumn) const;
    bool isCheckBox(int modelColumn) const;
    int editLimit(int modelColumn) const;
    // Design width (layout units) of a model column.
    int designWidth(int modelColumn) const;

    void reload();
    void rowChanged(long row);

private:
    GridBuffer& m_buffer;
    QList<int> m_columns; // model column -> layout column (-1: row number)
    int m_rows = 0;
};

class GridDelegate final : public QStyledItemDelegate
{
    Q_OBJECT

public:
    GridDelegate(GridModel* model, QObject* parent) : QStyledItemDelegate(parent), m_model(model) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    QWidget* openEditor() const { return m_editor; }
    // The refusal of the last commit of `editor`, taken once ("" when it was stored).
    QString takeRefusal(const QWidget* editor);

private:
    GridModel* m_model;
    mutable QPointer<QWidget> m_editor;
    mutable QPointer<QWidget> m_refusedEditor;
    mutable QString m_refusal;
};

// Stops typing at the cell's limit without cutting what the cell already
// holds: a stored text longer than the limit is shown whole and may shrink,
// but never grow again past the limit (a line edit's own maximum length
// would cut the stored text the moment the cell is entered).
class LimitValidator final : public QValidator
{
    Q_OBJECT

public:
    LimitValidator(int limit, QObject* parent) : QValidator(parent), m_limit(limit), m_ceiling(limit) {}
    // The text the editor starts with; call before it is put into the editor.
    void startWith(const QString& text) { m_ceiling = std::max<qsizetype>(m_limit, text.size()); }
    State validate(QString& input, int& pos) const override;

private:
    qsizetype m_limit;
    mutable qsizetype m_ceiling;
};

class GridTable final : public QTableView
{
    Q_OBJECT

public:
    GridTable(GridModel* model, QWidget* parent);
    // False when the open cell's text was refused (the editor then stays open).
    bool commitOpenEditor();
    GridDelegate* gridDelegate() const { return m_delegate; }

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    // Keeps a refused editor open with the user's text, says why, and brings
    // the caret back to it.
    void keepRefused(QWidget* editor, const QString& why);
    bool m_telling = false;
    bool m_lastRefused = false;
    bool m_userMove = false;
    GridModel* m_model;
    GridDelegate* m_delegate;
};

// The title and header lines of the layout above the table.
class TitleBand final : public QWidget
{
    Q_OBJECT

public:
    TitleBand(const GridBuffer& buffer, QWidget* parent);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Line
    {
        QList<const GridText*> texts;
        int height = 0;
    };
    QList<Line> lines() const;
    const GridBuffer& m_buffer;
};

// The printed pages, one under the other on a grey desk.
class PreviewPages final : public QWidget
{
    Q_OBJECT

public:
    PreviewPages(const GridBuffer& buffer, QWidget* parent);
    QSize sizeHint() const override;
    void refresh();
    int pageCount() const { return m_pageCount; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double zoom() const;
    QSizeF pagePixels() const;
    const GridBuffer& m_buffer;
    GridPrinter m_printer; // keeps its page plan until the rows change
    int m_pageCount = 0;
};

} // namespace gridview_detail

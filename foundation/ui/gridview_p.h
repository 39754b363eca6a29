#pragma once

// Parts of GridView: the thin model over the buffer, the table with the tab
// order of the editable cells, the title band and the in-place preview.

#include "foundation/gridbuffer.h"
#include "foundation/gridprint.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>
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

private:
    GridModel* m_model;
    mutable QPointer<QWidget> m_editor;
};

class GridTable final : public QTableView
{
    Q_OBJECT

public:
    GridTable(GridModel* model, QWidget* parent);
    void commitOpenEditor();
    GridDelegate* gridDelegate() const { return m_delegate; }

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
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

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/gridlayout.h"

#include <QHash>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

class Sqlca;

// The rows of a grid and the operations the screens use on them, named as the
// screens call them. Rows count from 1 and are the rows passing the filter, in
// shown order. Every row keeps its original values and a status; Update writes
// changed rows, hidden ones included, by their original key values.
class GridBuffer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GridBuffer)

public:
    explicit GridBuffer(GridLayout layout, QObject* parent = nullptr);
    ~GridBuffer() override;

    const GridLayout& layout() const { return m_layout; }
    QString objectNameOfLayout() const { return m_layout.name; }

    void SetTransObject(Sqlca* sqlca) { m_sqlca = sqlca; }
    Sqlca* transObject() const { return m_sqlca; }

    // Replaces all rows; runs retrieveStart before the query and retrieveEnd
    // after the rows are in. Returns the row count, or -1 (error left in sqlca).
    long Retrieve(const QVariantList& args = {});
    long RowCount() const;
    QString GetItemString(long row, const QString& column) const; // null for null
    std::optional<Decimal> GetItemDecimal(long row, const QString& column) const;
    QVariant GetItem(long row, const QString& column) const;
    // Program writes: stored at once, marks the row modified when the value
    // differs from the original; no item-changed hook. 1 or -1.
    int SetItem(long row, const QString& column, const QVariant& value);
    // A user's edit: runs itemChanged first (which may re-sort the rows), then
    // stores the value into the same row (found by identity, not position).
    // 1 stored, 0 rejected by itemChanged, -1 no such row or column, or a value
    // the column cannot hold.
    int SetText(long row, const QString& column, const QVariant& value);
    // True when the shown row differs from what was read (or last written).
    bool IsRowModified(long row) const;
    // The value the row had when it was read (or last written).
    QVariant GetItemOriginal(long row, const QString& column) const;
    QString filterExpression() const { return m_filter; }
    QString sortExpression() const { return m_sort; }
    // The row's current values in column order.
    QVariantList Primary(long row) const;

    int SetFilter(const QString& expression); // "xz = 0", "xz = 1", "" for none
    int Filter();
    int SetSort(const QString& expression); // "hh asc", "hh desc, zbbm asc"
    int Sort();                             // stable
    // Asks the view to store the cell being edited: 1 stored (or nothing was
    // open), -1 when the typed value was refused (the user has been told).
    int AcceptText();
    long ModifiedCount() const; // modified rows, hidden ones included
    int Reset();                // drops all rows, writes nothing
    void SetRedraw(bool on);
    bool redrawOn() const { return m_redraw; }
    // 1 success, -1 failure (error in sqlca, everything written rolled back,
    // every edit and row status kept). A row that no longer matches its key as
    // read (changed or removed by another user) is a failure too.
    int Update();
    // The message that refuses a typed value the column cannot hold ("" when
    // it can), naming the row and the column as the user sees them.
    QString refusal(long row, const QString& column, const QVariant& value) const;

    // Header and title texts by object name (t_qijian, t_qymc, t_biaoti, ...).
    void setText(const QString& objectName, const QString& text);
    QString text(const QString& objectName) const;

    // Print and preview attributes.
    bool preview = false;
    bool previewOutline = true;
    bool previewRulers = false;
    int orientation = 2; // 1 landscape, 2 portrait
    void setPreview(bool on);
    void setOrientation(int o);
    void setPreviewOutline(bool on);
    void setPreviewRulers(bool on);
    // Alternating row colours (uf_bgcolor switches them).
    bool rowColors() const { return m_rowColors; }
    void setRowColors(bool on);

    // What the grid shows in a cell: masks applied, null blank.
    QString displayText(long row, const QString& column) const;
    QString maskFor(long row, const QString& column) const;
    QRgb rowBackground(long row) const; // white when row colours are off

    // Grows with every change of rows, values, texts or appearance, so a
    // printer or view can tell whether what it laid out is still current.
    quint64 revision() const { return m_revision; }

    // Handlers of the screen.
    std::function<void()> retrieveStart;
    std::function<void(long rows)> retrieveEnd;
    // Before a user's edit is stored; false rejects the value.
    std::function<bool(long row, const QString& column, const QVariant& oldValue, const QVariant& newValue)>
        itemChanged;
    // Before Update writes anything: a non-empty text refuses the update and
    // becomes sqlca's error text (the screen's own checks, such as duplicate codes).
    std::function<QString()> updateStart;
    // Inside Update's transaction, after the changed rows are written and before
    // the commit: the writes that belong to the same save (the scheme copies of a
    // renamed indicator). A non-empty text rolls everything back, keeps every
    // edit and becomes sqlca's error text.
    std::function<QString()> updateWritten;
    // Installed by the view: stores the value of the cell being edited; false
    // when the typed value was refused.
    std::function<bool()> acceptTextHandler;

signals:
    void rowsChanged(); // rows replaced, filtered, sorted, reset, redraw back on
    void itemValueChanged(long row, const QString& column);
    void appearanceChanged(); // texts, preview, orientation, colours

private:
    struct Row;
    using RowPtr = std::shared_ptr<Row>;
    struct FilterRule;
    struct SortKey;
    void notifyRows();
    void notifyItem(const RowPtr& row, int column);
    void applyFilter();
    RowPtr shownRow(long row) const; // null when out of range
    long shownPosition(const RowPtr& row) const;
    // How the user names a row: its number and key values.
    QString describeRow(const RowPtr& row) const;
    // The value in the column's own type; nullopt when it cannot be held.
    std::optional<QVariant> coerce(int column, const QVariant& value) const;
    bool sameValue(int column, const QVariant& a, const QVariant& b) const;
    int store(const RowPtr& row, int column, const QVariant& value);

    GridLayout m_layout;
    Sqlca* m_sqlca = nullptr;
    QList<RowPtr> m_rows;  // all rows, in buffer order (Sort reorders them)
    QList<RowPtr> m_shown; // rows passing the filter, in shown order
    QString m_filter;
    QString m_sort;
    bool m_redraw = true;
    bool m_rowsDirty = false;
    quint64 m_revision = 0;
    bool m_rowColors = true;
    QHash<QString, QString> m_texts;
};

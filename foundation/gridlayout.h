// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/decimal.h"

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

class Dialect;

// What a grid layout describes: the query, its columns, how changed rows are
// written back, and how the grid looks on screen and on paper.

enum class ColumnType
{
    Text,
    Integer,
    Decimal, // exact, two decimals
    Number,  // a general number (flags)
};

struct GridColumn
{
    QString name;   // as the grid carries it, e.g. s_zbfa_zbmc
    QString source; // the stored column it is written back to, e.g. zbmc; empty when read-only
    ColumnType type = ColumnType::Text;
    QString header;   // column header text; empty for a hidden column
    int width = 300;  // design width in layout units (1 unit ≈ 1/4 mm on paper)
    bool key = false; // part of the update key
    bool updatable = false;
    bool editable = false;
    int editLimit = 0;     // characters; 0 = no limit
    bool checkBox = false; // edited as a check box: ticked 1, clear 0
    bool visible = true;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    // Format: "[general]", "0.00", "###%". When maskByColumn is set, the mask
    // is "###%" for rows whose maskByColumn is 1 and "0.00" otherwise.
    QString format = QStringLiteral("[general]");
    QString maskByColumn;

    // The stored column name: `source`, or the grid name when no source is given.
    QString storedName() const { return source.isEmpty() ? name : source; }
    // Written back by Update: marked updatable or given a source.
    bool writesBack() const { return updatable || !source.isEmpty(); }
};

// A text object of the title or header band (t_1, t_biaoti, t_qijian, t_qymc, ...).
struct GridText
{
    QString name;
    QString text;
    QString family = QStringLiteral("宋体");
    int pointSize = 10;
    bool bold = false;
    Qt::Alignment alignment = Qt::AlignHCenter;
    // Texts with the same line number share one line (left/right aligned).
    int line = 0;
};

struct GridLayout
{
    QString name; // d_xmjdzl, dw_zbfa, d_guideline
    // The query, with positional ? placeholders for the retrieval arguments.
    QString query;
    QString queryPostgres; // when the PostgreSQL text differs; empty = same
    QStringList arguments;
    QList<GridColumn> columns;
    // Left-to-right order of the columns on screen, on paper and in exports
    // (grid names; the ones not named follow in layout order). Empty: the
    // layout's order. Tab still walks the editable cells in the layout's order.
    QStringList displayOrder;

    // Writing back: the table, the key columns (grid names) and further grid
    // columns the stored row must match too (so an update never reaches a row
    // of another scheme).
    QString updateTable;
    QStringList keyColumns;
    QStringList matchColumns;

    // On screen, the column (grid name) that gives way when the grid is
    // narrower than the layout: it narrows, down to a third of its width, so
    // the rows fit without a horizontal scroll bar (a cut text shows whole in
    // its tip and its editor). Empty: every column keeps its width. Paper and
    // exports keep the layout's widths.
    QString narrowColumn;

    // The order Tab walks the editable cells of a row, by grid column name;
    // editable columns not named follow in column order. Empty: the column order.
    QStringList tabOrder;

    // Computed row number column ("GetRow()"), shown first.
    bool rowNumber = true;
    QString rowNumberHeader = QStringLiteral("序号");
    int rowNumberWidth = 150;

    // Alternating row colour: rows whose 1-based number has this parity (0 even,
    // 1 odd) get `tint`; the others white. 16772095 = red 255, green 235, blue 255.
    int tintParity = 0;
    QRgb tint = qRgb(255, 235, 255);
    // The columns (grid names) the tint falls on; empty: the whole row.
    QStringList tintColumns;
    bool tints(const QString& column) const
    {
        return tintColumns.isEmpty() || tintColumns.contains(column, Qt::CaseInsensitive);
    }

    QList<GridText> texts;
    int orientation = 2; // 1 landscape, 2 portrait

    int columnIndex(const QString& name) const;
    // Indices of every column, in display order.
    QList<int> displayIndices() const;
    const GridText* text(const QString& name) const;
    QString queryFor(const Dialect& dialect) const;
};

// Formats a figure by its mask: "###%" (×100, whole, half away from zero, "%"),
// "0.00" (two decimals, half away from zero) or "[general]" (shortest exact form).
// A null value gives the empty text.
QString formatFigure(const std::optional<Decimal>& value, const QString& mask);

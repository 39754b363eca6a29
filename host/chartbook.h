// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h"
#include "host/xlsxexport.h"

#include <QList>
#include <QString>
#include <QStringList>

// A one-sheet workbook of a table with native spreadsheet charts drawn from
// its cells: the spreadsheet program draws the chart itself, so it follows
// edits of the figures.

// How a chart tells its series apart, the same in the program's own charts
// and in the workbook's: ten colours, each in five line styles (fill patterns
// for bars), so no two of the first 50 series look alike.
struct SeriesLook
{
    enum Stroke
    {
        Solid,      // a full line, a solid bar
        Dashed,     // dashes, bars hatched upwards
        Dotted,     // dots, bars hatched downwards
        DashDot,    // dash and dot, bars in a grid
        DashDotDot, // dash and two dots, bars half filled
    };
    quint32 rgb = 0; // 0xRRGGBB
    Stroke stroke = Solid;
};
constexpr int kDistinctSeriesLooks = 50;
SeriesLook seriesLook(int index);

// The unit a value axis names and the factor its figures are shown divided by:
// amounts in 元 of 100,000 or more are shown in 万元; other units as they are;
// series of several units name them all; none where a series names none.
struct AxisUnit
{
    QString title;      // "元", "万元", "户", "元、户", or empty
    double divisor = 1; // 10000 for 万元
};
AxisUnit axisUnit(const QStringList& seriesUnits, double largest);

// A chart of the table's figures.
struct ChartBookChart
{
    enum Kind
    {
        Line,   // vertical values, categories along the bottom
        Column, // vertical bars
        Bar,    // horizontal bars, the first category on top
    };
    Kind kind = Line;
    QString title;
    QString mask;      // the value axis's format, "0.00" or "###%"
    QStringList units; // the unit of each series ("元", "户", "" for none), for the value axis
    // Series by rows: each listed table row is a series over the value
    // columns, named by its cell in `nameColumn`, the column headers the
    // categories. Otherwise one series down `valueColumn` over all rows, the
    // cells of `nameColumn` the categories.
    bool seriesInRows = true;
    QList<int> rows; // table rows (0-based) for seriesInRows
    int valueColumn = 0;
};

struct ChartBook
{
    QString sheetName;
    QString title;                // the title line, in the report's title font
    QString subtitle;             // the line under it (period, unit, scheme)
    QStringList headers;          // the column header row
    QList<QList<XlsxCell>> rows;  // the table
    int textColumns = 0;          // leading text columns, kept in view and repeated on wide printouts
    int nameColumn = 0;           // names the series (rows) or the categories (columns)
    int firstValueColumn = 0;     // the figures of a row series start here
    QList<ChartBookChart> charts; // placed under the table, one below the other
    bool landscape = false;
    bool onePageWide = false; // the table prints one page wide however many columns
    QString subject;          // the document's subject and title
    QString documentTitle;
};

// Writes the workbook (the table as the program's other tables are, typed
// figures with the grid masks) whole or not at all; with `bytes` it comes back
// there instead.
Status writeChartBook(const ChartBook& book, const QString& path, QByteArray* bytes = nullptr);

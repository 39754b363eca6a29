#pragma once

#include "foundation/host.h"
#include "host/xlsxexport.h"

#include <QList>
#include <QString>
#include <QStringList>

// A one-sheet workbook of a table with native spreadsheet charts drawn from
// its cells: the spreadsheet program draws the chart itself, so it follows
// edits of the figures.

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
    QString mask; // the value axis's format, "0.00" or "###%"
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
    QString subject; // the document's subject and title
    QString documentTitle;
};

// Writes the workbook (the table as the program's other tables are, typed
// figures with the grid masks) whole or not at all; with `bytes` it comes back
// there instead.
Status writeChartBook(const ChartBook& book, const QString& path, QByteArray* bytes = nullptr);

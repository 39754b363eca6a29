// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <memory>
#include <optional>

class GridBuffer;
struct DocumentInfo;
struct lxw_workbook;
struct lxw_worksheet;

// One cell of a plain table sheet: text, or a figure with the grid mask it is shown by.
struct XlsxCell
{
    bool numeric = false;
    QString text;                 // the text, or the figure as shown (for the column width)
    std::optional<double> number; // empty: a blank cell
    QString mask;                 // "0.00", "###%", ...
    bool centred = false;         // a short number such as a rank, centred in its column
};

// A plain table sheet: a title line, a second line, the column headers and the rows.
struct XlsxTable
{
    QString title;
    QString subtitle;
    QStringList headers;
    QList<QList<XlsxCell>> rows;
    int frozenColumns = 0; // leading columns that stay in view
    bool landscape = false;
    // Printed one page wide however many columns, the title lines across the
    // whole table; else a table of a dozen columns or more goes across pages.
    bool onePageWide = false;
};

// How every sheet the program writes prints: A4 in the given orientation, all
// columns fitted to one page wide (as many pages down as needed), the rows
// from the top down to `repeatedRows` (title, period and unit lines, column
// header) repeated on every page (a table too wide to shrink onto one page
// goes across pages, its leading columns repeated), "第 &P 页 / 共 &N 页" in the footer, 15 mm
// margins at the sides.
struct SheetPrintSetup
{
    bool landscape = false;
    int repeatedRows = 0; // rows 0 .. repeatedRows-1; 0 repeats none
    // Columns 0 .. repeatedColumns-1 repeated on every page across, for tables
    // too wide to fit one page; 0 fits the columns to one page wide.
    int repeatedColumns = 0;
};
void setUpSheetPrinting(lxw_worksheet* sheet, const SheetPrintSetup& setup);

// A workbook of grids and tables, one sheet each, made in memory and written on
// commit() whole or not at all (beside the target, then renamed into place).
// A workbook not committed leaves nothing behind. Sheets may be added first and
// filled later (a summary sheet in front of the sheets it sums up).
class XlsxWorkbook final
{
public:
    explicit XlsxWorkbook(const QString& path);
    ~XlsxWorkbook();
    Q_DISABLE_COPY_MOVE(XlsxWorkbook)

    // False when the file cannot be started; error() says why.
    bool isOpen() const;
    QString error() const;

    // Adds the grid as a sheet with its page set-up: the title and header
    // lines merged across the table, the column header row, then the shown
    // rows as the grid shows them. Figures are numbers carrying the grid's
    // display format ("###%" as "0%", "0.00" as "0.00"), so a spreadsheet can
    // sum them; blank cells stay empty. Columns are as wide as their texts in
    // the fonts the sheet names. The sheet is named `sheetName`, or after the
    // grid's title when empty; a name already taken gets a number.
    Status addSheet(const GridBuffer& grid, const QString& sheetName = QString());

    // Adds an empty sheet under a name made fit for a sheet (and unique); its
    // index for the writers below, or -1 (error() says why).
    int newSheet(const QString& name);
    // Fills a sheet from newSheet() with a grid, as addSheet() does.
    Status writeGrid(int sheet, const GridBuffer& grid);
    // Fills a sheet from newSheet() with a plain table; the title lines stay
    // over the first columns, so a wide table shows them on its first page
    // (over every column of a table printed one page wide, widened to hold them).
    // The table's first row is at `tableRow(table)` (for charts of it).
    Status writeTable(int sheet, const XlsxTable& table);
    static int tableRow(const XlsxTable& table);

    // The library's handles, for parts the class does not write itself (charts).
    lxw_workbook* workbook() const;
    lxw_worksheet* worksheet(int sheet) const;

    // The workbook's properties; the application is always "allstats <version>".
    void setInfo(const DocumentInfo& info);
    // Writes the workbook; with `bytes` it comes back there instead (the path
    // then only names it in messages).
    Status commit(QByteArray* bytes = nullptr);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Writes the grid as a one-sheet workbook with the grid's document information;
// with `bytes` it comes back there instead.
Status writeXlsx(const GridBuffer& grid, const QString& path, QByteArray* bytes = nullptr);

// The sheet name for a title: at most 31 characters, none of []:*?/\ .
QString xlsxSheetName(const QString& title);

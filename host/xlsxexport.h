#pragma once

#include "foundation/host.h"

#include <QString>
#include <QtGlobal>
#include <memory>

class GridBuffer;
struct DocumentInfo;
struct lxw_worksheet;

// How every sheet the program writes prints: A4 in the given orientation, all
// columns fitted to one page wide (as many pages down as needed), the rows
// from the top down to `repeatedRows` (title, period and unit lines, column
// header) repeated on every page, "第 &P 页 / 共 &N 页" in the footer, 15 mm
// margins at the sides.
struct SheetPrintSetup
{
    bool landscape = false;
    int repeatedRows = 0; // rows 0 .. repeatedRows-1; 0 repeats none
};
void setUpSheetPrinting(lxw_worksheet* sheet, const SheetPrintSetup& setup);

// A workbook of grids, one sheet each, written on commit(): beside the target
// and renamed into place, so the file appears whole or not at all. A workbook
// not committed leaves nothing behind.
class XlsxWorkbook final
{
public:
    explicit XlsxWorkbook(const QString& path);
    ~XlsxWorkbook();
    Q_DISABLE_COPY_MOVE(XlsxWorkbook)

    // Adds the grid as a sheet with its page set-up: the title and header
    // lines merged across the table, the column header row, then the shown
    // rows as the grid shows them. Figures are numbers carrying the grid's
    // display format ("###%" as "0%", "0.00" as "0.00"), so a spreadsheet can
    // sum them; blank cells stay empty. Columns are as wide as their texts in
    // the fonts the sheet names. The sheet is named `sheetName`, or after the
    // grid's title when empty; a name already taken gets a number.
    Status addSheet(const GridBuffer& grid, const QString& sheetName = QString());
    // The workbook's properties; the application is always "allstats <version>".
    void setInfo(const DocumentInfo& info);
    Status commit();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Writes the grid as a one-sheet workbook with the grid's document information.
Status writeXlsx(const GridBuffer& grid, const QString& path);

// The sheet name for a title: at most 31 characters, none of []:*?/\ .
QString xlsxSheetName(const QString& title);

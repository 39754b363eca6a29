#pragma once

#include "foundation/host.h"

#include <QString>

class GridBuffer;

// Writes the grid as an .xlsx workbook: the title and header lines merged across
// the table, the column header row, then the shown rows as the grid shows them.
// Figures are written as numbers carrying the grid's display format ("###%" as
// "0%", "0.00" as "0.00"), so a spreadsheet can sum them; blank cells stay empty.
// The file appears whole or not at all.
Status writeXlsx(const GridBuffer& grid, const QString& path);

// The sheet name for a title: at most 31 characters, none of []:*?/\ .
QString xlsxSheetName(const QString& title);

#pragma once

#include "foundation/host.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class GridBuffer;

// Writes the grid as an .xlsx workbook: the title and header lines merged across
// the table, the column header row, then the shown rows as the grid shows them.
// Figures are written as numbers carrying the grid's display format ("###%" as
// "0%", "0.00" as "0.00"), so a spreadsheet can sum them; blank cells stay empty.
// The file appears whole or not at all.
Status writeXlsx(const GridBuffer& grid, const QString& path);

// The sheet name for a title: at most 31 characters, none of []:*?/\ .
QString xlsxSheetName(const QString& title);

// One cell of a plain table sheet: text, or a figure with the grid mask it is shown by.
struct XlsxCell
{
    bool numeric = false;
    QString text;                 // the text, or the figure as shown (for the column width)
    std::optional<double> number; // empty: a blank cell
    QString mask;                 // "0.00", "###%", ...
};

// A plain table sheet: a title line, a second line, the column headers and the rows.
struct XlsxTable
{
    QString title;
    QString subtitle;
    QStringList headers;
    QList<QList<XlsxCell>> rows;
    int frozenColumns = 0; // leading columns that stay in view
};

// A workbook written sheet by sheet. Sheets are added in their order and may be
// filled later; the file appears whole at close() or, when the book is
// abandoned or destroyed unclosed, not at all.
class XlsxBook final
{
public:
    explicit XlsxBook(QString path);
    ~XlsxBook();
    XlsxBook(const XlsxBook&) = delete;
    XlsxBook& operator=(const XlsxBook&) = delete;

    bool isOpen() const;
    QString error() const { return m_error; }
    // Adds the next sheet under a name made fit for a sheet (and unique); its index, or -1.
    int addSheet(const QString& title);
    // The grid as writeXlsx writes it.
    Status writeGrid(int sheet, const GridBuffer& grid);
    Status writeTable(int sheet, const XlsxTable& table);
    Status close();
    void abandon();

private:
    struct Book;
    QString m_path;
    QString m_partial;
    QString m_error;
    std::unique_ptr<Book> m_book;
};

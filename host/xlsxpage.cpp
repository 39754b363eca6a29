// SPDX-License-Identifier: GPL-3.0-or-later
// A sheet's page set-up: its name as the spreadsheet accepts it, A4 in the
// grid's orientation, fitted one page wide, repeated rows, the page footer.
#include "host/xlsxexport.h"

#include <QString>
#include <xlsxwriter.h>

QString xlsxSheetName(const QString& title)
{
    QString name;
    for (const QChar c : title.trimmed()) {
        if (QStringLiteral("[]:*?/\\").contains(c) || c.unicode() < 0x20)
            continue;
        name += c;
    }
    // A name may not start or end with an apostrophe.
    while (name.startsWith(u'\''))
        name.remove(0, 1);
    name = name.left(31);
    while (name.endsWith(u'\''))
        name.chop(1);
    if (name.trimmed().isEmpty())
        name = QStringLiteral("Sheet1");
    return name;
}

void setUpSheetPrinting(lxw_worksheet* sheet, const SheetPrintSetup& setup)
{
    constexpr uint8_t kA4 = 9;
    worksheet_set_paper(sheet, kA4);
    if (setup.landscape)
        worksheet_set_landscape(sheet);
    else
        worksheet_set_portrait(sheet);
    // One page wide, as many pages down as the rows need; a table wider than
    // a few pages goes across pages at its size, its leading columns repeated.
    if (setup.repeatedColumns > 0)
        worksheet_repeat_columns(sheet, 0, lxw_col_t(setup.repeatedColumns - 1));
    else
        worksheet_fit_to_pages(sheet, 1, 0);
    // Inches: 15 mm at the sides, room above and for the footer below.
    worksheet_set_margins(sheet, 0.59, 0.59, 0.59, 0.79);
    worksheet_center_horizontally(sheet);
    if (setup.repeatedRows > 0)
        worksheet_repeat_rows(sheet, 0, lxw_row_t(setup.repeatedRows - 1));
    lxw_header_footer_options footer{};
    footer.margin = 0.3;
    worksheet_set_footer_opt(sheet, "&C第 &P 页 / 共 &N 页", &footer);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/tidy.h"

#include "foundation/gridbuffer.h"

namespace {

const QString kType = QStringLiteral("s_zbfa_zblx");

void blankZeroFigures(GridBuffer& grid, long row)
{
    for (const QString& column :
         {QStringLiteral("qichu"), QStringLiteral("fasheng"), QStringLiteral("leiji")}) {
        const auto figure = grid.GetItemDecimal(row, column);
        if (figure && figure->isZero())
            grid.SetItem(row, column, QVariant());
    }
}

// The trimmed label; a null label stays null (it breaks a run).
QString trimmedLabel(const GridBuffer& grid, long row)
{
    const QString label = grid.GetItemString(row, kType);
    if (label.isNull())
        return {};
    const QString t = label.trimmed();
    return t.isNull() ? QStringLiteral("") : t;
}

} // namespace

void tidyReportRows(GridBuffer& grid)
{
    long rowCount = grid.RowCount();
    if (rowCount < 1)
        return;
    grid.SetRedraw(false);

    blankZeroFigures(grid, 1);
    rowCount = grid.RowCount();
    QString typeOld = trimmedLabel(grid, 1); // row 1 always keeps its label
    for (long row = 2; row <= rowCount; ++row) {
        const QString typeNew = trimmedLabel(grid, row);
        if (!typeOld.isNull() && !typeNew.isNull() && typeNew == typeOld)
            grid.SetItem(row, kType, QStringLiteral(""));
        else
            typeOld = typeNew;
        blankZeroFigures(grid, row);
    }

    grid.SetRedraw(true);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/layouts.h"

#include "catalogue/d_guideline.h"

GridLayout catalogueWithCheckBoxes()
{
    GridLayout l = d_guideline();
    l.query = QStringLiteral("SELECT number, zblx, zbmc, zbms, flag2 FROM s_zbbm ORDER BY number");
    GridColumn flag;
    flag.name = QStringLiteral("flag2");
    flag.source = QStringLiteral("flag2");
    flag.type = ColumnType::Number;
    flag.header = QStringLiteral("百分比");
    flag.width = 200;
    flag.updatable = true;
    flag.editable = true;
    flag.checkBox = true;
    l.columns << flag;
    return l;
}

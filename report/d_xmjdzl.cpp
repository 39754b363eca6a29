// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/d_xmjdzl.h"

#include "foundation/gridbuffer.h"
#include "report/tidy.h"

namespace {

GridColumn textColumn(const QString& name, const QString& header, int width)
{
    GridColumn c;
    c.name = name;
    c.type = ColumnType::Text;
    c.header = header;
    c.width = width;
    c.editable = true; // typing lives in the row buffer only: the grid has no update table
    c.editLimit = 50;
    return c;
}

GridColumn figureColumn(const QString& name, const QString& header)
{
    GridColumn c;
    c.name = name;
    c.type = ColumnType::Decimal;
    c.header = header;
    c.width = 380;
    c.editable = true;
    c.alignment = Qt::AlignRight | Qt::AlignVCenter;
    // Ratio indicators (flag2 = 1) read "###%", every other figure "0.00".
    c.format = QStringLiteral("[general]");
    c.maskByColumn = QStringLiteral("s_zbfa_flag2");
    return c;
}

} // namespace

GridLayout d_xmjdzl()
{
    GridLayout l;
    l.name = QStringLiteral("d_xmjdzl");
    // Result columns in the order of `columns` below (the display order).
    // t_stat.zbbm breaks ties of the row order so two runs list equal rows alike.
    l.query = QStringLiteral("SELECT s_zbfa.zblx AS s_zbfa_zblx, s_zbfa.zbmc AS s_zbfa_zbmc, "
                             "t_stat.qichu AS qichu, t_stat.fasheng AS fasheng, t_stat.leiji AS leiji, "
                             "s_zbfa.flag2 AS s_zbfa_flag2 "
                             "FROM t_stat, s_zbfa "
                             "WHERE t_stat.zbbm = s_zbfa.zbbm AND s_zbfa.falx = 1 AND s_zbfa.fabm = ? "
                             "ORDER BY t_stat.hh ASC, t_stat.zbbm ASC");
    l.arguments = {QStringLiteral("li_fabm")};

    l.columns << textColumn(QStringLiteral("s_zbfa_zblx"), QStringLiteral("类型"), 420)
              << textColumn(QStringLiteral("s_zbfa_zbmc"), QStringLiteral("项目"), 760)
              << figureColumn(QStringLiteral("qichu"), QStringLiteral("期初数"))
              << figureColumn(QStringLiteral("fasheng"), QStringLiteral("发生数"))
              << figureColumn(QStringLiteral("leiji"), QStringLiteral("累计数"));
    GridColumn flag2;
    flag2.name = QStringLiteral("s_zbfa_flag2");
    flag2.type = ColumnType::Number;
    flag2.visible = false;
    flag2.width = 0;
    l.columns << flag2;

    // Tab goes through the figures first, then the type and the item.
    l.tabOrder = {QStringLiteral("qichu"), QStringLiteral("fasheng"), QStringLiteral("leiji"),
                  QStringLiteral("s_zbfa_zblx"), QStringLiteral("s_zbfa_zbmc")};

    // No update table: the report is never saved.
    l.rowNumber = true;
    l.rowNumberHeader = QStringLiteral("序号");
    l.rowNumberWidth = 150;

    // Rows 2, 4, … tinted 16772095, the others white.
    l.tintParity = 0;
    l.tint = qRgb(255, 235, 255);

    GridText title;
    title.name = QStringLiteral("t_1");
    title.text = QStringLiteral("项目进度及借款质量表");
    title.family = QStringLiteral("楷体_GB2312");
    title.pointSize = 18;
    title.bold = true;
    title.alignment = Qt::AlignHCenter;
    title.line = 0;

    GridText period;
    period.name = QStringLiteral("t_qijian");
    period.text = QStringLiteral("报表期间：");
    period.family = QStringLiteral("宋体");
    period.pointSize = 11;
    period.alignment = Qt::AlignLeft;
    period.line = 1;

    GridText unit;
    unit.name = QStringLiteral("t_qymc");
    unit.text = QStringLiteral("区域名称：");
    unit.family = QStringLiteral("宋体");
    unit.pointSize = 11;
    unit.alignment = Qt::AlignRight;
    unit.line = 1;

    l.texts << title << period << unit;
    l.orientation = 2;
    return l;
}

void attachReportTidying(GridBuffer& grid)
{
    grid.retrieveEnd = [&grid](long) { tidyReportRows(grid); };
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "schemes/dw_zbfa.h"

namespace {

GridColumn column(const QString& name, const QString& source, ColumnType type, const QString& header,
                  int width, bool editable)
{
    GridColumn c;
    c.name = name;
    c.source = source;
    c.type = type;
    c.header = header;
    c.width = width;
    c.updatable = !source.isEmpty();
    c.editable = editable;
    c.visible = !header.isEmpty();
    return c;
}

} // namespace

GridLayout dw_zbfa()
{
    GridLayout l;
    l.name = QStringLiteral("dw_zbfa");
    // zbbm breaks ties of the row order, so equal row orders come the same way every time.
    l.query = QStringLiteral("SELECT s_zbfa.zbbm AS zbbm, s_zbbm.zbms AS zbms, s_zbfa.fabm AS fabm, "
                             "s_zbfa.famc AS s_zbfa_famc, s_zbfa.hh AS hh, s_zbfa.deffa AS deffa, "
                             "s_zbfa.xz AS xz, s_zbfa.falx AS falx, s_zbfa.zblx AS s_zbfa_zblx, "
                             "s_zbfa.zbmc AS s_zbfa_zbmc, s_zbfa.zbms AS s_zbfa_zbms "
                             "FROM s_zbfa, s_zbbm "
                             "WHERE s_zbfa.zbbm = s_zbbm.number AND s_zbfa.fabm = ? AND s_zbfa.falx = ? "
                             "ORDER BY s_zbfa.hh ASC, s_zbfa.zbbm ASC");
    l.arguments = {QStringLiteral("li_fabm"), QStringLiteral("li_falx")};

    const QString none;
    l.columns << column(QStringLiteral("zbbm"), QStringLiteral("zbbm"), ColumnType::Text,
                        QStringLiteral("编码"), 220, true)
              << column(QStringLiteral("zbms"), none, ColumnType::Text, none, 0, false)
              << column(QStringLiteral("fabm"), QStringLiteral("fabm"), ColumnType::Integer, none, 0, false)
              << column(QStringLiteral("s_zbfa_famc"), QStringLiteral("famc"), ColumnType::Text, none, 0,
                        false)
              << column(QStringLiteral("hh"), QStringLiteral("hh"), ColumnType::Integer,
                        QStringLiteral("行序"), 200, true)
              << column(QStringLiteral("deffa"), QStringLiteral("deffa"), ColumnType::Integer, none, 0,
                        false);
    GridColumn xz = column(QStringLiteral("xz"), QStringLiteral("xz"), ColumnType::Number,
                           QStringLiteral("选择"), 160, true);
    xz.checkBox = true;
    xz.alignment = Qt::AlignCenter;
    l.columns << xz
              << column(QStringLiteral("falx"), QStringLiteral("falx"), ColumnType::Integer, none, 0, false)
              << column(QStringLiteral("s_zbfa_zblx"), QStringLiteral("zblx"), ColumnType::Text,
                        QStringLiteral("指标类型"), 520, true)
              << column(QStringLiteral("s_zbfa_zbmc"), QStringLiteral("zbmc"), ColumnType::Text,
                        QStringLiteral("指标名称"), 800, true)
              << column(QStringLiteral("s_zbfa_zbms"), QStringLiteral("zbms"), ColumnType::Text,
                        QStringLiteral("指标描述"), 1000, true);
    // The hh column reads in the general number format, the default of every column.
    // Shown "选择" first; tab walks the editable cells in the order above.
    l.displayOrder = {QStringLiteral("xz"),          QStringLiteral("hh"),
                      QStringLiteral("zbbm"),        QStringLiteral("s_zbfa_zblx"),
                      QStringLiteral("s_zbfa_zbmc"), QStringLiteral("s_zbfa_zbms")};

    // A screen 1024 wide shows every column: the description gives way.
    l.narrowColumn = QStringLiteral("s_zbfa_zbms");

    l.updateTable = QStringLiteral("s_zbfa");
    l.keyColumns = {QStringLiteral("zbbm"), QStringLiteral("hh")};
    l.matchColumns = {QStringLiteral("falx"), QStringLiteral("fabm")};

    l.rowNumber = false;
    // Even rows 16772095 (red 255, green 235, blue 255), odd rows white.
    l.tintParity = 0;
    l.tint = qRgb(255, 235, 255);
    l.tintColumns = {QStringLiteral("zbbm")}; // only the code column

    GridText title;
    title.name = QStringLiteral("t_biaoti");
    title.text = QStringLiteral("禾岚统计指标");
    title.family = QStringLiteral("楷体_GB2312");
    title.pointSize = 18;
    title.alignment = Qt::AlignHCenter;
    l.texts << title;
    l.orientation = 2;
    return l;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

struct TrendTable;
struct RankTable;

// The trend and the ranking written out: JSON and CSV as the report's are
// (UTF-8; CSV with a byte-order mark and CRLF line ends), and a spreadsheet
// holding the table as typed numbers with a live chart drawn from its cells.

// 代码, 类型, 项目, then one column per month ("2025年7月").
QStringList trendColumns(const TrendTable& table);
// {"title", "period", "unit", "scheme", "periods": [YYYYMM…], "columns": […],
//  "rows": [[code, type, name, shown figures…]], "values": [[number or null…]]}
QByteArray trendJson(const TrendTable& table);
QByteArray trendCsv(const TrendTable& table);
// One chart per kind of figure (amounts, ratios), lines or, with `bars`, columns.
// With `bytes` the workbook comes back there instead of being written.
Status writeTrendXlsx(const TrendTable& table, const QString& path, bool bars = false,
                      QByteArray* bytes = nullptr);

// 名次, 代码, 名称, and the indicator's name.
QStringList rankColumns(const RankTable& table);
// {"title", "period", "unit", "scheme", "indicator", "level", "columns": […],
//  "rows": [[rank or "", code, name, shown figure]], "values": [number or null…]}
QByteArray rankJson(const RankTable& table);
QByteArray rankCsv(const RankTable& table);
// The ranking with a horizontal bar chart, the first on top.
Status writeRankXlsx(const RankTable& table, const QString& path, QByteArray* bytes = nullptr);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class GridBuffer;

// The report as the grid shows it, for the batch command's text formats.

// The column headers: 序号, 类型, 项目, 期初数, 发生数, 累计数.
QStringList reportColumns();
// One row's six cells as displayed: row number, type label ("" when blank or
// null), item, and the three figures by their mask ("" when null).
QStringList reportCells(const GridBuffer& grid, long row);
// A header or title text as the grid shows it (the layout's design text until set).
QString reportText(const GridBuffer& grid, const QString& objectName);

// {"title": …, "period": …, "unit": …, "columns": […], "rows": [[…], …]} in UTF-8.
QByteArray reportJson(const GridBuffer& grid);
// UTF-8 with a byte-order mark; the column header row, then the rows; CRLF line ends.
QByteArray reportCsv(const GridBuffer& grid);

// The text formats' pieces, shared by the other tables the program writes.
// A JSON string literal: quoted, with the characters JSON requires escaped.
QString jsonString(const QString& s);
// The strings as a JSON array on one line: ["a", "b"].
QString jsonArray(const QStringList& items);
// One CSV line: fields quoted when they hold a comma, quote or line break; CRLF at the end.
QString csvLine(const QStringList& cells);

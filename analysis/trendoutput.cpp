// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/trendoutput.h"

#include "analysis/trend.h"
#include "host/chartbook.h"
#include "report/output.h"

namespace {

// An exact figure as a JSON number; null for no figure.
QString jsonNumber(const std::optional<Decimal>& value)
{
    return value ? value->toPlainString() : QStringLiteral("null");
}

QString jsonRows(const QList<QString>& rows)
{
    if (rows.isEmpty())
        return QStringLiteral("[]");
    return QStringLiteral("[\n    ") + QStringList(rows).join(QStringLiteral(",\n    ")) +
           QStringLiteral("\n  ]");
}

QStringList trendCells(const TrendRow& row)
{
    QStringList cells{row.code, row.type, row.name};
    for (const auto& v : row.values)
        cells << formatTrendValue(v, row.mask);
    return cells;
}

QStringList rankCells(const RankRow& row, const QString& mask)
{
    return {row.rank > 0 ? QString::number(row.rank) : QString(), row.code, row.name,
            formatTrendValue(row.value, mask)};
}

XlsxCell textCell(const QString& text)
{
    XlsxCell c;
    c.text = text;
    return c;
}

// A whole number such as a row number or a rank, stored as a number; blank for none.
XlsxCell countCell(int n)
{
    XlsxCell c;
    c.numeric = true;
    c.mask = QStringLiteral("0");
    c.centred = true;
    if (n > 0) {
        c.text = QString::number(n);
        c.number = n;
    }
    return c;
}

XlsxCell figureCell(const std::optional<Decimal>& value, const QString& mask)
{
    XlsxCell c;
    c.numeric = true;
    c.mask = mask;
    c.text = formatTrendValue(value, mask); // for the column's width
    if (value)
        c.number = value->toDouble();
    return c;
}

} // namespace

QStringList trendColumns(const TrendTable& table)
{
    return QStringList{QStringLiteral("代码"), QStringLiteral("类型"), QStringLiteral("项目")} +
           table.captions;
}

QByteArray trendJson(const TrendTable& table)
{
    QList<QString> rows;
    QList<QString> values;
    for (const TrendRow& r : table.rows) {
        rows << jsonArray(trendCells(r));
        QStringList numbers;
        for (const auto& v : r.values)
            numbers << jsonNumber(v);
        values << u'[' + numbers.join(QStringLiteral(", ")) + u']';
    }
    QString out = QStringLiteral("{\n");
    out += QStringLiteral("  \"title\": %1,\n").arg(jsonString(table.title));
    out += QStringLiteral("  \"period\": %1,\n").arg(jsonString(table.periodLine));
    out += QStringLiteral("  \"unit\": %1,\n").arg(jsonString(table.unitLine));
    out += QStringLiteral("  \"scheme\": %1,\n").arg(jsonString(table.scheme));
    out += QStringLiteral("  \"periods\": %1,\n").arg(jsonArray(table.periods));
    out += QStringLiteral("  \"columns\": %1,\n").arg(jsonArray(trendColumns(table)));
    out += QStringLiteral("  \"rows\": %1,\n").arg(jsonRows(rows));
    out += QStringLiteral("  \"values\": %1\n}\n").arg(jsonRows(values));
    return out.toUtf8();
}

QByteArray trendCsv(const TrendTable& table)
{
    QString out = csvLine(trendColumns(table));
    for (const TrendRow& r : table.rows)
        out += csvLine(trendCells(r));
    return QByteArray("\xEF\xBB\xBF") + out.toUtf8();
}

Status writeTrendXlsx(const TrendTable& table, const QString& path, bool bars, QByteArray* bytes)
{
    ChartBook book;
    book.sheetName = table.title;
    book.title = table.title;
    book.subtitle = table.periodLine + QStringLiteral("　") + table.unitLine +
                    QStringLiteral("　指标方案：") + table.scheme;
    book.textColumns = 3;
    book.headers =
        QStringList{QStringLiteral("序号"), QStringLiteral("类型"), QStringLiteral("项目")} + table.captions;
    book.nameColumn = 2;
    book.firstValueColumn = 3;
    book.landscape = table.periods.size() > 6;
    book.onePageWide = true;
    book.documentTitle =
        table.title + u' ' + table.regionName + u' ' + table.captions.value(0) +
        (table.captions.size() > 1 ? QStringLiteral("至") + table.captions.last() : QString());
    book.subject = table.title;
    QList<int> amounts;
    QList<int> ratios;
    QStringList amountUnits;
    QString lastType;
    for (int i = 0; i < table.rows.size(); ++i) {
        const TrendRow& r = table.rows[i];
        // The type only on the first row of a run, as the report shows it.
        QList<XlsxCell> cells{countCell(i + 1), textCell(r.type == lastType ? QString() : r.type),
                              textCell(r.name)};
        lastType = r.type;
        for (const auto& v : r.values)
            cells << figureCell(v, r.mask);
        book.rows << cells;
        (r.ratio ? ratios : amounts) << i;
        if (!r.ratio)
            amountUnits << r.unit;
    }
    // Amounts and ratios differ in scale by millions: each kind gets a chart of its own.
    const ChartBookChart::Kind kind = bars ? ChartBookChart::Column : ChartBookChart::Line;
    const QString name = table.regionName.isEmpty() ? table.region : table.regionName;
    if (!amounts.isEmpty()) {
        ChartBookChart c;
        c.kind = kind;
        c.title = name + QStringLiteral(" 指标趋势");
        c.mask = QStringLiteral("0.00");
        c.rows = amounts;
        c.units = amountUnits;
        book.charts << c;
    }
    if (!ratios.isEmpty()) {
        ChartBookChart c;
        c.kind = kind;
        c.title = name + (amounts.isEmpty() ? QStringLiteral(" 指标趋势") : QStringLiteral(" 比率指标趋势"));
        c.mask = QStringLiteral("###%");
        c.rows = ratios;
        book.charts << c;
    }
    return writeChartBook(book, path, bytes);
}

QStringList rankColumns(const RankTable& table)
{
    return {QStringLiteral("名次"), QStringLiteral("代码"), QStringLiteral("名称"), table.name};
}

QByteArray rankJson(const RankTable& table)
{
    QList<QString> rows;
    QStringList values;
    for (const RankRow& r : table.rows) {
        rows << jsonArray(rankCells(r, table.mask));
        values << jsonNumber(r.value);
    }
    QString out = QStringLiteral("{\n");
    out += QStringLiteral("  \"title\": %1,\n").arg(jsonString(table.title));
    out += QStringLiteral("  \"period\": %1,\n").arg(jsonString(table.periodLine));
    out += QStringLiteral("  \"unit\": %1,\n").arg(jsonString(table.unitLine));
    out += QStringLiteral("  \"scheme\": %1,\n").arg(jsonString(table.scheme));
    out += QStringLiteral("  \"indicator\": %1,\n").arg(jsonArray({table.code, table.type, table.name}));
    out += QStringLiteral("  \"level\": %1,\n").arg(jsonString(table.levelName));
    out += QStringLiteral("  \"columns\": %1,\n").arg(jsonArray(rankColumns(table)));
    out += QStringLiteral("  \"rows\": %1,\n").arg(jsonRows(rows));
    out += QStringLiteral("  \"values\": [%1]\n}\n").arg(values.join(QStringLiteral(", ")));
    return out.toUtf8();
}

QByteArray rankCsv(const RankTable& table)
{
    QString out = csvLine(rankColumns(table));
    for (const RankRow& r : table.rows)
        out += csvLine(rankCells(r, table.mask));
    return QByteArray("\xEF\xBB\xBF") + out.toUtf8();
}

Status writeRankXlsx(const RankTable& table, const QString& path, QByteArray* bytes)
{
    ChartBook book;
    book.sheetName = table.title;
    book.title = table.title;
    // The indicator heads its column and the chart; the line keeps to what fits over the table.
    book.subtitle = table.periodLine + QStringLiteral("　") + table.unitLine;
    book.textColumns = 3;
    book.headers = rankColumns(table);
    book.nameColumn = 2;
    book.firstValueColumn = 3;
    book.documentTitle = table.title + u' ' + table.regionName + u' ' + table.name + u' ' + table.caption;
    book.subject = table.title;
    for (const RankRow& r : table.rows)
        book.rows << QList<XlsxCell>{countCell(r.rank), textCell(r.code), textCell(r.name),
                                     figureCell(r.value, table.mask)};
    ChartBookChart c;
    c.kind = ChartBookChart::Bar;
    c.title = QStringLiteral("%1 %2区域 %3 %4")
                  .arg(table.regionName.isEmpty() ? table.region : table.regionName, table.levelName,
                       table.name, table.caption);
    c.mask = table.mask;
    c.units = {table.unit};
    c.seriesInRows = false;
    c.valueColumn = 3;
    book.charts << c;
    return writeChartBook(book, path, bytes);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/output.h"

#include "foundation/gridbuffer.h"

namespace {

const QStringList kShownColumns = {QStringLiteral("s_zbfa_zblx"), QStringLiteral("s_zbfa_zbmc"),
                                   QStringLiteral("qichu"), QStringLiteral("fasheng"),
                                   QStringLiteral("leiji")};

} // namespace

QString jsonString(const QString& s)
{
    QString out;
    out.reserve(s.size() + 2);
    out += u'"';
    for (const QChar c : s) {
        switch (c.unicode()) {
        case '"':
            out += QStringLiteral("\\\"");
            break;
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}

QString jsonArray(const QStringList& items)
{
    QStringList quoted;
    quoted.reserve(items.size());
    for (const QString& s : items)
        quoted << jsonString(s);
    return u'[' + quoted.join(QStringLiteral(", ")) + u']';
}

namespace {

QString csvField(const QString& s)
{
    if (!s.contains(u',') && !s.contains(u'"') && !s.contains(u'\n') && !s.contains(u'\r'))
        return s;
    QString q = s;
    q.replace(u'"', QStringLiteral("\"\""));
    return u'"' + q + u'"';
}

} // namespace

QString csvLine(const QStringList& cells)
{
    QStringList fields;
    fields.reserve(cells.size());
    for (const QString& c : cells)
        fields << csvField(c);
    return fields.join(u',') + QStringLiteral("\r\n");
}

QStringList reportColumns()
{
    return {QStringLiteral("序号"),   QStringLiteral("类型"),   QStringLiteral("项目"),
            QStringLiteral("期初数"), QStringLiteral("发生数"), QStringLiteral("累计数")};
}

QStringList reportCells(const GridBuffer& grid, long row)
{
    QStringList cells{QString::number(row)};
    for (const QString& column : kShownColumns) {
        QString text = grid.displayText(row, column);
        cells << (text.isNull() ? QStringLiteral("") : text);
    }
    return cells;
}

QString reportText(const GridBuffer& grid, const QString& objectName)
{
    QString text = grid.text(objectName);
    if (text.isNull()) {
        if (const GridText* t = grid.layout().text(objectName))
            text = t->text;
    }
    return text.isNull() ? QStringLiteral("") : text;
}

QByteArray reportJson(const GridBuffer& grid)
{
    QString out = QStringLiteral("{\n");
    out += QStringLiteral("  \"title\": %1,\n").arg(jsonString(reportText(grid, QStringLiteral("t_1"))));
    out +=
        QStringLiteral("  \"period\": %1,\n").arg(jsonString(reportText(grid, QStringLiteral("t_qijian"))));
    out += QStringLiteral("  \"unit\": %1,\n").arg(jsonString(reportText(grid, QStringLiteral("t_qymc"))));
    out += QStringLiteral("  \"columns\": %1,\n").arg(jsonArray(reportColumns()));
    const long n = grid.RowCount();
    if (n < 1) {
        out += QStringLiteral("  \"rows\": []\n}\n");
        return out.toUtf8();
    }
    out += QStringLiteral("  \"rows\": [\n");
    for (long row = 1; row <= n; ++row) {
        out += QStringLiteral("    ") + jsonArray(reportCells(grid, row));
        out += row < n ? QStringLiteral(",\n") : QStringLiteral("\n");
    }
    out += QStringLiteral("  ]\n}\n");
    return out.toUtf8();
}

QByteArray reportCsv(const GridBuffer& grid)
{
    QString out = csvLine(reportColumns());
    const long n = grid.RowCount();
    for (long row = 1; row <= n; ++row)
        out += csvLine(reportCells(grid, row));
    return QByteArray("\xEF\xBB\xBF") + out.toUtf8();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/packindex.h"

#include "foundation/gridbuffer.h"
#include "foundation/sqlca.h"
#include "foundation/version.h"
#include "report/output.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

const QStringList kFigureColumns = {QStringLiteral("期初数"), QStringLiteral("发生数"),
                                    QStringLiteral("累计数")};

QString periodCaption(const QString& period)
{
    return QStringLiteral("%1年%2月").arg(period.left(4)).arg(period.mid(4).toInt());
}

QString levelWord(int codeLength)
{
    switch (codeLength) {
    case 12:
        return QStringLiteral("village");
    case 9:
        return QStringLiteral("town");
    case 6:
        return QStringLiteral("county");
    case 4:
        return QStringLiteral("city");
    default:
        return QString::number(codeLength);
    }
}

QString html(const QString& text)
{
    return text.toHtmlEscaped();
}

// A link to a file beside the page: the name percent-encoded (a '#' or '%' in a
// region name must not end the path), the shown text escaped.
QString link(const QString& file, const QString& text)
{
    return QStringLiteral("<a href=\"%1\" title=\"%2\">%3</a>")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(file)), html(file), html(text));
}

QString madeText(const QDateTime& made)
{
    return made.toOffsetFromUtc(made.offsetFromUtc()).toString(Qt::ISODate);
}

const char* const kStyle = R"(
body { font-family: "Noto Sans CJK SC", "Source Han Sans SC", "Microsoft YaHei", "PingFang SC", "AR PL UMing CN", sans-serif;
       color: #222; background: #fff; margin: 2em auto; max-width: 72em; padding: 0 1em; line-height: 1.5; }
h1 { font-size: 1.5em; margin: 0 0 .2em; }
h2 { font-size: 1.15em; margin: 1.5em 0 .5em; }
p.sub { color: #555; margin: 0 0 1em; }
dl.meta { display: grid; grid-template-columns: max-content auto; gap: .15em 1em; margin: 0 0 1em; }
dl.meta dt { color: #666; }
dl.meta dd { margin: 0; }
table { border-collapse: collapse; }
th, td { border: 1px solid #c8c8d0; padding: .3em .6em; vertical-align: top; }
th { background: #eeeef4; font-weight: 600; }
td.num { text-align: right; white-space: nowrap; font-variant-numeric: tabular-nums; }
td.code { white-space: nowrap; font-variant-numeric: tabular-nums; }
tbody tr:nth-child(even) { background: #f8f8fb; }
td.files a { margin-right: .8em; white-space: nowrap; }
ul.combined { margin: 0; padding-left: 1.2em; }
footer { margin-top: 2em; color: #777; font-size: .85em; }
)";

} // namespace

PackHeadlineLookup packHeadline(Sqlca& sqlca, const QString& scheme, const QString& code)
{
    PackHeadlineLookup out;
    const auto rows = sqlca.selectAll(
        QStringLiteral("SELECT zbbm, zblx, zbmc, xz FROM s_zbfa WHERE falx = 1 AND fabm = "
                       "(SELECT min(fabm) FROM s_zbfa WHERE falx = 1 AND famc = ?) ORDER BY hh, zbbm"),
        {scheme});
    if (!rows) {
        out.failed = true;
        out.message = sqlca.SQLErrText;
        return out;
    }
    const QString wanted = code.trimmed();
    for (const QVariantList& r : *rows) {
        // The run removes the rows the scheme switches off (xz = 0).
        if (!r.value(3).isNull() && r.value(3).toInt() == 0)
            continue;
        const QString c = r.value(0).toString().trimmed();
        if (wanted.isEmpty() || c == wanted) {
            out.headline = PackHeadline{c, r.value(1).toString().trimmed(), r.value(2).toString().trimmed()};
            return out;
        }
    }
    if (!wanted.isEmpty())
        out.message = QStringLiteral("指标 %1 不在方案“%2”显示的指标中").arg(wanted, scheme);
    return out;
}

std::optional<QStringList> headlineFigures(const GridBuffer& grid, const PackHeadline& headline)
{
    // The report blanks a type label that repeats the row above's: the row keeps the last one shown.
    QString type;
    const long n = grid.RowCount();
    for (long row = 1; row <= n; ++row) {
        const QString label = grid.displayText(row, QStringLiteral("s_zbfa_zblx")).trimmed();
        if (!label.isEmpty())
            type = label;
        if (type != headline.type ||
            grid.displayText(row, QStringLiteral("s_zbfa_zbmc")).trimmed() != headline.name)
            continue;
        const QStringList cells = reportCells(grid, row);
        return cells.mid(3, 3);
    }
    return std::nullopt;
}

QStringList PackIndex::files() const
{
    QStringList out;
    for (const PackIndexRegion& r : regions)
        out << r.files;
    return out << combined;
}

QByteArray packIndexHtml(const PackIndex& index)
{
    const QString caption = periodCaption(index.period);
    const QString level = packLevelCaption(index.codeLength);
    QString h;
    h += QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n");
    h += QStringLiteral("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n");
    h += QStringLiteral("<title>%1</title>\n")
             .arg(html(
                 QStringLiteral("项目进度及借款质量表 %1 %2 %3报表").arg(index.regionName, caption, level)));
    h +=
        QStringLiteral("<style>") + QString::fromUtf8(kStyle) + QStringLiteral("</style>\n</head>\n<body>\n");
    h += QStringLiteral("<h1>项目进度及借款质量表</h1>\n");
    h += QStringLiteral("<p class=\"sub\">%1 %2 · %3 · %4报表 %5 份</p>\n")
             .arg(html(index.region), html(index.regionName), html(caption), html(level),
                  QString::number(index.regions.size()));

    h += QStringLiteral("<dl class=\"meta\">\n");
    auto meta = [&](const QString& term, const QString& text) {
        h += QStringLiteral("<dt>%1</dt><dd>%2</dd>\n").arg(term, html(text));
    };
    meta(QStringLiteral("指标方案"), index.scheme);
    meta(QStringLiteral("报表期间"), caption);
    meta(QStringLiteral("区域"), index.region + u' ' + index.regionName);
    meta(QStringLiteral("报表级别"), QStringLiteral("%1（%2 位代码）").arg(level).arg(index.codeLength));
    if (index.headline)
        meta(QStringLiteral("要览指标"),
             index.headline->type.isEmpty()
                 ? index.headline->name
                 : index.headline->type + QStringLiteral(" · ") + index.headline->name);
    meta(QStringLiteral("生成时间"), index.made.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    meta(QStringLiteral("文件"), QStringLiteral("%1 个").arg(index.files().size()));
    h += QStringLiteral("</dl>\n");

    if (!index.combined.isEmpty()) {
        h += QStringLiteral("<h2>全部区域汇总</h2>\n<ul class=\"combined\">\n");
        for (const QString& f : index.combined)
            h += QStringLiteral("<li>%1</li>\n").arg(link(f, f));
        h += QStringLiteral("</ul>\n");
    }

    h += QStringLiteral("<h2>各区域报表</h2>\n<table>\n<thead>\n");
    const bool figures = index.headline.has_value();
    if (figures) {
        h += QStringLiteral(
                 "<tr><th rowspan=\"2\">序号</th><th rowspan=\"2\">代码</th><th rowspan=\"2\">名称</th>"
                 "<th colspan=\"3\">%1</th><th rowspan=\"2\">文件</th></tr>\n<tr>")
                 .arg(html(index.headline->name));
        for (const QString& c : kFigureColumns)
            h += QStringLiteral("<th>%1</th>").arg(c);
        h += QStringLiteral("</tr>\n");
    } else {
        h += QStringLiteral("<tr><th>序号</th><th>代码</th><th>名称</th><th>文件</th></tr>\n");
    }
    h += QStringLiteral("</thead>\n<tbody>\n");
    int number = 0;
    for (const PackIndexRegion& r : index.regions) {
        h += QStringLiteral("<tr><td class=\"num\">%1</td><td class=\"code\">%2</td><td>%3</td>")
                 .arg(++number)
                 .arg(html(r.code), html(r.name));
        if (figures) {
            for (int i = 0; i < 3; ++i)
                h += QStringLiteral("<td class=\"num\">%1</td>")
                         .arg(r.figures ? html(r.figures->value(i)) : QString());
        }
        h += QStringLiteral("<td class=\"files\">");
        for (const QString& f : r.files)
            h += link(f, QFileInfo(f).suffix());
        h += QStringLiteral("</td></tr>\n");
    }
    h += QStringLiteral("</tbody>\n</table>\n");
    h += QStringLiteral("<footer>%1 · 本页与所列文件在同一文件夹中，点击链接即可打开。</footer>\n")
             .arg(html(allstatsNameAndVersion()));
    h += QStringLiteral("</body>\n</html>\n");
    return h.toUtf8();
}

QByteArray packIndexJson(const PackIndex& index)
{
    QString j;
    j += QStringLiteral("{\n");
    j += QStringLiteral("  \"title\": %1,\n").arg(jsonString(QStringLiteral("项目进度及借款质量表")));
    j += QStringLiteral("  \"scheme\": %1,\n").arg(jsonString(index.scheme));
    j += QStringLiteral("  \"period\": %1,\n").arg(jsonString(index.period));
    j += QStringLiteral("  \"periodText\": %1,\n").arg(jsonString(periodCaption(index.period)));
    j += QStringLiteral("  \"region\": {\"code\": %1, \"name\": %2},\n")
             .arg(jsonString(index.region), jsonString(index.regionName));
    j += QStringLiteral("  \"level\": %1,\n").arg(jsonString(levelWord(index.codeLength)));
    if (index.headline)
        j += QStringLiteral("  \"headline\": {\"code\": %1, \"type\": %2, \"name\": %3, \"columns\": %4},\n")
                 .arg(jsonString(index.headline->code), jsonString(index.headline->type),
                      jsonString(index.headline->name), jsonArray(kFigureColumns));
    else
        j += QStringLiteral("  \"headline\": null,\n");
    j += QStringLiteral("  \"made\": %1,\n").arg(jsonString(madeText(index.made)));
    j += QStringLiteral("  \"regions\": [");
    for (qsizetype i = 0; i < index.regions.size(); ++i) {
        const PackIndexRegion& r = index.regions[i];
        j += i == 0 ? QStringLiteral("\n") : QStringLiteral(",\n");
        j += QStringLiteral("    {\"code\": %1, \"name\": %2, \"figures\": %3, \"files\": %4}")
                 .arg(jsonString(r.code), jsonString(r.name),
                      r.figures ? jsonArray(*r.figures) : QStringLiteral("null"), jsonArray(r.files));
    }
    j += index.regions.isEmpty() ? QStringLiteral("],\n") : QStringLiteral("\n  ],\n");
    j += QStringLiteral("  \"combined\": %1,\n").arg(jsonArray(index.combined));
    j += QStringLiteral("  \"files\": %1\n").arg(jsonArray(index.files()));
    j += QStringLiteral("}\n");
    return j.toUtf8();
}

bool writePackIndex(const PackIndex& index, const QString& folder, QString* error)
{
    const QDir dir(folder);
    return writePackFile(dir.filePath(kPackIndexHtml), packIndexHtml(index), error) &&
           writePackFile(dir.filePath(kPackIndexJson), packIndexJson(index), error);
}

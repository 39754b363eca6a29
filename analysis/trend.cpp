// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/trend.h"

#include "analysis/pack.h"
#include "foundation/gridbuffer.h"
#include "foundation/gridlayout.h"
#include "foundation/sqlca.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"

#include <QHash>
#include <QRegularExpression>
#include <algorithm>

namespace {

const QString kRegionMissing = QStringLiteral("请选择查询区域");
const QString kSchemeMissing = QStringLiteral("请选择指标方案");
const QString kIndicatorMissing = QStringLiteral("请选择指标");

// The report's grid with the indicator code beside each row, so a run's rows
// are matched to the indicators by code (names may repeat). The run itself
// is the report's, unchanged; the rows are not tidied, so a zero stays 0.
GridLayout codedLayout()
{
    GridLayout l = d_xmjdzl();
    const QString from = QStringLiteral(" FROM t_stat, s_zbfa ");
    const QString withCode = QStringLiteral(", t_stat.zbbm AS zbbm") + from;
    l.query.replace(from, withCode);
    if (!l.queryPostgres.isEmpty())
        l.queryPostgres.replace(from, withCode);
    GridColumn code;
    code.name = QStringLiteral("zbbm");
    code.type = ColumnType::Text;
    code.visible = false;
    code.width = 0;
    l.columns << code;
    return l;
}

// One indicator as the scheme lists it.
struct SchemeIndicator
{
    QString code;
    QString type;
    QString name;
    bool ratio = false;
    QString unit;
};

QString maskOf(bool ratio)
{
    return ratio ? QStringLiteral("###%") : QStringLiteral("0.00");
}

// The indicators the scheme shows (switched on), in the report's order.
// Nullopt on a database error; an empty list when no kind-1 scheme has the
// name or it shows nothing (`known` tells which).
std::optional<QList<SchemeIndicator>> schemeIndicators(Sqlca& sqlca, const QString& scheme, bool* known)
{
    const auto rows = sqlca.selectAll(
        QStringLiteral("SELECT zbbm, zblx, zbmc, flag2, xz, zbms FROM s_zbfa WHERE falx = 1 AND fabm = "
                       "(SELECT min(fabm) FROM s_zbfa WHERE falx = 1 AND famc = ?) ORDER BY hh, zbbm"),
        {scheme});
    if (!rows)
        return std::nullopt;
    *known = !rows->isEmpty();
    QList<SchemeIndicator> out;
    QStringList seen;
    for (const QVariantList& r : *rows) {
        // The run removes the rows the scheme switches off (xz = 0).
        if (!r.value(4).isNull() && r.value(4).toInt() == 0)
            continue;
        const QString code = r.value(0).toString().trimmed();
        if (seen.contains(code))
            continue;
        seen << code;
        out.append({code, r.value(1).toString().trimmed(), r.value(2).toString().trimmed(),
                    !r.value(3).isNull() && r.value(3).toInt() == 1, indicatorUnit(r.value(5).toString())});
    }
    return out;
}

// The regions of s_qybm with codes of exactly `length` characters under `region`, by code.
std::optional<QList<RankRow>> subRegions(Sqlca& sqlca, const QString& region, int length)
{
    const auto regions = packRegions(sqlca, region, length);
    if (!regions)
        return std::nullopt;
    QList<RankRow> out;
    out.reserve(regions->size());
    for (const PackRegion& r : *regions) {
        RankRow row;
        row.code = r.code;
        row.name = r.name;
        out << row;
    }
    return out;
}

// One statistics run for a region and month; `leiji` of each indicator by code.
// A month without any figure of the region gives no values at all.
struct RunFigures
{
    TrendStep step;
    QHash<QString, std::optional<Decimal>> values;
};

RunFigures runFor(Host& host, const QString& scheme, const QString& region, const QString& regionName,
                  const QString& period)
{
    GridBuffer grid(codedLayout());
    ReportRequest request;
    request.region = region;
    request.regionName = regionName;
    request.year = period.left(4);
    request.month = QString::number(period.mid(4).toInt());
    request.scheme = scheme;
    const RunOutcome outcome = runStatistics(host, grid, request);
    RunFigures out;
    if (outcome.kind == RunOutcome::Refused) {
        out.step = {TrendStep::Refused, outcome.message};
        return out;
    }
    if (outcome.kind == RunOutcome::Failed) {
        out.step = {TrendStep::Failed, outcome.message};
        return out;
    }
    if (outcome.noFigures)
        return out;
    const long n = grid.RowCount();
    for (long row = 1; row <= n; ++row) {
        const QString code = grid.GetItemString(row, QStringLiteral("zbbm")).trimmed();
        if (!out.values.contains(code))
            out.values.insert(code, grid.GetItemDecimal(row, QStringLiteral("leiji")));
    }
    return out;
}

TrendChartWriter& trendWriter()
{
    static TrendChartWriter w;
    return w;
}

RankChartWriter& rankWriter()
{
    static RankChartWriter w;
    return w;
}

} // namespace

QString trendCaption(const QString& period)
{
    if (!isValidPeriod(period))
        return period;
    return period.left(4) + QStringLiteral("年") + QString::number(period.mid(4).toInt()) +
           QStringLiteral("月");
}

QStringList trendPeriods(const QString& from, const QString& to)
{
    if (!isValidPeriod(from) || !isValidPeriod(to) || to < from)
        return {};
    QStringList out;
    int year = from.left(4).toInt();
    int month = from.mid(4).toInt();
    for (;;) {
        const QString p =
            QStringLiteral("%1%2").arg(year, 4, 10, QLatin1Char('0')).arg(month, 2, 10, QLatin1Char('0'));
        out << p;
        if (p == to)
            break;
        if (++month > 12) {
            month = 1;
            ++year;
        }
    }
    return out;
}

int subRegionLength(int regionLength)
{
    for (const int length : {4, 6, 9, 12})
        if (length > regionLength)
            return length;
    return 0;
}

QString indicatorUnit(const QString& description)
{
    // "已入社的农户（户）", "财政扶持…之和（元）": the unit closes the description.
    static const QRegularExpression unit(QStringLiteral("[（(]\\s*([^（）()\\d\\s]{1,4})\\s*[）)]\\s*$"));
    const QRegularExpressionMatch m = unit.match(description);
    return m.hasMatch() ? m.captured(1) : QString();
}

QString formatTrendValue(const std::optional<Decimal>& value, const QString& mask)
{
    return formatFigure(value, mask);
}

void rankRows(QList<RankRow>& rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const RankRow& a, const RankRow& b) {
        if (a.value.has_value() != b.value.has_value())
            return a.value.has_value();
        if (a.value && *a.value != *b.value)
            return *a.value > *b.value;
        return a.code < b.code;
    });
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (!rows[i].value)
            rows[i].rank = 0;
        else if (i > 0 && rows[i - 1].value && *rows[i - 1].value == *rows[i].value)
            rows[i].rank = rows[i - 1].rank;
        else
            rows[i].rank = int(i) + 1;
    }
}

Trend::Trend(Host& host, TrendRequest request) : m_host(host), m_request(std::move(request)) {}

TrendStep Trend::prepare()
{
    m_done = 0;
    m_table = TrendTable();
    const QString region = m_request.region.trimmed();
    if (region.isEmpty())
        return {TrendStep::Refused, kRegionMissing};
    if (m_request.scheme.isEmpty())
        return {TrendStep::Refused, kSchemeMissing};
    const QStringList periods = trendPeriods(m_request.from.trimmed(), m_request.to.trimmed());
    if (periods.isEmpty())
        return {TrendStep::Refused,
                QStringLiteral("月份范围无效：%1 至 %2（应为 YYYYMM，且起始月不晚于结束月）")
                    .arg(m_request.from, m_request.to)};

    Sqlca& sqlca = m_host.sqlca();
    bool known = false;
    const auto indicators = schemeIndicators(sqlca, m_request.scheme, &known);
    if (!indicators)
        return {TrendStep::Failed, sqlca.SQLErrText};
    if (!known)
        return {TrendStep::Refused, QStringLiteral("没有名为“%1”的指标方案").arg(m_request.scheme)};
    QStringList wanted;
    for (const QString& code : m_request.indicators) {
        const QString c = code.trimmed();
        const bool listed = std::any_of(indicators->cbegin(), indicators->cend(),
                                        [&](const SchemeIndicator& i) { return i.code == c; });
        if (!listed)
            return {TrendStep::Refused,
                    QStringLiteral("指标 %1 不在方案“%2”显示的指标中").arg(c, m_request.scheme)};
        wanted << c;
    }

    m_table.title = QStringLiteral("指标趋势分析");
    m_table.region = region;
    m_table.regionName = m_request.regionName;
    m_table.scheme = m_request.scheme;
    m_table.periods = periods;
    for (const QString& p : periods)
        m_table.captions << trendCaption(p);
    m_table.unitLine = unitHeader(region, m_request.regionName);
    m_table.periodLine = QStringLiteral("报表期间：") + m_table.captions.first() +
                         (periods.size() > 1 ? QStringLiteral("至") + m_table.captions.last() : QString());
    for (const SchemeIndicator& i : *indicators) {
        if (!wanted.isEmpty() && !wanted.contains(i.code))
            continue;
        TrendRow row;
        row.code = i.code;
        row.type = i.type;
        row.name = i.name;
        row.ratio = i.ratio;
        row.unit = i.ratio ? QString() : i.unit;
        row.mask = maskOf(i.ratio);
        row.values = QList<std::optional<Decimal>>(periods.size());
        m_table.rows << row;
    }
    return {};
}

TrendStep Trend::next()
{
    if (atEnd())
        return {};
    const RunFigures figures =
        runFor(m_host, m_request.scheme, m_table.region, m_table.regionName, m_table.periods.at(m_done));
    if (!figures.step)
        return figures.step;
    for (TrendRow& row : m_table.rows)
        row.values[m_done] = figures.values.value(row.code);
    ++m_done;
    return {};
}

QString Trend::caption(qsizetype index) const
{
    return QStringLiteral("%1/%2 %3").arg(index + 1).arg(total()).arg(m_table.captions.value(index));
}

Rank::Rank(Host& host, RankRequest request) : m_host(host), m_request(std::move(request)) {}

TrendStep Rank::prepare()
{
    m_done = 0;
    m_table = RankTable();
    m_names.clear();
    const QString region = m_request.region.trimmed();
    if (region.isEmpty())
        return {TrendStep::Refused, kRegionMissing};
    if (m_request.scheme.isEmpty())
        return {TrendStep::Refused, kSchemeMissing};
    const QString indicator = m_request.indicator.trimmed();
    if (indicator.isEmpty())
        return {TrendStep::Refused, kIndicatorMissing};
    const QString period = reportPeriod(m_request.year, QString::number(m_request.month));
    if (!isValidPeriod(period))
        return {TrendStep::Refused,
                QStringLiteral("月份无效：%1年%2月").arg(m_request.year).arg(m_request.month)};
    const int level = subRegionLength(int(region.size()));
    if (level == 0)
        return {TrendStep::Refused,
                QStringLiteral("%1 %2 是村级区域，没有下级区域").arg(region, m_request.regionName)};

    Sqlca& sqlca = m_host.sqlca();
    bool known = false;
    const auto indicators = schemeIndicators(sqlca, m_request.scheme, &known);
    if (!indicators)
        return {TrendStep::Failed, sqlca.SQLErrText};
    if (!known)
        return {TrendStep::Refused, QStringLiteral("没有名为“%1”的指标方案").arg(m_request.scheme)};
    const auto it = std::find_if(indicators->cbegin(), indicators->cend(),
                                 [&](const SchemeIndicator& i) { return i.code == indicator; });
    if (it == indicators->cend())
        return {TrendStep::Refused,
                QStringLiteral("指标 %1 不在方案“%2”显示的指标中").arg(indicator, m_request.scheme)};
    const auto regions = subRegions(sqlca, region, level);
    if (!regions)
        return {TrendStep::Failed, sqlca.SQLErrText};
    if (regions->isEmpty())
        return {TrendStep::Refused, QStringLiteral("%1 %2 下没有%3区域（%4位代码）")
                                        .arg(region, m_request.regionName, packLevelCaption(level))
                                        .arg(level)};

    m_table.title = QStringLiteral("下级区域排名");
    m_table.region = region;
    m_table.regionName = m_request.regionName;
    m_table.scheme = m_request.scheme;
    m_table.period = period;
    m_table.caption = trendCaption(period);
    m_table.code = it->code;
    m_table.type = it->type;
    m_table.name = it->name;
    m_table.ratio = it->ratio;
    m_table.unit = it->ratio ? QString() : it->unit;
    m_table.mask = maskOf(it->ratio);
    m_table.level = level;
    m_table.levelName = packLevelCaption(level);
    m_table.periodLine = periodHeader(m_request.year, QString::number(m_request.month));
    m_table.unitLine = unitHeader(region, m_request.regionName);
    m_table.rows = *regions;
    for (const RankRow& r : m_table.rows)
        m_names << r.name;
    return {};
}

TrendStep Rank::next()
{
    if (atEnd())
        return {};
    RankRow& row = m_table.rows[m_done];
    const RunFigures figures = runFor(m_host, m_request.scheme, row.code, row.name, m_table.period);
    if (!figures.step)
        return figures.step;
    row.value = figures.values.value(m_table.code);
    ++m_done;
    if (atEnd())
        rankRows(m_table.rows);
    return {};
}

QString Rank::caption(qsizetype index) const
{
    return QStringLiteral("%1/%2 %3").arg(index + 1).arg(total()).arg(m_names.value(index));
}

void setTrendChartWriter(TrendChartWriter writer)
{
    trendWriter() = std::move(writer);
}

void setRankChartWriter(RankChartWriter writer)
{
    rankWriter() = std::move(writer);
}

const TrendChartWriter& trendChartWriter()
{
    return trendWriter();
}

const RankChartWriter& rankChartWriter()
{
    return rankWriter();
}

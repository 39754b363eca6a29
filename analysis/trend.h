// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/decimal.h"
#include "foundation/host.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The trend of indicators over months and the ranking of the sub-regions of a
// region. Every figure is the 累计数 the report shows for that region and
// month: each month (or sub-region) is one whole statistics run, host
// refresh and uf_update_report included. Both are made step by step, one run
// per step, so a command loops over them and a screen runs one step per turn
// of its event loop and may stop between steps.
//
// Values: a figure the report shows as blank because it is zero stays 0 here
// (a chart needs the point); a run that finds no figure of the region in the
// month, or no row of the indicator, gives an empty value (a gap, never 0).

// What a trend is asked for.
struct TrendRequest
{
    QString scheme;         // the kind-1 scheme name
    QString region;         // the region code (s_qybm)
    QString regionName;     // its name, for the headings
    QString from;           // first month, YYYYMM
    QString to;             // last month, YYYYMM (at or after `from`)
    QStringList indicators; // indicator codes; empty: every indicator the scheme shows
};

// One indicator over the months.
struct TrendRow
{
    QString code;
    QString type; // the scheme's type label (类型)
    QString name; // the scheme's indicator name (项目)
    QString mask; // the report's mask: "###%" for a ratio, else "0.00"
    bool ratio = false;
    QString unit; // what the figures count ("元", "户"), from the description; "" when it names none
    QList<std::optional<Decimal>> values; // one per period; empty: no figure
};

struct TrendTable
{
    QString title;        // "指标趋势分析"
    QString region;       // the region code
    QString regionName;   // the region name
    QString scheme;       // the scheme name
    QStringList periods;  // YYYYMM, in order
    QStringList captions; // "2025年7月", one per period
    QList<TrendRow> rows; // in the scheme's order, as the report lists them
    QString unitLine; // "项目区：石桥市" or "单位：…贫困社区互助社", as the report's unit line
    QString periodLine; // "报表期间：2024年8月至2026年7月"
};

// One sub-region of a ranking.
struct RankRow
{
    int rank = 0; // 1, 2, 2, 4 …; 0 for a sub-region without a figure
    QString code;
    QString name;
    std::optional<Decimal> value;
};

// What a ranking is asked for.
struct RankRequest
{
    QString scheme;
    QString region;
    QString regionName;
    QString year; // YYYY
    int month = 0;
    QString indicator; // the indicator code
};

struct RankTable
{
    QString title; // "下级区域排名"
    QString region;
    QString regionName;
    QString scheme;
    QString period;  // YYYYMM
    QString caption; // "2025年7月"
    QString code;    // the indicator
    QString type;
    QString name;
    QString mask; // "###%" or "0.00"
    bool ratio = false;
    QString unit;       // as TrendRow's
    int level = 0;      // code length of the sub-regions: 4, 6, 9 or 12
    QString levelName;  // 市级, 县级, 乡镇级, 村级
    QString periodLine; // "报表期间：2025年7月"
    QString unitLine;   // "项目区：石桥市"
    // Sorted by figure, highest first; equal figures share a rank and the
    // next rank skips (1, 2, 2, 4); sub-regions without a figure come last,
    // by code, without a rank.
    QList<RankRow> rows;
};

// The outcome of a step.
struct TrendStep
{
    enum Kind
    {
        Done,
        Refused, // the request cannot be made (no scheme, unknown indicator, …): message says why
        Failed,  // database or hook error: the database's text
    };
    Kind kind = Done;
    QString message;
    explicit operator bool() const { return kind == Done; }
};

// "2025年7月" for "202507"; the text itself when it is no YYYYMM.
QString trendCaption(const QString& period);
// The months from `from` to `to`, both YYYYMM, in order; empty when either is
// no valid period or `to` lies before `from`.
QStringList trendPeriods(const QString& from, const QString& to);
// The code length of the level below a region code: the smallest of 4, 6, 9,
// 12 above it; 0 below a village (units of 13 characters are no level).
int subRegionLength(int regionLength);
// The unit an indicator's description names at its end: "元" for "…之和（元）",
// "户" for "…农户（户）"; empty when it names none.
QString indicatorUnit(const QString& description);
// A value by the report's mask; the empty text for no value.
QString formatTrendValue(const std::optional<Decimal>& value, const QString& mask);

// Trend: prepare() reads the scheme's indicators and lays out the months;
// each next() makes the statistics run of the next month.
class Trend final
{
public:
    Trend(Host& host, TrendRequest request);
    Trend(const Trend&) = delete;
    Trend& operator=(const Trend&) = delete;

    TrendStep prepare();
    TrendStep next();
    bool atEnd() const { return m_done >= total(); }
    qsizetype done() const { return m_done; }
    qsizetype total() const { return m_table.periods.size(); }
    // The progress text of step `index` (0-based): "3/24 2025年7月".
    QString caption(qsizetype index) const;
    const TrendTable& table() const { return m_table; }

private:
    Host& m_host;
    TrendRequest m_request;
    TrendTable m_table;
    qsizetype m_done = 0;
};

// Ranking: prepare() reads the indicator and the sub-regions; each next()
// makes the statistics run of the next sub-region; rows() is sorted once
// the last step is done (in region order before).
class Rank final
{
public:
    Rank(Host& host, RankRequest request);
    Rank(const Rank&) = delete;
    Rank& operator=(const Rank&) = delete;

    TrendStep prepare();
    TrendStep next();
    bool atEnd() const { return m_done >= total(); }
    qsizetype done() const { return m_done; }
    qsizetype total() const { return m_names.size(); }
    // The progress text of step `index` (0-based): "3/12 金塬村".
    QString caption(qsizetype index) const;
    const QList<RankRow>& rows() const { return m_table.rows; }
    const RankTable& table() const { return m_table; }

private:
    Host& m_host;
    RankRequest m_request;
    RankTable m_table;
    QStringList m_names; // the sub-regions' names in the order they are run
    qsizetype m_done = 0;
};

// Ranks rows in place: by value, highest first; equal values share a rank
// (1, 2, 2, 4); rows without a value last, by code, rank 0.
void rankRows(QList<RankRow>& rows);

// Charts are drawn by the screen layer; the commands reach the drawing
// through these hooks, which the program installs at start. Without them
// the png and pdf formats are refused.
struct ChartFile
{
    QString path;
    QString format;    // "png" or "pdf"
    bool bars = false; // a trend as bars instead of lines
    // Given: the file comes back here instead of being written (the path names it in messages).
    QByteArray* bytes = nullptr;
};
using TrendChartWriter = std::function<Status(const TrendTable& table, const ChartFile& file)>;
using RankChartWriter = std::function<Status(const RankTable& table, const ChartFile& file)>;
void setTrendChartWriter(TrendChartWriter writer);
void setRankChartWriter(RankChartWriter writer);
const TrendChartWriter& trendChartWriter();
const RankChartWriter& rankChartWriter();

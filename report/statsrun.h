#pragma once

#include "foundation/host.h"

#include <QString>

class GridBuffer;

// What the report screen (or the batch command) asks of one statistics run.
struct ReportRequest
{
    QString region;     // the region code (data value of the region box); trimmed by the run
    QString regionName; // the region name as the box shows it (for the unit line)
    QString year;       // year list text, e.g. "2024"
    QString month;      // month list text, "1" to "12"
    QString scheme;     // scheme list text
};

struct RunOutcome
{
    enum Kind
    {
        Done,
        Refused, // a check failed: "请选择查询区域", "请选择指标方案" or a region outside the user's
        Failed, // database or hook error: message is the database's text
    };
    Kind kind = Done;
    QString message;
    long rows = 0;
    bool noFigures = false; // done, but H_stat holds no figure of the region in the period
};

// The statistics run: refresh (current period, village user), aggregation into
// t_stat, the host's derived figures, trimming and ordering by the scheme,
// the retrieve (with row tidying) and the two header lines. One exclusive
// transaction on t_stat from emptying it to the end of the retrieve.
RunOutcome runStatistics(Host& host, GridBuffer& grid, const ReportRequest& request);

// The pieces of the run the screens and tests share.
// Period YYYYMM from the year and month texts: "2008" and "9" give "200809".
QString reportPeriod(const QString& year, const QString& month);
// "报表期间：2008年9月": the trimmed year, the month without a leading zero.
QString periodHeader(const QString& year, const QString& month);
// "单位：<name>贫困社区互助社" for a village (12-character code), else "项目区：<name>".
QString unitHeader(const QString& region, const QString& regionName);
// The refresh routines run only for the current period of a village user
// (gs_userqybm of exactly 12 characters; a null fails the test).
bool refreshDue(const Host& host, const QString& period);

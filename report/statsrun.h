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
        Refused, // a check failed: message is "请选择查询区域" or "请选择指标方案"
        Failed,  // database or hook error: message is the database's text
    };
    Kind kind = Done;
    QString message;
    long rows = 0;
};

// The statistics run: refresh (current period, village user), aggregation into
// t_stat, the host's derived figures, trimming and ordering by the scheme,
// the retrieve (with row tidying) and the two header lines. One exclusive
// transaction on t_stat from emptying it to the end of the retrieve.
RunOutcome runStatistics(Host& host, GridBuffer& grid, const ReportRequest& request);

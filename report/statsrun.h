// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h"

#include <QString>
#include <memory>

class GridBuffer;
class TransactionGuard;

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
// the retrieve (with row tidying) and the two header lines. t_stat is the
// connection's own (schema::prepareWorkingTable); from emptying it to the end
// of the retrieve the run is one transaction that reads one snapshot of the
// database and writes only its own rows, so no run waits for another.
RunOutcome runStatistics(Host& host, GridBuffer& grid, const ReportRequest& request);

// The same run in steps of one or a few statements each, for a caller that
// makes other work in between (two runs side by side in the tests).
// runStatistics makes every step at once.
class StatisticsRun final
{
public:
    StatisticsRun(Host& host, GridBuffer& grid, ReportRequest request);
    // A run left unfinished is rolled back, and its wait notice closed.
    ~StatisticsRun();
    StatisticsRun(const StatisticsRun&) = delete;
    StatisticsRun& operator=(const StatisticsRun&) = delete;

    // Makes the next step; false once the run is over (outcome() says how).
    bool step();
    const RunOutcome& outcome() const { return m_outcome; }

private:
    bool make(int step);
    bool fail(QString text); // by value: the text may be the status the rollback resets
    void closeNotice();

    Host& m_host;
    GridBuffer& m_grid;
    ReportRequest m_request;
    QString m_region;
    QString m_period;
    int m_next = 0;
    bool m_noticeOpen = false;
    bool m_noFigures = false;
    bool m_kept = false; // the region's kept figures may serve the run
    int m_fabm = 0;
    std::unique_ptr<TransactionGuard> m_tx;
    RunOutcome m_outcome;
};

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

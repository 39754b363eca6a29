// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/statsrun.h"

#include "foundation/decimal.h"
#include "foundation/gridbuffer.h"
#include "foundation/rollup.h"
#include "foundation/schema.h"
#include "foundation/sqlca.h"

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <optional>

namespace {

// The report reads kind-1 schemes only.
constexpr int kReportKind = 1;

const QString kRegionMissing = QStringLiteral("请选择查询区域");
const QString kSchemeMissing = QStringLiteral("请选择指标方案");

// The four aggregation kinds (flag1 1 sum, 2 average, 3 maximum, 4 minimum)
// in one pass over the region's rows of the period. The region is a range of
// the index H_stat(kjqj, number, …): exactly the units whose code starts with
// the region code. Each backend gets the shape it runs fastest; both give the
// same rows.
//
// PostgreSQL: the rows meet the catalogue in a hash join and are grouped by
// indicator, so every row of a group is of one kind. The sum and the count run
// on every row (a plain numeric add is cheaper than a filter in front of it);
// the maximum and the minimum only on the rows of their kind (FILTER). The
// aggregates are exact numerics; the average is sum / count, as avg itself
// divides; the numeric(18,2) column rounds half away from zero.
QString postgresFigure(const Dialect& d, const QString& column)
{
    const QString h = QStringLiteral("H_stat.") + column;
    // The minimum as -max(-x): numeric's max sorts NaN above every number and
    // so passes it on, where min would step over it.
    return d.money(
        QStringLiteral("CASE S_zbbm.flag1 WHEN 1 THEN sum(%1) WHEN 2 THEN sum(%1) / NULLIF(count(%1), 0) "
                       "WHEN 3 THEN max(%1) FILTER (WHERE S_zbbm.flag1 = 3) "
                       "ELSE -max(-%1) FILTER (WHERE S_zbbm.flag1 = 4) END")
            .arg(h));
}

// SQLite looks the catalogue up row by row, which costs more than all the
// aggregates together, so the rows are grouped by indicator first and only
// the groups meet the catalogue. SQLite holds the figures as doubles, so
// kind_figures (registered with the connection) sums whole ten-thousandths in
// 64-bit integers and keeps the count, maximum and minimum in the same step;
// kind_figure picks the figure of the indicator's kind and rounds it to cents
// half away from zero in integer arithmetic: no summation error can move a
// figure across a half cent, whatever the number of units.
QString sqliteFigure(const QString& column)
{
    return QStringLiteral("kind_figure(a.%1, S_zbbm.flag1, a.zbbm, '%1')").arg(column);
}

QString sqliteFigures(const QString& column)
{
    return QStringLiteral("kind_figures(H_stat.%1, H_stat.number, H_stat.zbbm, H_stat.kjqj, '%1') AS %1")
        .arg(column);
}

QString aggregationSelect(const Dialect& d)
{
    const QString q = QStringLiteral("qichu");
    const QString f = QStringLiteral("fasheng");
    const QString l = QStringLiteral("leiji");
    QString select;
    if (d.isSQLite()) {
        const QString inner = QStringLiteral("SELECT H_stat.zbbm AS zbbm, %1, %2, %3 FROM H_stat "
                                             "WHERE H_stat.kjqj = ? AND %4 GROUP BY H_stat.zbbm")
                                  .arg(sqliteFigures(q), sqliteFigures(f), sqliteFigures(l),
                                       d.prefixRange(QStringLiteral("H_stat.number")));
        select = QStringLiteral("SELECT a.zbbm, %1, %2, %3 FROM (%4) a, S_zbbm "
                                "WHERE a.zbbm = S_zbbm.number AND S_zbbm.flag1 IN (1, 2, 3, 4)")
                     .arg(sqliteFigure(q), sqliteFigure(f), sqliteFigure(l), inner);
    } else {
        select = QStringLiteral("SELECT H_stat.zbbm, %1, %2, %3 FROM H_stat, S_zbbm "
                                "WHERE H_stat.kjqj = ? AND %4 AND H_stat.zbbm = S_zbbm.number "
                                "AND S_zbbm.flag1 IN (1, 2, 3, 4) GROUP BY H_stat.zbbm, S_zbbm.flag1")
                     .arg(postgresFigure(d, q), postgresFigure(d, f), postgresFigure(d, l),
                          d.prefixRange(QStringLiteral("H_stat.number")));
    }
    return select;
}

// The indicators without aggregation, one row of zeros each.
QString zeroRowsSelect()
{
    return QStringLiteral("SELECT S_zbbm.number, 0, 0, 0 FROM S_zbbm WHERE S_zbbm.flag1 = 0");
}

// The region's working rows into t_stat. SQLite inserts them straight from the
// aggregating query. PostgreSQL runs an INSERT ... SELECT in one process only;
// for a province or a city (codes of up to four characters: thousands of
// units) the query runs on its own instead, where the server may share the
// scan among parallel workers, and its few rows, one per indicator, go in with
// one insert (the numeric(18,2) columns round them as before). For a county or
// less the one statement is cheaper than the extra round trips.
// Indicators without aggregation get one row of zeros (uf_update_report may
// fill them): in the same statement when the rows go in by INSERT ... SELECT.
bool fillWorkingRows(Sqlca& sqlca, const QString& region, const QString& period)
{
    const Dialect& d = sqlca.dialect();
    const QVariantList binds = {period, region, Dialect::prefixUpperBound(region)};
    constexpr int kLargeRegionCodeLength = 4;
    if (d.isSQLite() || region.size() > kLargeRegionCodeLength)
        return sqlca.execute(
            d.insertSelect(QStringLiteral("t_stat"), QStringLiteral("zbbm, qichu, fasheng, leiji"),
                           aggregationSelect(d) + QStringLiteral(" UNION ALL ") + zeroRowsSelect()),
            binds);
    const auto rows = sqlca.selectAll(aggregationSelect(d), binds);
    if (!rows)
        return false;
    constexpr int kRowsPerInsert = 250;
    for (qsizetype first = 0; first < rows->size(); first += kRowsPerInsert) {
        QStringList values;
        QVariantList rowBinds;
        for (qsizetype i = first; i < std::min(rows->size(), first + kRowsPerInsert); ++i) {
            values << QStringLiteral("(?, CAST(? AS NUMERIC), CAST(? AS NUMERIC), CAST(? AS NUMERIC))");
            rowBinds << rows->at(i).mid(0, 4);
        }
        if (!sqlca.execute(QStringLiteral("INSERT INTO t_stat (zbbm, qichu, fasheng, leiji) VALUES ") +
                               values.join(QStringLiteral(", ")),
                           rowBinds))
            return false;
    }
    return sqlca.execute(d.insertSelect(QStringLiteral("t_stat"),
                                        QStringLiteral("zbbm, qichu, fasheng, leiji"), zeroRowsSelect()));
}

// PostgreSQL's numeric aggregates are exact; what can go wrong is a figure
// beyond t_stat's 16 integer digits (the insert fails) or a NaN in H_stat
// (numeric passes it on). Both are named by indicator, and a NaN by its unit.
// (SQLite's aggregate functions say so themselves.)
const QString kBeyondRange = QStringLiteral("1e16");

// After a failed fill: the indicator whose figure t_stat cannot hold, if that was the cause.
QString figureBeyondRange(Sqlca& sqlca, const QString& region, const QString& period)
{
    const Dialect& d = sqlca.dialect();
    const auto row = sqlca.selectRow(
        QStringLiteral("SELECT x.zbbm, x.qichu, x.fasheng, x.leiji FROM (%1) x (zbbm, qichu, fasheng, leiji) "
                       "WHERE abs(x.qichu) >= %2 OR abs(x.fasheng) >= %2 OR abs(x.leiji) >= %2 "
                       "ORDER BY x.zbbm LIMIT 1")
            .arg(aggregationSelect(d), kBeyondRange),
        {period, region, Dialect::prefixUpperBound(region)});
    if (!row)
        return QString();
    const QStringList columns = {QStringLiteral("qichu"), QStringLiteral("fasheng"), QStringLiteral("leiji")};
    for (int i = 1; i <= 3; ++i) {
        const auto v = Decimal::fromVariant(row->at(i));
        if (v && !v->fitsDigits(16)) {
            const QString& column = columns[i - 1];
            return QStringLiteral("the %1 figure of indicator %2 (%3) is beyond the 16 integer digits the "
                                  "report can hold")
                .arg(column, row->at(0).toString().trimmed(), v->toString(2));
        }
    }
    return QString();
}

// After the fill, in one query: whether the period holds any figure of the
// region at all (the report then shows only the rows that need none), and on
// PostgreSQL the first indicator with a figure that is not a number.
struct FillCheck
{
    bool anyFigure = false;
    QVariant notANumber; // the indicator code, null when none
};
std::optional<FillCheck> checkFill(Sqlca& sqlca, const QString& region, const QString& period)
{
    const Dialect& d = sqlca.dialect();
    const QString any = QStringLiteral("EXISTS (SELECT 1 FROM H_stat WHERE H_stat.kjqj = ? AND %1)")
                            .arg(d.prefixRange(QStringLiteral("H_stat.number")));
    const QString nan = d.isSQLite() ? QStringLiteral("NULL")
                                     : QStringLiteral("(SELECT min(zbbm) FROM t_stat WHERE qichu = 'NaN' OR "
                                                      "fasheng = 'NaN' OR leiji = 'NaN')");
    const auto row =
        sqlca.selectRow(QStringLiteral("SELECT CASE WHEN %1 THEN 1 ELSE 0 END, %2").arg(any, nan),
                        {period, region, Dialect::prefixUpperBound(region)});
    if (!row)
        return std::nullopt;
    return FillCheck{row->at(0).toInt() == 1, row->at(1)};
}

// A NaN that came from H_stat, named by unit, indicator, period.
std::optional<QString> figureNotANumber(Sqlca& sqlca, const QString& region, const QString& period,
                                        const QVariant& zbbm)
{
    const auto row = sqlca.selectRow(
        QStringLiteral(
            "SELECT number, CASE WHEN qichu = 'NaN' THEN 'qichu' WHEN fasheng = 'NaN' THEN 'fasheng' "
            "ELSE 'leiji' END FROM H_stat WHERE kjqj = ? AND %1 AND zbbm = ? "
            "AND (qichu = 'NaN' OR fasheng = 'NaN' OR leiji = 'NaN') ORDER BY number LIMIT 1")
            .arg(sqlca.dialect().prefixRange(QStringLiteral("number"))),
        {period, region, Dialect::prefixUpperBound(region), zbbm});
    if (!row && sqlca.SQLCode == -1)
        return std::nullopt;
    return QStringLiteral("H_stat holds a %1 figure that is not a number (NaN) for unit %2, indicator %3, "
                          "period %4")
        .arg(row ? row->at(1).toString() : QStringLiteral("figure"),
             row ? row->at(0).toString().trimmed() : QStringLiteral("?"), zbbm.toString().trimmed(), period);
}

QString monthText(const QString& month)
{
    bool ok = false;
    const int m = month.trimmed().toInt(&ok);
    return ok ? QString::number(m) : month.trimmed();
}

RunOutcome refused(const QString& message)
{
    return {RunOutcome::Refused, message, 0};
}

} // namespace

QString reportPeriod(const QString& year, const QString& month)
{
    return year.trimmed() + (QStringLiteral("0") + month.trimmed()).right(2);
}

QString periodHeader(const QString& year, const QString& month)
{
    return QStringLiteral("报表期间：") + year.trimmed() + QStringLiteral("年") + monthText(month) +
           QStringLiteral("月");
}

QString unitHeader(const QString& region, const QString& regionName)
{
    if (region.trimmed().size() == 12)
        return QStringLiteral("单位：") + regionName + QStringLiteral("贫困社区互助社");
    return QStringLiteral("项目区：") + regionName;
}

bool refreshDue(const Host& host, const QString& period)
{
    return !host.gs_kjqj.isNull() && period == host.gs_kjqj && !host.gs_userqybm.isNull() &&
           host.gs_userqybm.size() == 12;
}

// The steps of a run, in order.
enum RunStep
{
    CheckInputs,
    WorkingTable,
    Refresh,
    KeptFigures,
    Begin,
    Empty,
    Fill,
    CheckFigures,
    Derive,
    RoundCents,
    Trim,
    Order,
    SchemeCode,
    Retrieve,
    Commit,
    Over,
};

StatisticsRun::StatisticsRun(Host& host, GridBuffer& grid, ReportRequest request)
    : m_host(host), m_grid(grid), m_request(std::move(request)), m_region(m_request.region.trimmed()),
      m_period(reportPeriod(m_request.year, m_request.month))
{}

StatisticsRun::~StatisticsRun()
{
    m_tx.reset();
    closeNotice();
}

bool StatisticsRun::step()
{
    if (m_next == Over)
        return false;
    const int current = m_next++;
    if (!make(current))
        m_next = Over;
    return m_next != Over;
}

void StatisticsRun::closeNotice()
{
    if (m_noticeOpen) {
        m_noticeOpen = false;
        m_host.closeWaitNotice();
    }
}

// A failed run shows its error and no rows: never a partial report. What it
// wrote goes with the rollback.
bool StatisticsRun::fail(QString text)
{
    m_tx.reset();
    m_grid.Reset();
    for (const QString& name : {QStringLiteral("t_qijian"), QStringLiteral("t_qymc")}) {
        if (const GridText* t = m_grid.layout().text(name))
            m_grid.setText(name, t->text);
    }
    m_outcome = {RunOutcome::Failed, text.isEmpty() ? QStringLiteral("unknown database error") : text, 0};
    closeNotice();
    return false;
}

bool StatisticsRun::make(int step)
{
    Sqlca& sqlca = m_host.sqlca();
    const Dialect& d = sqlca.dialect();
    switch (RunStep(step)) {
    case CheckInputs:
        if (m_region.isEmpty() || m_request.scheme.isEmpty()) {
            m_outcome = refused(m_region.isEmpty() ? kRegionMissing : kSchemeMissing);
            return false;
        }
        // The database shows a scoped user nothing outside its region: a report
        // of it would only look empty.
        if (!regionInScope(m_host.regionScope, m_region)) {
            m_outcome = refused(regionRefusal(m_region, m_host.regionScope));
            return false;
        }
        m_host.openWaitNotice(QStringLiteral("正在统计，请稍候……"));
        m_noticeOpen = true;
        // The grid must read through the run's own transaction.
        m_grid.SetTransObject(&sqlca);
        return true;

    case WorkingTable: {
        QString error;
        return schema::prepareWorkingTable(sqlca, &error) || fail(error);
    }

    case Refresh:
        // The current period of a village user is brought up to date first;
        // the host routines write H_stat as the host does, each committing its own.
        if (refreshDue(m_host, m_period)) {
            for (const auto& refresh : std::initializer_list<std::function<Status()>>{
                     [&] { return m_host.uf_zzye(0); },
                     [&] { return m_host.uf_yqmx(m_host.gs_kjqj, 0); },
                     [&] { return m_host.uf_ysss(m_host.gs_kjqj); },
                     [&] { return m_host.uf_allstats(m_region, m_host.gs_kjqj); },
                 }) {
                if (const Status s = refresh(); !s)
                    return fail(s.error);
            }
        }
        return true;

    case KeptFigures:
        // A province, city, county or town reads its kept figures where the
        // database keeps them; stale parts of it are built first when that can
        // be done at once.
        {
            QString refusal;
            m_kept = rollup::prepare(sqlca, m_period, m_region, &refusal);
            return refusal.isEmpty() || fail(refusal);
        }

    case Begin:
        // Every statement of the run reads the same snapshot; the run writes
        // only its own t_stat, so it takes no lock another run or user waits for.
        m_tx = std::make_unique<TransactionGuard>(sqlca, TransactionGuard::Reads::OneSnapshot);
        return m_tx->active() || fail(sqlca.SQLErrText);

    case Empty:
        return sqlca.execute(d.emptyOwnTable(QStringLiteral("t_stat"))) || fail(sqlca.SQLErrText);

    case Fill: {
        // Kept figures only where the run's snapshot holds no mark of its region.
        bool kept = false;
        if (m_kept) {
            const auto fresh = rollup::freshInSnapshot(sqlca, m_period, m_region);
            if (!fresh)
                return fail(sqlca.SQLErrText);
            kept = *fresh;
        }
        if (!(kept ? rollup::fillWorkingRows(sqlca, m_period, m_region)
                   : fillWorkingRows(sqlca, m_region, m_period))) {
            const QString why = sqlca.SQLErrText;
            if (d.isSQLite())
                return fail(why);
            m_tx->rollback(); // the failed statement ended the transaction's use
            const QString beyond = figureBeyondRange(sqlca, m_region, m_period);
            return fail(beyond.isEmpty() ? why : beyond);
        }
        return true;
    }

    case CheckFigures: {
        const auto check = checkFill(sqlca, m_region, m_period);
        if (!check)
            return fail(sqlca.SQLErrText);
        if (!check->notANumber.isNull()) {
            const auto nan = figureNotANumber(sqlca, m_region, m_period, check->notANumber);
            return fail(nan ? *nan : sqlca.SQLErrText);
        }
        m_noFigures = !check->anyFigure;
        return true;
    }

    case Derive: {
        const Status s = m_host.uf_update_report(QStringLiteral("T_stat"), QStringLiteral("qichu"),
                                                 QStringLiteral("leiji"));
        return s || fail(s.error);
    }

    case RoundCents:
        // The host may write figures with more decimals; t_stat holds cents on
        // every backend, so a figure the host left at 0.004 is zero (and blank) everywhere.
        // (PostgreSQL's numeric(18,2) columns have rounded them already.)
        return !d.isSQLite() ||
               sqlca.execute(QStringLiteral("UPDATE t_stat SET qichu = %1, fasheng = %2, leiji = %3")
                                 .arg(d.money(QStringLiteral("qichu")), d.money(QStringLiteral("fasheng")),
                                      d.money(QStringLiteral("leiji")))) ||
               fail(sqlca.SQLErrText);

    case Trim:
        // What the scheme switches off goes; the rest takes the scheme's row order.
        return sqlca.execute(d.joinedDelete(QStringLiteral("t_stat"), QStringLiteral("s_zbfa"),
                                            QStringLiteral("t_stat.zbbm = s_zbfa.zbbm AND s_zbfa.xz = 0 "
                                                           "AND s_zbfa.famc = ? AND s_zbfa.falx = ?")),
                             {m_request.scheme, kReportKind}) ||
               fail(sqlca.SQLErrText);

    case Order:
        return sqlca.execute(d.joinedUpdate(QStringLiteral("t_stat"), QStringLiteral("hh = s_zbfa.hh"),
                                            QStringLiteral("s_zbfa"),
                                            QStringLiteral("t_stat.zbbm = s_zbfa.zbbm AND s_zbfa.famc = ? "
                                                           "AND s_zbfa.falx = ?")),
                             {m_request.scheme, kReportKind}) ||
               fail(sqlca.SQLErrText);

    case SchemeCode: {
        // The scheme code; 0 (no rows) when the name matches no kind-1 scheme.
        // In the same statement: whether t_stat is still the connection's own.
        // The host routine changes the run's rows, never where they are: were
        // t_stat dropped or renamed, the trimming went to the shared table,
        // and the rollback takes that back.
        const auto row = sqlca.selectRow(
            QStringLiteral("SELECT (SELECT min(fabm) FROM s_zbfa WHERE falx = ? AND famc = ?), %1")
                .arg(schema::workingTableInPlace(d)),
            {kReportKind, m_request.scheme});
        if (!row)
            return fail(sqlca.SQLErrText);
        if (row->at(1).toInt() != 1)
            return fail(QStringLiteral("uf_update_report dropped or replaced this connection's working table "
                                       "t_stat; a host routine may change its rows only"));
        m_fabm = row->at(0).isNull() ? 0 : row->at(0).toInt();
        return true;
    }

    case Retrieve:
        return m_grid.Retrieve({m_fabm}) >= 0 || fail(sqlca.SQLErrText);

    case Commit:
        // The rows stay in t_stat after the commit, for this connection only,
        // until its next run empties it.
        if (!m_tx->commit())
            return fail(sqlca.SQLErrText);
        m_tx.reset();
        m_grid.setText(QStringLiteral("t_qijian"), periodHeader(m_request.year, m_request.month));
        m_grid.setText(QStringLiteral("t_qymc"), unitHeader(m_region, m_request.regionName));
        m_outcome = {RunOutcome::Done, QString(), m_grid.RowCount(), m_noFigures};
        closeNotice();
        return false;

    case Over:
        break;
    }
    return false;
}

RunOutcome runStatistics(Host& host, GridBuffer& grid, const ReportRequest& request)
{
    StatisticsRun run(host, grid, request);
    while (run.step()) {
    }
    return run.outcome();
}

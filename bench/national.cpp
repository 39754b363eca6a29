// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/national.h"

#include "bench/benchdata.h"
#include "bench/forms.h"
#include "bench/kept.h"
#include "foundation/rollup.h"
#include "foundation/schema.h"
#include "foundation/sqlca.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>

namespace national {

namespace {

QString sec(double v)
{
    return QString::number(v, 'f', 1);
}

double seconds(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

// What the run is at, as it goes: the whole takes a while.
void progress(const QString& what)
{
    QTextStream(stdout) << "  national: " << what << Qt::endl;
}

} // namespace

Result measure(const QString& db, int reps)
{
    Result result;
    const benchdata::Size size = *benchdata::sizeByName(QStringLiteral("national"));
    QString error;
    auto sqlca = Sqlca::connect(db, &error);
    if (!sqlca) {
        result.error = error;
        return result;
    }
    const auto fail = [&](const QString& what) {
        result.error = what + QStringLiteral(": ") + (error.isEmpty() ? sqlca->SQLErrText : error);
        return result;
    };
    if (sqlca->backend() == Backend::SQLite) {
        result.error = QStringLiteral("the national size is PostgreSQL only");
        return result;
    }
    const auto partitioned = schema::isPartitioned(*sqlca, &error);
    if (!partitioned)
        return fail(QStringLiteral("H_stat"));
    if (!*partitioned) {
        result.error = QStringLiteral("H_stat is one table: make the database with allstats init-db "
                                      "--partitioned");
        return result;
    }
    if (sqlca->selectRow(QStringLiteral("SELECT 1 FROM s_qybm LIMIT 1")) ||
        sqlca->selectRow(QStringLiteral("SELECT 1 FROM H_stat LIMIT 1"))) {
        result.error = QStringLiteral("the database already holds data; load into a fresh one");
        return result;
    }
    const QStringList periods = benchdata::periods(size);
    const QString first = periods.constFirst();
    const QString period = periods.constLast();
    const qint64 periodRows = qint64(size.villages()) * benchdata::IndicatorCount;
    QJsonObject json;
    QElapsedTimer t;

    // The catalogue; the triggers off (init-db switched them on); a partition a period.
    progress(QStringLiteral("catalogue (%1 regions)").arg(benchdata::regions(size).size()));
    t.start();
    if (const Status s = rollup::disable(*sqlca); !s) {
        error = s.error;
        return fail(QStringLiteral("disable"));
    }
    if (const Status s = benchdata::fillCatalogue(*sqlca, size, false); !s) {
        error = s.error;
        return fail(QStringLiteral("catalogue"));
    }
    if (const Status s = benchdata::loadPostgresRegions(db, size); !s) {
        error = s.error;
        return fail(QStringLiteral("regions"));
    }
    // Autovacuum waits for the loads (a vacuum of the first period's partition
    // beside the second load would weigh on it alone); VACUUM ANALYZE follows them.
    for (const QString& p : periods)
        if (!schema::addPeriodPartition(*sqlca, p, &error) ||
            !sqlca->executeImmediate(
                QStringLiteral("ALTER TABLE H_stat_%1 SET (autovacuum_enabled = false)").arg(p)))
            return fail(QStringLiteral("partitions"));
    if (!sqlca->executeImmediate(QStringLiteral("ANALYZE s_qybm, s_zbbm, s_zbfa")))
        return fail(QStringLiteral("ANALYZE"));
    const double catalogueS = seconds(t);

    // One period without the triggers, the other with them, each into an
    // empty partition of its own.
    progress(QStringLiteral("%1 rows of %2 without the triggers").arg(periodRows).arg(first));
    t.start();
    if (const Status s = benchdata::loadPostgresFigures(db, size, 0); !s) {
        error = s.error;
        return fail(QStringLiteral("the load without the triggers"));
    }
    const double plainS = seconds(t);
    progress(QStringLiteral("loaded in %1 s; enabling the kept figures").arg(sec(plainS)));
    t.start();
    rollup::Enabled enabled;
    if (const Status s = rollup::enable(*sqlca, &enabled); !s) {
        error = s.error;
        return fail(QStringLiteral("enable"));
    }
    const double enableS = seconds(t);
    progress(QStringLiteral("%1 rows of %2 with the triggers").arg(periodRows).arg(period));
    t.start();
    if (const Status s = benchdata::loadPostgresFigures(db, size, 1); !s) {
        error = s.error;
        return fail(QStringLiteral("the load with the triggers"));
    }
    const double keptLoadS = seconds(t);
    const double plainRate = double(periodRows) / plainS;
    const double keptRate = double(periodRows) / keptLoadS;
    result.table << QStringLiteral("PostgreSQL, national size: %1 villages in %2 provinces x %3 indicators, "
                                   "%4 rows a period, H_stat partitioned by kjqj")
                        .arg(size.villages())
                        .arg(size.provinces)
                        .arg(benchdata::IndicatorCount)
                        .arg(periodRows);
    result.table << QStringLiteral("  catalogue (regions by COPY) and partitions: %1 s").arg(sec(catalogueS));
    result.table << QStringLiteral(
                        "  load of %1 without the triggers (COPY, autovacuum held back): %2 s (%3 rows/s)")
                        .arg(first, sec(plainS), QString::number(qint64(plainRate)));
    result.table << QStringLiteral("  rollup enable on the loaded period (%1 parts marked): %2 s")
                        .arg(enabled.parts)
                        .arg(sec(enableS));
    result.table << QStringLiteral("  load of %1 with the triggers: %2 s (%3 rows/s); with / without %4")
                        .arg(period, sec(keptLoadS), QString::number(qint64(keptRate)),
                             QString::number(keptLoadS / plainS, 'f', 2));

    // The reported period vacuumed (its visibility map lets the village
    // report read the index only) and the statistics of every partition; the
    // first period stays held back from autovacuum, which would otherwise
    // vacuum it beside the timings below.
    progress(QStringLiteral("VACUUM ANALYZE"));
    t.start();
    if (!sqlca->executeImmediate(QStringLiteral("VACUUM ANALYZE H_stat_%1").arg(period)) ||
        !sqlca->executeImmediate(QStringLiteral("ANALYZE H_stat")) ||
        !sqlca->executeImmediate(
            QStringLiteral("ALTER TABLE H_stat_%1 RESET (autovacuum_enabled)").arg(period)))
        return fail(QStringLiteral("VACUUM ANALYZE"));
    const double vacuumS = seconds(t);
    result.table << QStringLiteral("  VACUUM ANALYZE of %1's partition, ANALYZE H_stat: %2 s")
                        .arg(period, sec(vacuumS));

    // The whole nation of the reported period, as `rollup rebuild --period`
    // builds it (the first period's marks stay: nothing below reads it).
    progress(QStringLiteral("rollup rebuild --period %1").arg(period));
    t.start();
    const auto nation = rollup::rebuild(*sqlca, period, QString(), true, rollup::Wait::Yes);
    if (nation.kind != rollup::Rebuilt::Done) {
        error = nation.error;
        return fail(QStringLiteral("rebuilding %1").arg(period));
    }
    const double nationS = seconds(t);
    result.table << QStringLiteral("  rollup rebuild --period %1 (the nation, %2 counties): %3 s")
                        .arg(period)
                        .arg(nation.parts)
                        .arg(sec(nationS));

    // Each level once built, against the scan; the first province is as large as any.
    QTemporaryDir hooks;
    kept::Reporter reporter(*sqlca, hooks.path());
    const QString village = benchdata::regions(size).at(4).code; // province, city, county, town, village
    struct Level
    {
        QString level, code;
    };
    const QList<Level> levels = {{QStringLiteral("village"), village},
                                 {QStringLiteral("town"), village.left(9)},
                                 {QStringLiteral("county"), village.left(6)},
                                 {QStringLiteral("city"), village.left(4)},
                                 {QStringLiteral("province"), village.left(2)}};
    progress(QStringLiteral("reports of each level"));
    QJsonArray levelJson;
    double worstKept = 0;
    double provinceScan = 0;
    for (const Level& l : levels) {
        if (reporter.run(l.code, period, true, &error) < 0)
            return fail(QStringLiteral("warm-up"));
        QList<double> keptMs;
        for (int i = 0; i < reps; ++i) {
            const double k = reporter.run(l.code, period, true, &error);
            if (k < 0)
                return fail(QStringLiteral("levels"));
            keptMs << k;
        }
        // The scan once: at this size it takes seconds.
        double s = 0;
        const auto equal = reporter.keptEqualsScan(l.code, period, &error, &s);
        if (!equal)
            return fail(QStringLiteral("the scan"));
        ++result.compared;
        if (!*equal)
            ++result.differing;
        const double km = kept::median(keptMs);
        worstKept = std::max(worstKept, km);
        if (l.level == u"province")
            provinceScan = s;
        result.table << QStringLiteral("  %1 %2: kept %3 ms, scan %4 ms")
                            .arg(l.level.leftJustified(9), l.code.leftJustified(12), kept::ms(km),
                                 kept::ms(s));
        levelJson.append(QJsonObject{{QStringLiteral("level"), l.level},
                                     {QStringLiteral("region"), l.code},
                                     {QStringLiteral("kept_ms"), km},
                                     {QStringLiteral("scan_ms"), s}});
    }
    result.table << QStringLiteral("  (the region table has no code for the whole country: the largest "
                                   "report is a province's)");

    // Every row of one province changed: its 100 counties marked, then rebuilt.
    const QString province = village.left(2);
    progress(QStringLiteral("every row of province %1 changed").arg(province));
    t.start();
    if (!sqlca->execute(
            QStringLiteral("UPDATE H_stat SET qichu = qichu + 1 WHERE kjqj = ? AND number >= ? AND "
                           "number < ?"),
            {period, province, Dialect::prefixUpperBound(province)}))
        return fail(QStringLiteral("the province's update"));
    const qint64 provinceRows = sqlca->SQLNRows;
    const double updateS = seconds(t);
    t.start();
    const auto built = rollup::rebuild(*sqlca, period, province, false, rollup::Wait::Yes);
    if (built.kind != rollup::Rebuilt::Done) {
        error = built.error;
        return fail(QStringLiteral("rebuilding the province"));
    }
    const double provinceRebuildS = seconds(t);
    const double afterRebuildMs = reporter.run(province, period, true, &error);
    if (afterRebuildMs < 0)
        return fail(QStringLiteral("the province after its rebuild"));
    const auto equalAfter = reporter.keptEqualsScan(province, period, &error);
    if (!equalAfter)
        return fail(QStringLiteral("the province's scan"));
    ++result.compared;
    if (!*equalAfter)
        ++result.differing;
    result.table << QStringLiteral("  every row of province %1 changed (%2 rows, one UPDATE with the "
                                   "triggers): %3 s; the province rebuilt (%4 counties): %5 s; its report "
                                   "then %6 ms")
                        .arg(province)
                        .arg(provinceRows)
                        .arg(sec(updateS))
                        .arg(built.parts)
                        .arg(QString::number(provinceRebuildS, 'f', 2), kept::ms(afterRebuildMs));

    // One village's change, then the province report (its county rebuilt first).
    QList<double> afterChange;
    for (int i = 0; i < reps; ++i) {
        if (!sqlca->execute(
                QStringLiteral("UPDATE H_stat SET qichu = qichu + 1 WHERE kjqj = ? AND number = ? "
                               "AND zbbm = '0001'"),
                {period, village}))
            return fail(QStringLiteral("a village's change"));
        const double v = reporter.run(province, period, true, &error);
        if (v < 0)
            return fail(QStringLiteral("the province after a change"));
        afterChange << v;
    }
    const double changeMs = kept::median(afterChange);
    result.table << QStringLiteral("  province after one village's change (its county rebuilt first): %1 ms")
                        .arg(kept::ms(changeMs));
    result.table << QStringLiteral("  kept against scanned: %1 reports, %2 differ")
                        .arg(result.compared)
                        .arg(result.differing);

    const auto target = [&](const QString& what, double value, double limit, const QString& unit) {
        result.targets << QStringLiteral("%1PostgreSQL national %2: %3%4 (limit %5%4)")
                              .arg(value <= limit ? QStringLiteral("met     ") : QStringLiteral("MISSED  "),
                                   what, QString::number(value, 'f', 3), unit, QString::number(limit));
    };
    target(QStringLiteral("largest kept report (a province)"), worstKept, 15, QStringLiteral(" ms"));

    json.insert(QStringLiteral("backend"), QStringLiteral("PostgreSQL"));
    json.insert(QStringLiteral("villages"), size.villages());
    json.insert(QStringLiteral("provinces"), size.provinces);
    json.insert(QStringLiteral("rows_per_period"), double(periodRows));
    json.insert(QStringLiteral("partitioned"), true);
    json.insert(QStringLiteral("catalogue_s"), catalogueS);
    json.insert(QStringLiteral("load_without_triggers_s"), plainS);
    json.insert(QStringLiteral("load_without_triggers_rows_per_s"), plainRate);
    json.insert(QStringLiteral("enable_s"), enableS);
    json.insert(QStringLiteral("load_with_triggers_s"), keptLoadS);
    json.insert(QStringLiteral("load_with_triggers_rows_per_s"), keptRate);
    json.insert(QStringLiteral("load_with_per_without"), keptLoadS / plainS);
    json.insert(QStringLiteral("vacuum_analyze_s"), vacuumS);
    json.insert(QStringLiteral("rebuild_nation_s"), nationS);
    json.insert(QStringLiteral("levels"), levelJson);
    json.insert(QStringLiteral("province_scan_ms"), provinceScan);
    json.insert(QStringLiteral("largest_kept_ms"), worstKept);
    json.insert(QStringLiteral("province_update_rows"), double(provinceRows));
    json.insert(QStringLiteral("province_update_s"), updateS);
    json.insert(QStringLiteral("province_rebuild_s"), provinceRebuildS);
    json.insert(QStringLiteral("province_after_rebuild_ms"), afterRebuildMs);
    json.insert(QStringLiteral("province_after_village_change_ms"), changeMs);
    json.insert(QStringLiteral("compared"), result.compared);
    json.insert(QStringLiteral("differing"), result.differing);
    result.json = json;
    return result;
}

} // namespace national

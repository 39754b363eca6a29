// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/kept.h"

#include "bench/forms.h"
#include "foundation/gridbuffer.h"
#include "foundation/rollup.h"
#include "foundation/sqlca.h"
#include "host/sqlhost.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"
#include "report/tidy.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>

namespace kept {

double median(QList<double> s)
{
    if (s.isEmpty())
        return 0;
    std::sort(s.begin(), s.end());
    const qsizetype n = s.size();
    return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
}

QString ms(double v)
{
    return QString::number(v, 'f', v < 10 ? 2 : 1);
}

namespace {

// The month's rows loaded as a host loads them: bound inserts of 500 rows a
// statement, in one transaction.
bool loadMonth(Sqlca& sqlca, const benchdata::Size& size, const QString& period, QString* error)
{
    TransactionGuard tx(sqlca, TransactionGuard::Writes::AtOnce);
    if (!tx.active() || !sqlca.execute(QStringLiteral("DELETE FROM H_stat WHERE kjqj = ?"), {period})) {
        *error = sqlca.SQLErrText;
        return false;
    }
    constexpr int kRows = 500;
    QVariantList binds;
    int rows = 0;
    bool ok = true;
    const auto flush = [&] {
        if (rows == 0 || !ok)
            return;
        QStringList values;
        for (int i = 0; i < rows; ++i)
            values << QStringLiteral("(?, ?, ?, ?, ?, ?)");
        ok = sqlca.execute(
            QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES ") +
                values.join(QStringLiteral(", ")),
            binds);
        binds.clear();
        rows = 0;
    };
    benchdata::forEachFigure(size, [&](const benchdata::Figure& f) {
        if (*f.period != period || !ok)
            return;
        binds << *f.unit << *f.period << *f.indicator << benchdata::centsText(f.qichu)
              << benchdata::centsText(f.fasheng) << benchdata::centsText(f.leiji);
        if (++rows == kRows)
            flush();
    });
    flush();
    if (!ok || !tx.commit()) {
        *error = sqlca.SQLErrText;
        return false;
    }
    return true;
}

bool buildAll(Sqlca& sqlca, QString* error)
{
    const auto stale = rollup::stalePeriods(sqlca, error);
    if (!stale)
        return false;
    for (const QString& period : *stale) {
        const auto r = rollup::rebuild(sqlca, period, QString(), false, rollup::Wait::Yes);
        if (r.kind != rollup::Rebuilt::Done) {
            *error = r.error;
            return false;
        }
    }
    return true;
}

} // namespace

Reporter::Reporter(Sqlca& sqlca, const QString& hooks)
    : m_sqlca(sqlca), m_host(sqlca, hooks), m_grid(d_xmjdzl())
{
    attachReportTidying(m_grid);
    m_grid.SetTransObject(&sqlca);
}

double Reporter::run(const QString& region, const QString& period, bool keptFigures, QString* error)
{
    ReportRequest request;
    request.region = region;
    request.regionName = region;
    request.year = period.left(4);
    request.month = QString::number(period.mid(4).toInt());
    request.scheme = benchdata::fullSchemeName();
    rollup::setReadByReports(keptFigures);
    QElapsedTimer t;
    t.start();
    const RunOutcome o = runStatistics(m_host, m_grid, request);
    const double elapsed = double(t.nsecsElapsed()) / 1e6;
    rollup::setReadByReports(true);
    if (o.kind != RunOutcome::Done) {
        *error = QStringLiteral("report of %1 in %2: %3").arg(region, period, o.message);
        return -1;
    }
    return elapsed;
}

std::optional<bool> Reporter::keptEqualsScan(const QString& region, const QString& period, QString* error,
                                             double* scanMs)
{
    if (run(region, period, true, error) < 0)
        return std::nullopt;
    const auto keptRows = benchforms::workingRows(m_sqlca);
    const double scan = run(region, period, false, error);
    if (scan < 0)
        return std::nullopt;
    if (scanMs)
        *scanMs = scan;
    const auto scanRows = benchforms::workingRows(m_sqlca);
    return keptRows && scanRows && *keptRows == *scanRows;
}

Result measure(const QString& db, const benchdata::Size& size, int reps)
{
    Result result;
    QString error;
    auto sqlca = Sqlca::connect(db, &error);
    if (!sqlca) {
        result.error = error;
        return result;
    }
    const bool lite = sqlca->backend() == Backend::SQLite;
    result.backend = lite ? QStringLiteral("SQLite") : QStringLiteral("PostgreSQL");
    const QString period = benchdata::lastPeriod(size);
    QTemporaryDir hooks;
    Reporter reporter(*sqlca, hooks.path());
    const auto fail = [&](const QString& what) {
        result.error = what + QStringLiteral(": ") + (error.isEmpty() ? sqlca->SQLErrText : error);
        return result;
    };
    const auto seconds = [](const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; };
    QJsonObject json;

    // Kept figures on, every period built.
    QElapsedTimer t;
    t.start();
    if (const Status s = rollup::enable(*sqlca); !s) {
        error = s.error;
        return fail(QStringLiteral("enable"));
    }
    if (!buildAll(*sqlca, &error))
        return fail(QStringLiteral("building every period"));
    const double buildAllS = seconds(t);
    t.start();
    if (rollup::rebuild(*sqlca, period, QString(), true, rollup::Wait::Yes).kind != rollup::Rebuilt::Done)
        return fail(QStringLiteral("rebuilding the period"));
    const double rebuildS = seconds(t);
    result.table << QStringLiteral(
                        "%1: enabled and every period built in %2 s; one period built anew in %3 s")
                        .arg(result.backend, QString::number(buildAllS, 'f', 2),
                             QString::number(rebuildS, 'f', 2));

    // Each level, built, against the scan.
    const QList<benchdata::BenchRegion> bench = benchdata::benchRegions(size);
    struct Level
    {
        QString level, code;
    };
    QList<Level> levels;
    for (const benchdata::BenchRegion& r : bench)
        levels << Level{r.level, r.code};
    levels.insert(3, Level{QStringLiteral("city"), bench.at(2).code.left(4)});
    double provinceScan = 0;
    double provinceKept = 0;
    QJsonArray levelJson;
    double worstKept = 0;
    for (const Level& l : levels) {
        QList<double> keptMs;
        QList<double> scanMs;
        if (reporter.run(l.code, period, true, &error) < 0 || reporter.run(l.code, period, false, &error) < 0)
            return fail(QStringLiteral("warm-up"));
        for (int i = 0; i < reps; ++i) {
            const double k = reporter.run(l.code, period, true, &error);
            const double s = reporter.run(l.code, period, false, &error);
            if (k < 0 || s < 0)
                return fail(QStringLiteral("levels"));
            keptMs << k;
            scanMs << s;
        }
        const double km = median(keptMs);
        const double sm = median(scanMs);
        worstKept = std::max(worstKept, km);
        if (l.level == u"province") {
            provinceScan = sm;
            provinceKept = km;
        }
        result.table << QStringLiteral("  %1 %2: kept %3 ms, scan %4 ms")
                            .arg(l.level.leftJustified(9), l.code.leftJustified(12), ms(km), ms(sm));
        levelJson.append(QJsonObject{{QStringLiteral("level"), l.level},
                                     {QStringLiteral("region"), l.code},
                                     {QStringLiteral("kept_ms"), km},
                                     {QStringLiteral("scan_ms"), sm}});
    }
    json.insert(QStringLiteral("levels"), levelJson);

    // One village's change, then the province report (its county rebuilt first).
    const QString village = bench.at(0).code;
    QList<double> afterChange;
    for (int i = 0; i < reps; ++i) {
        if (!sqlca->execute(
                QStringLiteral("UPDATE H_stat SET qichu = qichu + 1 WHERE kjqj = ? AND number = ? "
                               "AND zbbm = '0001'"),
                {period, village}))
            return fail(QStringLiteral("a village's change"));
        const double v = reporter.run(bench.last().code, period, true, &error);
        if (v < 0)
            return fail(QStringLiteral("the province after a change"));
        afterChange << v;
    }
    const double changeMs = median(afterChange);
    result.table << QStringLiteral("  province after one village's change (rebuild included): %1 ms")
                        .arg(ms(changeMs));

    // The month's load without the triggers, then with them; the first
    // province report after it; `rollup rebuild --period` after the load.
    if (const Status s = rollup::disable(*sqlca); !s) {
        error = s.error;
        return fail(QStringLiteral("disable"));
    }
    t.start();
    if (!loadMonth(*sqlca, size, period, &error))
        return fail(QStringLiteral("the load without triggers"));
    const double loadPlainS = seconds(t);
    if (const Status s = rollup::enable(*sqlca); !s) {
        error = s.error;
        return fail(QStringLiteral("enable again"));
    }
    if (!buildAll(*sqlca, &error))
        return fail(QStringLiteral("building again"));
    t.start();
    if (!loadMonth(*sqlca, size, period, &error))
        return fail(QStringLiteral("the load with triggers"));
    const double loadKeptS = seconds(t);
    const double firstMs = reporter.run(bench.last().code, period, true, &error);
    if (firstMs < 0)
        return fail(QStringLiteral("the first report after the load"));
    if (!loadMonth(*sqlca, size, period, &error))
        return fail(QStringLiteral("the load once more"));
    t.start();
    if (rollup::rebuild(*sqlca, period, QString(), true, rollup::Wait::Yes).kind != rollup::Rebuilt::Done)
        return fail(QStringLiteral("rollup rebuild --period"));
    const double afterLoadRebuildS = seconds(t);
    const double firstAfterRebuildMs = reporter.run(bench.last().code, period, true, &error);
    if (firstAfterRebuildMs < 0)
        return fail(QStringLiteral("the report after the rebuild"));
    result.table << QStringLiteral(
                        "  the month's load (%1 rows): %2 s without the triggers, %3 s with them (%4x)")
                        .arg(QString::number(size.villages() * benchdata::IndicatorCount),
                             QString::number(loadPlainS, 'f', 2), QString::number(loadKeptS, 'f', 2),
                             QString::number(loadKeptS / loadPlainS, 'f', 2));
    result.table << QStringLiteral("  first province report after the load (rebuild included): %1 ms; "
                                   "rollup rebuild --period after the load %2 s, then the province %3 ms")
                        .arg(ms(firstMs), QString::number(afterLoadRebuildS, 'f', 2),
                             ms(firstAfterRebuildMs));

    // The province over every month.
    const QStringList periods = benchdata::periods(size);
    const auto trend = [&](bool keptFigures) {
        QElapsedTimer tt;
        tt.start();
        for (const QString& p : periods)
            if (reporter.run(bench.last().code, p, keptFigures, &error) < 0)
                return -1.0;
        return double(tt.nsecsElapsed()) / 1e6;
    };
    QList<double> trendKept;
    QList<double> trendScan;
    for (int i = 0; i < std::min(reps, 3); ++i) {
        const double k = trend(true);
        const double s = trend(false);
        if (k < 0 || s < 0)
            return fail(QStringLiteral("the trend"));
        trendKept << k;
        trendScan << s;
    }
    result.table << QStringLiteral("  province trend over %1 months: kept %2 ms, scan %3 ms")
                        .arg(periods.size())
                        .arg(ms(median(trendKept)), ms(median(trendScan)));

    // Kept against scanned: every county and city, the province, 200 towns and villages.
    QStringList compare;
    QStringList towns;
    QStringList villages;
    for (const benchdata::Region& r : benchdata::regions(size)) {
        if (r.code.size() <= 6)
            compare << r.code;
        else if (r.code.size() == 9)
            towns << r.code;
        else
            villages << r.code;
    }
    const auto sample = [&](const QStringList& codes, int n) {
        const qsizetype step = std::max<qsizetype>(1, codes.size() / n);
        for (qsizetype i = 0; i < codes.size() && i / step < n; i += step)
            compare << codes.at(i);
    };
    sample(towns, 100);
    sample(villages, 100);
    for (const QString& code : compare) {
        const auto equal = reporter.keptEqualsScan(code, period, &error);
        if (!equal)
            return fail(QStringLiteral("comparing"));
        ++result.compared;
        if (!*equal)
            ++result.differing;
    }
    result.table << QStringLiteral("  kept against scanned: %1 regions, %2 differ")
                        .arg(result.compared)
                        .arg(result.differing);

    const auto target = [&](const QString& what, double value, double limit, const QString& unit) {
        result.targets << QStringLiteral("%1%2 %3: %4%5 (limit %6%5)")
                              .arg(value <= limit ? QStringLiteral("met     ") : QStringLiteral("MISSED  "),
                                   result.backend, what, QString::number(value, 'f', 3), unit,
                                   QString::number(limit));
    };
    target(QStringLiteral("slowest kept report, village to province"), worstKept, lite ? 5 : 10,
           QStringLiteral(" ms"));
    target(QStringLiteral("province after one village's change / province scan"), changeMs / provinceScan,
           1.5, QString());
    target(QStringLiteral("first province report after a month's load / province scan"),
           firstMs / provinceScan, 3, QString());
    target(QStringLiteral("province trend"), median(trendKept) / 1000, 0.5, QStringLiteral(" s"));
    target(QStringLiteral("the month's load with the triggers / without"), loadKeptS / loadPlainS,
           lite ? 2 : 1.3, QString());

    json.insert(QStringLiteral("backend"), result.backend);
    json.insert(QStringLiteral("build_every_period_s"), buildAllS);
    json.insert(QStringLiteral("rebuild_period_s"), rebuildS);
    json.insert(QStringLiteral("province_scan_ms"), provinceScan);
    json.insert(QStringLiteral("province_kept_ms"), provinceKept);
    json.insert(QStringLiteral("province_after_village_change_ms"), changeMs);
    json.insert(QStringLiteral("load_without_triggers_s"), loadPlainS);
    json.insert(QStringLiteral("load_with_triggers_s"), loadKeptS);
    json.insert(QStringLiteral("first_province_after_load_ms"), firstMs);
    json.insert(QStringLiteral("rebuild_after_load_s"), afterLoadRebuildS);
    json.insert(QStringLiteral("province_after_rebuild_ms"), firstAfterRebuildMs);
    json.insert(QStringLiteral("trend_kept_ms"), median(trendKept));
    json.insert(QStringLiteral("trend_scan_ms"), median(trendScan));
    json.insert(QStringLiteral("compared"), result.compared);
    json.insert(QStringLiteral("differing"), result.differing);
    result.json = json;
    return result;
}

} // namespace kept

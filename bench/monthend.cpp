// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/monthend.h"

#include "foundation/gridbuffer.h"
#include "foundation/sqlca.h"
#include "host/sqlhost.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <latch>
#include <mutex>
#include <random>
#include <sys/resource.h>
#include <thread>

namespace monthend {

namespace {

const QStringList kLevels = {QStringLiteral("village"), QStringLiteral("town"), QStringLiteral("county"),
                             QStringLiteral("province")};
constexpr int kProvince = 3;

// The clerks' connections carry a name of their own, so the server's
// activity view can tell them from the province users.
const QString kClerkApplication = QStringLiteral("allstats-bench-clerk");

// Every how many reports a clerk keeps the result for the comparison, and
// how many at most per clerk and round.
constexpr int kSampleEvery = 8;
constexpr int kSamplesPerUser = 10;
constexpr int kErrorTexts = 5;
// The length of a round: each phase runs in rounds of about this many seconds.
constexpr double kRoundSeconds = 5;

QString withApplicationName(const QString& db, const QString& name)
{
    if (!db.startsWith(QStringLiteral("postgres")))
        return db;
    return db + (db.contains(u'?') ? u'&' : u'?') + QStringLiteral("application_name=") + name;
}

struct Request
{
    int level = 0;
    QString code;
    QString name;
};

// What a user sees of a report: the header lines and every row as shown.
QString shown(const GridBuffer& grid)
{
    QStringList lines = {grid.text(QStringLiteral("t_qijian")), grid.text(QStringLiteral("t_qymc"))};
    for (long row = 1; row <= grid.RowCount(); ++row) {
        QStringList cells;
        for (const char* column : {"s_zbfa_zblx", "s_zbfa_zbmc", "qichu", "fasheng", "leiji"})
            cells << grid.displayText(row, QString::fromLatin1(column));
        lines << cells.join(u'|');
    }
    return lines.join(u'\n');
}

struct Sample
{
    Request request;
    QString text;
};

// One user's report maker: a connection, the hooks of the bench (none), the grid.
class Desk final
{
public:
    Desk(const QString& db, const QString& hooks, const QString& period, QString* error) : m_period(period)
    {
        m_sqlca = Sqlca::connect(db, error);
        if (!m_sqlca)
            return;
        m_host = std::make_unique<SqlHost>(*m_sqlca, hooks);
        m_host->gs_kjqj = period;
        m_host->gs_userqybm = benchdata::provinceCode(); // a province user: nothing is refreshed
        m_grid = std::make_unique<GridBuffer>(d_xmjdzl());
        attachReportTidying(*m_grid);
        m_grid->SetTransObject(m_sqlca.get());
    }
    bool ok() const { return m_sqlca != nullptr; }

    // The report of a region; the message when it failed.
    RunOutcome report(const Request& r)
    {
        ReportRequest request;
        request.region = r.code;
        request.regionName = r.name;
        request.year = m_period.left(4);
        request.month = QString::number(m_period.mid(4).toInt());
        request.scheme = benchdata::fullSchemeName();
        return runStatistics(*m_host, *m_grid, request);
    }
    const GridBuffer& grid() const { return *m_grid; }

private:
    QString m_period;
    std::unique_ptr<Sqlca> m_sqlca;
    std::unique_ptr<SqlHost> m_host;
    std::unique_ptr<GridBuffer> m_grid;
};

// What one thread did in a phase.
struct Log
{
    struct Report
    {
        int level;
        double ms;
    };
    QList<Report> reports;
    int errors = 0;
    QStringList errorTexts;
    QList<Sample> samples;
    QString setupError;
    // The thread's own accounting over the timed reports.
    double cpuMs = 0;
    long sleeps = 0;
    long preemptions = 0;
};

// The calling thread's CPU time and context switches so far.
struct ThreadUsage
{
    double cpuMs = 0;
    long sleeps = 0;
    long preemptions = 0;
    static ThreadUsage now()
    {
        rusage u{};
        getrusage(RUSAGE_THREAD, &u);
        auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
        return {ms(u.ru_utime) + ms(u.ru_stime), u.ru_nvcsw, u.ru_nivcsw};
    }
};

Latency latencyOf(const QString& level, QList<double> ms)
{
    Latency l;
    l.level = level;
    l.reports = int(ms.size());
    if (ms.isEmpty())
        return l;
    std::sort(ms.begin(), ms.end());
    auto rank = [&](double p) {
        const qsizetype i = qsizetype(std::ceil(p * double(ms.size()))) - 1;
        return ms[std::clamp<qsizetype>(i, 0, ms.size() - 1)];
    };
    l.p50 = rank(0.50);
    l.p95 = rank(0.95);
    l.max = ms.last();
    return l;
}

class Regions final
{
public:
    explicit Regions(const benchdata::Size& size)
    {
        for (const benchdata::Region& r : benchdata::regions(size)) {
            const int level = r.code.size() == 12  ? 0
                              : r.code.size() == 9 ? 1
                              : r.code.size() == 6 ? 2
                              : r.code.size() == 2 ? kProvince
                                                   : -1;
            if (level >= 0)
                m_byLevel[level] << Request{level, r.code, r.name};
        }
    }
    // The clerks' mix: 70 % villages, 20 % towns, 10 % counties.
    Request clerk(std::mt19937& random) const
    {
        const int roll = int(random() % 100);
        const int level = roll < 70 ? 0 : roll < 90 ? 1 : 2;
        const QList<Request>& all = m_byLevel[level];
        return all[qsizetype(random() % std::uint32_t(all.size()))];
    }
    Request province() const { return m_byLevel[kProvince].first(); }
    bool complete() const
    {
        return std::all_of(std::begin(m_byLevel), std::end(m_byLevel),
                           [](const auto& l) { return !l.isEmpty(); });
    }

private:
    QList<Request> m_byLevel[4];
};

// The server's view of the clerks' processes every 20 ms: active, and waiting for a lock.
void watchLocks(const QString& db, const std::atomic<bool>& stop, int* active, int* waiting)
{
    QString error;
    auto sqlca = Sqlca::connect(db, &error);
    if (!sqlca)
        return;
    while (!stop.load()) {
        const auto row = sqlca->selectRow(
            QStringLiteral("SELECT count(*), count(*) FILTER (WHERE wait_event_type = 'Lock') "
                           "FROM pg_stat_activity WHERE application_name = ? AND state = 'active'"),
            {kClerkApplication});
        if (row) {
            *active += row->at(0).toInt();
            *waiting += row->at(1).toInt();
        }
        QThread::msleep(20);
    }
}

// What the threads of one phase did, gathered over the rounds.
struct PhaseData
{
    QList<double> byLevel[4];
    QList<double> clerksAll;
    ThreadUsage clerkUsage;
    double clerkSeconds = 0;
    int errors = 0;
    QStringList errorTexts;
    int activeSamples = 0;
    int lockWaitSamples = 0;
};

// One round of a phase: the threads start together and run for `seconds`.
void runPhase(const QString& db, const QString& hooks, const QString& period, const Regions& regions,
              int seed, int clerks, int provinceUsers, int burners, double seconds, PhaseData& data,
              QList<Sample>* samples)
{
    const int users = clerks + provinceUsers;
    QList<Log> logs(users);
    std::latch ready(users + burners + 1);
    std::latch go(1);
    // The clerks stop when the time is up, after the report under way (a
    // report that waited counts with all of its wait); the others go on
    // until the last clerk is done.
    std::atomic<bool> stopClerks = false;
    std::atomic<bool> stop = false;
    QElapsedTimer clock;

    auto user = [&](int index) {
        Log& log = logs[index];
        const bool clerk = index < clerks;
        std::mt19937 random(std::uint32_t(1000 * seed + index));
        QString error;
        Desk desk(clerk ? withApplicationName(db, kClerkApplication) : db, hooks, period, &error);
        // The first report is not timed: the connection's caches and working table.
        const Request first = clerk ? regions.clerk(random) : regions.province();
        if (!desk.ok())
            log.setupError = error;
        else if (const RunOutcome o = desk.report(first); o.kind != RunOutcome::Done)
            log.setupError = o.message;
        ready.count_down();
        go.wait();
        if (!log.setupError.isEmpty())
            return;
        int made = 0;
        const ThreadUsage before = ThreadUsage::now();
        while (!(clerk ? stopClerks : stop).load()) {
            const Request r = clerk ? regions.clerk(random) : regions.province();
            QElapsedTimer t;
            t.start();
            const RunOutcome o = desk.report(r);
            const double ms = double(t.nsecsElapsed()) / 1e6;
            if (o.kind != RunOutcome::Done) {
                ++log.errors;
                if (log.errorTexts.size() < kErrorTexts)
                    log.errorTexts << QStringLiteral("%1 %2: %3").arg(kLevels[r.level], r.code, o.message);
                continue;
            }
            log.reports << Log::Report{r.level, ms};
            if ((clerk ? made % kSampleEvery == 0 : made == 0) && log.samples.size() < kSamplesPerUser)
                log.samples << Sample{r, shown(desk.grid())};
            ++made;
        }
        const ThreadUsage after = ThreadUsage::now();
        log.cpuMs = after.cpuMs - before.cpuMs;
        log.sleeps = after.sleeps - before.sleeps;
        log.preemptions = after.preemptions - before.preemptions;
    };
    auto burner = [&] {
        ready.count_down();
        go.wait();
        volatile std::uint64_t x = 1;
        while (!stop.load())
            for (int i = 0; i < 100000; ++i)
                x = x * 6364136223846793005ULL + 1442695040888963407ULL;
    };

    std::vector<std::thread> clerkThreads;
    std::vector<std::thread> threads;
    for (int i = 0; i < users; ++i)
        (i < clerks ? clerkThreads : threads).emplace_back(user, i);
    for (int i = 0; i < burners; ++i)
        threads.emplace_back(burner);
    int active = 0;
    int waiting = 0;
    std::thread watcher;
    ready.arrive_and_wait();
    if (db.startsWith(QStringLiteral("postgres")))
        watcher = std::thread(watchLocks, db, std::cref(stop), &active, &waiting);
    clock.start();
    go.count_down();
    QThread::usleep(std::uint64_t(seconds * 1e6));
    stopClerks = true;
    for (std::thread& t : clerkThreads)
        t.join();
    const double clerkSeconds = double(clock.nsecsElapsed()) / 1e9;
    stop = true;
    for (std::thread& t : threads)
        t.join();
    if (watcher.joinable())
        watcher.join();

    data.clerkSeconds += clerkSeconds;
    data.activeSamples += active;
    data.lockWaitSamples += waiting;
    for (int i = 0; i < users; ++i) {
        const Log& log = logs[i];
        if (!log.setupError.isEmpty()) {
            ++data.errors;
            if (data.errorTexts.size() < kErrorTexts)
                data.errorTexts << log.setupError;
        }
        data.errors += log.errors;
        for (const QString& e : log.errorTexts)
            if (data.errorTexts.size() < kErrorTexts)
                data.errorTexts << e;
        for (const Log::Report& r : log.reports) {
            data.byLevel[r.level] << r.ms;
            if (i < clerks)
                data.clerksAll << r.ms;
        }
        if (i < clerks) {
            data.clerkUsage.cpuMs += log.cpuMs;
            data.clerkUsage.sleeps += log.sleeps;
            data.clerkUsage.preemptions += log.preemptions;
        }
    }
    // Kept for the comparison with the same reports made alone.
    for (const Log& log : logs)
        *samples << log.samples;
}

Phase summary(const PhaseData& data, int provinceUsers, int burners)
{
    Phase phase;
    phase.provinceUsers = provinceUsers;
    phase.burners = burners;
    phase.name = provinceUsers > 0 ? QStringLiteral("%1 province user%2")
                                         .arg(provinceUsers)
                                         .arg(provinceUsers > 1 ? QStringLiteral("s") : QString())
                 : burners > 0 ? QStringLiteral("%1 CPU burners").arg(burners)
                               : QStringLiteral("alone");
    phase.seconds = data.clerkSeconds;
    phase.activeSamples = data.activeSamples;
    phase.lockWaitSamples = data.lockWaitSamples;
    phase.errors = data.errors;
    phase.errorTexts = data.errorTexts;
    if (!data.clerksAll.isEmpty()) {
        const double n = double(data.clerksAll.size());
        phase.cpuMsPerReport = data.clerkUsage.cpuMs / n;
        phase.sleepsPerReport = double(data.clerkUsage.sleeps) / n;
        phase.preemptionsPerReport = double(data.clerkUsage.preemptions) / n;
    }
    phase.clerkReports = int(data.clerksAll.size());
    phase.clerkPerSecond = data.clerkSeconds > 0 ? double(data.clerksAll.size()) / data.clerkSeconds : 0;
    for (int level = 0; level < kProvince; ++level)
        phase.latencies << latencyOf(kLevels[level], data.byLevel[level]);
    phase.latencies << latencyOf(QStringLiteral("all"), data.clerksAll);
    if (provinceUsers > 0)
        phase.latencies << latencyOf(kLevels[kProvince], data.byLevel[kProvince]);
    return phase;
}

QString ratio(double value)
{
    return QString::number(value, 'f', 2) + u'x';
}

QString cell(const QString& text, int width, bool right = true)
{
    return right ? text.rightJustified(width) : text.leftJustified(width);
}

} // namespace

Result measure(const QString& db, const benchdata::Size& size, int clerks, double secondsPerPhase)
{
    Result result;
    result.clerks = clerks;
    result.backend =
        db.startsWith(QStringLiteral("postgres")) ? QStringLiteral("PostgreSQL") : QStringLiteral("SQLite");
    const Regions regions(size);
    if (!regions.complete()) {
        result.error = QStringLiteral("the data set lacks a level of regions");
        return result;
    }
    const QString period = benchdata::lastPeriod(size);
    QTemporaryDir hooks; // no host routines
    struct Plan
    {
        int provinceUsers;
        int burners;
    };
    QList<Sample> samples;
    const QList<Plan> plans = {{0, 0}, {1, 0}, {2, 0}, {0, 2}};
    // The phases take turns in short rounds, so a machine whose other load
    // comes and goes meets every phase alike.
    const int rounds = std::max(1, int(secondsPerPhase / kRoundSeconds));
    QList<PhaseData> data(plans.size());
    for (int round = 0; round < rounds; ++round)
        for (qsizetype i = 0; i < plans.size(); ++i)
            runPhase(db, hooks.path(), period, regions, int(round * plans.size() + i), clerks,
                     plans[i].provinceUsers, plans[i].burners, secondsPerPhase / rounds, data[i], &samples);
    for (qsizetype i = 0; i < plans.size(); ++i)
        result.phases << summary(data[i], plans[i].provinceUsers, plans[i].burners);

    // The sample again, one report at a time on a connection of its own.
    QString error;
    Desk alone(db, hooks.path(), period, &error);
    if (!alone.ok()) {
        result.error = error;
        return result;
    }
    for (const Sample& s : samples) {
        ++result.compared;
        const RunOutcome o = alone.report(s.request);
        const QString text = o.kind == RunOutcome::Done ? shown(alone.grid()) : o.message;
        if (text != s.text) {
            ++result.differing;
            if (result.differences.size() < kErrorTexts)
                result.differences << QStringLiteral("%1 %2").arg(kLevels[s.request.level], s.request.code);
        }
    }
    return result;
}

QStringList table(const QList<Result>& results)
{
    QStringList lines;
    lines << cell(QStringLiteral("backend"), 11, false) +
                 cell(QStringLiteral("beside the clerks"), 19, false) +
                 cell(QStringLiteral("reports/s"), 10) + cell(QStringLiteral("x alone"), 8) +
                 cell(QStringLiteral("p50 ms"), 8) + cell(QStringLiteral("p95 ms"), 8) +
                 cell(QStringLiteral("x alone"), 8) + cell(QStringLiteral("max ms"), 8) +
                 cell(QStringLiteral("village p95"), 12) + cell(QStringLiteral("town p95"), 9) +
                 cell(QStringLiteral("county p95"), 11) + cell(QStringLiteral("province p50"), 13) +
                 cell(QStringLiteral("errors"), 7) + cell(QStringLiteral("lock waits"), 12) +
                 cell(QStringLiteral("cpu ms"), 8) + cell(QStringLiteral("sleeps"), 8) +
                 cell(QStringLiteral("put aside"), 10);
    for (const Result& r : results) {
        if (!r.error.isEmpty()) {
            lines << cell(r.backend, 11, false) + QStringLiteral("failed: ") + r.error;
            continue;
        }
        const Phase* alone = r.phases.isEmpty() ? nullptr : &r.phases.first();
        for (const Phase& p : r.phases) {
            auto p95 = [&](const QString& level) {
                const Latency* l = p.latency(level);
                return l && l->reports ? QString::number(l->p95, 'f', 1) : QStringLiteral("-");
            };
            const Latency* all = p.latency(QStringLiteral("all"));
            const Latency* allAlone = alone->latency(QStringLiteral("all"));
            const Latency* province = p.latency(QStringLiteral("province"));
            lines << cell(r.backend, 11, false) + cell(p.name, 19, false) +
                         cell(QString::number(p.clerkPerSecond, 'f', 1), 10) +
                         cell(alone->clerkPerSecond > 0 ? ratio(p.clerkPerSecond / alone->clerkPerSecond)
                                                        : QStringLiteral("-"),
                              8) +
                         cell(QString::number(all->p50, 'f', 1), 8) +
                         cell(QString::number(all->p95, 'f', 1), 8) +
                         cell(allAlone->p95 > 0 ? ratio(all->p95 / allAlone->p95) : QStringLiteral("-"), 8) +
                         cell(QString::number(all->max, 'f', 0), 8) +
                         cell(p95(QStringLiteral("village")), 12) + cell(p95(QStringLiteral("town")), 9) +
                         cell(p95(QStringLiteral("county")), 11) +
                         cell(province && province->reports ? QStringLiteral("%1 (%2)")
                                                                  .arg(province->p50, 0, 'f', 0)
                                                                  .arg(province->reports)
                                                            : QStringLiteral("-"),
                              13) +
                         cell(QString::number(p.errors), 7) +
                         cell(p.activeSamples > 0
                                  ? QStringLiteral("%1/%2").arg(p.lockWaitSamples).arg(p.activeSamples)
                                  : QStringLiteral("-"),
                              12) +
                         cell(QString::number(p.cpuMsPerReport, 'f', 2), 8) +
                         cell(QString::number(p.sleepsPerReport, 'f', 1), 8) +
                         cell(QString::number(p.preemptionsPerReport, 'f', 2), 10);
        }
        lines << cell(r.backend, 11, false) +
                     QStringLiteral("sample made again alone: %1 of %2 reports differ%3")
                         .arg(r.differing)
                         .arg(r.compared)
                         .arg(r.differences.isEmpty()
                                  ? QString()
                                  : QStringLiteral(" (") + r.differences.join(QStringLiteral(", ")) + u')');
    }
    return lines;
}

QJsonObject Latency::json() const
{
    return {{QStringLiteral("level"), level},
            {QStringLiteral("reports"), reports},
            {QStringLiteral("p50_ms"), p50},
            {QStringLiteral("p95_ms"), p95},
            {QStringLiteral("max_ms"), max}};
}

const Latency* Phase::latency(const QString& level) const
{
    for (const Latency& l : latencies)
        if (l.level == level)
            return &l;
    return nullptr;
}

QJsonObject Phase::json() const
{
    QJsonArray levels;
    for (const Latency& l : latencies)
        levels.append(l.json());
    return {{QStringLiteral("phase"), name},
            {QStringLiteral("province_users"), provinceUsers},
            {QStringLiteral("cpu_burners"), burners},
            {QStringLiteral("seconds"), seconds},
            {QStringLiteral("clerk_reports"), clerkReports},
            {QStringLiteral("clerk_reports_per_second"), clerkPerSecond},
            {QStringLiteral("latency"), levels},
            {QStringLiteral("errors"), errors},
            {QStringLiteral("error_texts"), QJsonArray::fromStringList(errorTexts)},
            {QStringLiteral("clerk_cpu_ms_per_report"), cpuMsPerReport},
            {QStringLiteral("clerk_sleeps_per_report"), sleepsPerReport},
            {QStringLiteral("clerk_preemptions_per_report"), preemptionsPerReport},
            {QStringLiteral("active_samples"), activeSamples},
            {QStringLiteral("lock_wait_samples"), lockWaitSamples}};
}

QJsonObject Result::json() const
{
    QJsonArray ps;
    for (const Phase& p : phases)
        ps.append(p.json());
    return {{QStringLiteral("backend"), backend},
            {QStringLiteral("clerks"), clerks},
            {QStringLiteral("phases"), ps},
            {QStringLiteral("compared"), compared},
            {QStringLiteral("differing"), differing},
            {QStringLiteral("differences"), QJsonArray::fromStringList(differences)},
            {QStringLiteral("error"), error}};
}

} // namespace monthend

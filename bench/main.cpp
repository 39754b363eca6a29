// SPDX-License-Identifier: GPL-3.0-or-later
// allstats_bench: loads the benchmark province and times the statistics run
// against the report's original statements and the engine's floor.
//
//   allstats_bench version
//   allstats_bench load --size SIZE --db DB
//   allstats_bench measure --size SIZE --db DB [--db DB2] [--reps N]
//                  [--json FILE] [--allstats EXE] [--label TEXT]
//                  [--load-seconds S] [--clerks N]
//   allstats_bench national --db URL [--reps N] [--json FILE] [--label TEXT]
#include "analysis/pack.h"
#include "bench/benchdata.h"
#include "bench/forms.h"
#include "bench/kept.h"
#include "bench/monthend.h"
#include "bench/national.h"
#include "foundation/dbname.h"
#include "foundation/gridbuffer.h"
#include "foundation/rollup.h"
#include "foundation/safefile.h"
#include "foundation/sqlca.h"
#include "foundation/users.h"
#include "host/sqlhost.h"
#include "report/d_xmjdzl.h"
#include "report/statsrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

QTextStream& out()
{
    static QTextStream s(stdout);
    return s;
}

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

enum Exit
{
    Done = 0,
    Failed = 1,
    Usage = 2,
};

// Milliseconds of every repetition, and their summary.
struct Timing
{
    QList<double> samples;
    double median() const
    {
        if (samples.isEmpty())
            return 0;
        QList<double> s = samples;
        std::sort(s.begin(), s.end());
        const qsizetype n = s.size();
        return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
    }
    double min() const { return samples.isEmpty() ? 0 : *std::min_element(samples.begin(), samples.end()); }
    double max() const { return samples.isEmpty() ? 0 : *std::max_element(samples.begin(), samples.end()); }
    QJsonObject json() const
    {
        QJsonArray all;
        for (double v : samples)
            all.append(v);
        return {{QStringLiteral("median_ms"), median()},
                {QStringLiteral("min_ms"), min()},
                {QStringLiteral("max_ms"), max()},
                {QStringLiteral("samples_ms"), all}};
    }
};

struct Line
{
    QString backend;
    benchdata::BenchRegion region;
    long long rows = 0;
    Timing run;
    Timing literal;
    Timing floor;
    // PostgreSQL may spread the floor's SELECT over parallel workers, which it
    // never does for an INSERT ... SELECT such as the run's: the floor once
    // more with a single process shows how much of run/floor that is.
    Timing floorSerial;
    bool sameRows = false;
    double runPerFloor() const { return floor.median() > 0 ? run.median() / floor.median() : 0; }
    double runPerLiteral() const { return literal.median() > 0 ? run.median() / literal.median() : 0; }
};

struct Memory
{
    QString format;
    long maxRssKb = -1;
    int exitCode = -1;
    QString error;
    double ms = 0; // wall time of the child
};

// A pack against the same reports made one `allstats report` process each.
struct PackLine
{
    QString backend;
    QString what; // "villages of county 410101"
    QString format;
    int reports = 0;
    double packMs = 0;
    double loopMs = 0;
    long packRssKb = -1;
    int compared = 0; // JSON files compared byte for byte with the loop's
    int equal = 0;
    QString error;
    double ratio() const { return loopMs > 0 ? packMs / loopMs : 0; }
    double perSecond() const { return packMs > 0 ? reports * 1000.0 / packMs : 0; }
};

QString backendName(Backend b)
{
    return b == Backend::SQLite ? QStringLiteral("SQLite") : QStringLiteral("PostgreSQL");
}

// Times one call in milliseconds; false when the call reports a failure.
bool timed(Timing& timing, const std::function<Status()>& call, QString* error)
{
    QElapsedTimer t;
    t.start();
    const Status s = call();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    if (!s) {
        *error = s.error;
        return false;
    }
    timing.samples << ms;
    return true;
}

// One backend: every benchmark region, a warm-up of each form, then the
// repetitions with the three forms interleaved so drift hits them alike.
bool measureBackend(const QString& db, const benchdata::Size& size, int reps, QList<Line>& lines)
{
    // The scan, as before the kept per-level figures (those are measured after).
    rollup::setReadByReports(false);
    const auto readKept = qScopeGuard([] { rollup::setReadByReports(true); });
    QString error;
    auto sqlca = Sqlca::connect(db, &error);
    if (!sqlca) {
        err() << error << Qt::endl;
        return false;
    }
    const QString period = benchdata::lastPeriod(size);
    const QString scheme = benchdata::fullSchemeName();

    // The run as the report screen does it, with no host routines installed
    // (an empty hooks folder) and a province user, so nothing is refreshed.
    QTemporaryDir hooks;
    SqlHost host(*sqlca, hooks.path());
    host.gs_kjqj = period;
    host.gs_userqybm = benchdata::provinceCode();
    GridBuffer grid(d_xmjdzl());
    attachReportTidying(grid);
    grid.SetTransObject(sqlca.get());

    // Besides the four levels, a region without units: what a run costs
    // whatever the amount of data (statements, round trips, the commit).
    QList<benchdata::BenchRegion> regions = benchdata::benchRegions(size);
    regions << benchdata::BenchRegion{QStringLiteral("empty"), QStringLiteral("4100"),
                                      QStringLiteral("无单位区域")};
    for (const benchdata::BenchRegion& region : regions) {
        Line line;
        line.backend = backendName(sqlca->backend());
        line.region = region;
        const auto rows = benchforms::countRows(*sqlca, region.code, period);
        if (!rows) {
            err() << "counting rows: " << sqlca->SQLErrText << Qt::endl;
            return false;
        }
        line.rows = *rows;

        ReportRequest request;
        request.region = region.code;
        request.regionName = region.name;
        request.year = period.left(4);
        request.month = QString::number(period.mid(4).toInt());
        request.scheme = scheme;
        auto run = [&]() -> Status {
            const RunOutcome o = runStatistics(host, grid, request);
            if (o.kind != RunOutcome::Done)
                return Status::failure(QStringLiteral("run: ") + o.message);
            return Status::success();
        };
        auto literal = [&] { return benchforms::runLiteral(*sqlca, region.code, period, scheme); };
        long groups = 0;
        auto floor = [&] { return benchforms::runFloor(*sqlca, region.code, period, &groups); };
        const bool pg = sqlca->backend() == Backend::PostgreSQL;
        // The setting changes outside the timed call.
        auto floorSerial = [&](Timing& timing) {
            if (!sqlca->executeImmediate(QStringLiteral("SET max_parallel_workers_per_gather = 0"))) {
                error = sqlca->SQLErrText;
                return false;
            }
            const bool ok = timed(timing, floor, &error);
            sqlca->executeImmediate(QStringLiteral("RESET max_parallel_workers_per_gather"));
            return ok;
        };

        // Warm-up, and the check that the run and the literal form agree.
        Timing warm;
        if (!timed(warm, literal, &error))
            break;
        const auto literalRows = benchforms::workingRows(*sqlca);
        if (!timed(warm, run, &error))
            break;
        const auto runRows = benchforms::workingRows(*sqlca);
        line.sameRows = literalRows && runRows && *literalRows == *runRows;
        if (!timed(warm, floor, &error) || (pg && !floorSerial(warm)))
            break;

        for (int i = 0; i < reps && error.isEmpty(); ++i) {
            timed(line.run, run, &error) && timed(line.literal, literal, &error) &&
                timed(line.floor, floor, &error) && (!pg || floorSerial(line.floorSerial));
        }
        if (!error.isEmpty())
            break;
        lines << line;
        out() << "  " << line.backend << " " << region.level << " done" << Qt::endl;
    }
    if (!error.isEmpty()) {
        err() << backendName(sqlca->backend()) << ": " << error << Qt::endl;
        return false;
    }
    return true;
}

QString ms(const Timing& t);
QString cell(const QString& text, int width, bool right = true);

// A county's report under row-level security: the same run as the tables'
// owner (no policy applies), as a user of the county (the policy's range is
// the county's own) and as a user of the province (the policy lets every row
// of the county through), interleaved. PostgreSQL only; the users table,
// the group roles and the policy are made on the database as init-db --roles
// makes them, the two users removed again at the end.
struct SecurityLine
{
    QString region;
    long long rows = 0;
    Timing owner;
    Timing countyUser;
    Timing provinceUser;
    double ratio(const Timing& t) const { return owner.median() > 0 ? t.median() / owner.median() : 0; }
};

bool measureRowSecurity(const QString& db, const benchdata::Size& size, int reps, QList<SecurityLine>& lines)
{
    QString error;
    auto owner = Sqlca::connect(db, &error);
    if (!owner || owner->backend() != Backend::PostgreSQL)
        return true;
    if (!users::createRoles(*owner, &error)) {
        err() << "row-level security: init-db --roles: " << error << Qt::endl;
        return false;
    }
    QString county;
    for (const benchdata::BenchRegion& r : benchdata::benchRegions(size))
        if (r.level == u"county")
            county = r.code;
    const QString tag = QString::number(QCoreApplication::applicationPid());
    const QString countyRole = QStringLiteral("bench_county_") + tag;
    const QString provinceRole = QStringLiteral("bench_province_") + tag;
    const QString rights(users::kRightsLength, u'1');
    for (const auto& [role, region] :
         {std::pair{countyRole, county}, std::pair{provinceRole, benchdata::provinceCode()}}) {
        if (const Status s = users::addUser(*owner, {role, role, region, rights}, QStringLiteral("bench"));
            !s) {
            err() << "row-level security: user add " << role << ": " << s.error << Qt::endl;
            return false;
        }
    }
    const QString period = benchdata::lastPeriod(size);
    QTemporaryDir hooks;
    SecurityLine line;
    line.region = county;
    const auto rows = benchforms::countRows(*owner, county, period);
    line.rows = rows ? *rows : 0;
    bool ok = true;
    {
        auto asCounty =
            Sqlca::connect(withPassword(withUser(db, countyRole), QStringLiteral("bench")), &error);
        auto asProvince =
            asCounty
                ? Sqlca::connect(withPassword(withUser(db, provinceRole), QStringLiteral("bench")), &error)
                : nullptr;
        if (!asProvince) {
            err() << "row-level security: " << error << Qt::endl;
            ok = false;
        }
        // Each identity keeps its host and grid over the repetitions, as a
        // screen does (the grid's statement is prepared once per connection).
        struct Who
        {
            Timing* timing;
            std::unique_ptr<SqlHost> host;
            std::unique_ptr<GridBuffer> grid;
        };
        auto make = [&](Sqlca* sqlca, Timing* timing, const QString& scope, const QString& role) {
            Who w{timing, std::make_unique<SqlHost>(*sqlca, hooks.path()),
                  std::make_unique<GridBuffer>(d_xmjdzl())};
            w.host->gs_kjqj = period;
            w.host->gs_userqybm = scope.isEmpty() ? benchdata::provinceCode() : scope;
            w.host->regionScope = scope.isEmpty() ? QString() : scope;
            w.host->signedInRole = role;
            attachReportTidying(*w.grid);
            return w;
        };
        std::vector<Who> who;
        if (ok) {
            who.push_back(make(owner.get(), &line.owner, QString(), QString()));
            who.push_back(make(asCounty.get(), &line.countyUser, county, countyRole));
            who.push_back(
                make(asProvince.get(), &line.provinceUser, benchdata::provinceCode(), provinceRole));
        }
        ReportRequest request;
        request.region = county;
        request.regionName = county;
        request.year = period.left(4);
        request.month = QString::number(period.mid(4).toInt());
        request.scheme = benchdata::fullSchemeName();
        // Each repetition starts with another of the three, so none is always first after a pause.
        for (int i = -1; ok && i < reps; ++i) {
            for (std::size_t k = 0; k < who.size(); ++k) {
                Who& w = who[(k + std::size_t(std::max(i, 0))) % who.size()];
                Timing warm;
                ok = timed(
                    i < 0 ? warm : *w.timing,
                    [&]() -> Status {
                        const RunOutcome o = runStatistics(*w.host, *w.grid, request);
                        if (o.kind != RunOutcome::Done)
                            return Status::failure(QStringLiteral("run: ") + o.message);
                        return o.rows > 0 ? Status::success()
                                          : Status::failure(QStringLiteral("the run found no rows"));
                    },
                    &error);
                if (!ok) {
                    err() << "row-level security: " << error << Qt::endl;
                    break;
                }
            }
        }
    }
    for (const QString& role : {countyRole, provinceRole})
        users::removeUser(*owner, role);
    if (ok)
        lines << line;
    out() << "  PostgreSQL row-level security done" << Qt::endl;
    return ok;
}

void printSecurity(const QList<SecurityLine>& lines)
{
    if (lines.isEmpty())
        return;
    out() << Qt::endl
          << cell(QStringLiteral("row-level security, county"), 30, false) << cell(QStringLiteral("rows"), 9)
          << cell(QStringLiteral("owner ms"), 17) << cell(QStringLiteral("county user ms"), 17)
          << cell(QStringLiteral("province user ms"), 18) << cell(QStringLiteral("county/owner"), 14)
          << cell(QStringLiteral("province/owner"), 16) << Qt::endl;
    for (const SecurityLine& l : lines)
        out() << cell(QStringLiteral("PostgreSQL ") + l.region, 30, false) << cell(QString::number(l.rows), 9)
              << cell(ms(l.owner), 17) << cell(ms(l.countyUser), 17) << cell(ms(l.provinceUser), 18)
              << cell(QString::number(l.ratio(l.countyUser), 'f', 3), 14)
              << cell(QString::number(l.ratio(l.provinceUser), 'f', 3), 16) << Qt::endl;
}

// Peak resident memory of a child process (the batch report), from the
// kernel's own accounting of the child.
Memory peakMemory(const QString& program, const QStringList& args, const QString& format)
{
    Memory m;
    m.format = format;
    QList<QByteArray> argBytes;
    argBytes << program.toLocal8Bit();
    for (const QString& a : args)
        argBytes << a.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    QTemporaryDir dir;
    const QByteArray errPath = (dir.path() + QStringLiteral("/stderr")).toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    QElapsedTimer clock;
    clock.start();
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m.error = QStringLiteral("cannot start %1: %2").arg(program, QString::fromLocal8Bit(strerror(rc)));
        return m;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0) {
        m.error = QStringLiteral("wait4 failed");
        return m;
    }
    m.ms = double(clock.nsecsElapsed()) / 1e6;
    m.maxRssKb = usage.ru_maxrss;
    m.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (m.exitCode != 0) {
        QFile f(QString::fromLocal8Bit(errPath));
        if (f.open(QIODevice::ReadOnly))
            m.error = QString::fromUtf8(f.readAll()).trimmed();
        if (m.error.isEmpty())
            m.error = QStringLiteral("exit status %1").arg(status);
    }
    return m;
}

QList<Memory> measureMemory(const QString& allstats, const QString& db, const benchdata::Size& size)
{
    QList<Memory> result;
    QTemporaryDir dir;
    const QString period = benchdata::lastPeriod(size);
    for (const QString& format : {QStringLiteral("pdf"), QStringLiteral("json")}) {
        const QStringList args = {
            QStringLiteral("report"),
            QStringLiteral("--db"),
            db,
            QStringLiteral("--region"),
            benchdata::provinceCode(),
            QStringLiteral("--scheme"),
            benchdata::fullSchemeName(),
            QStringLiteral("--year"),
            period.left(4),
            QStringLiteral("--month"),
            QString::number(period.mid(4).toInt()),
            QStringLiteral("--period"),
            period,
            QStringLiteral("--user-region"),
            benchdata::provinceCode(),
            QStringLiteral("--hooks"),
            dir.path(),
            QStringLiteral("--format"),
            format,
            QStringLiteral("--out"),
            dir.filePath(QStringLiteral("report.") + format),
        };
        result << peakMemory(allstats, args, format);
    }
    return result;
}

QString cell(const QString& text, int width, bool right)
{
    return right ? text.rightJustified(width) : text.leftJustified(width);
}

// The options every child run of the pack rows takes.
QStringList childArgs(const QString& command, const QString& db, const benchdata::Size& size,
                      const QString& hooks, const QString& format)
{
    const QString period = benchdata::lastPeriod(size);
    return {command,
            QStringLiteral("--db"),
            db,
            QStringLiteral("--scheme"),
            benchdata::fullSchemeName(),
            QStringLiteral("--year"),
            period.left(4),
            QStringLiteral("--month"),
            QString::number(period.mid(4).toInt()),
            QStringLiteral("--period"),
            period,
            QStringLiteral("--user-region"),
            benchdata::provinceCode(),
            QStringLiteral("--hooks"),
            hooks,
            QStringLiteral("--format"),
            format};
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// `allstats pack` of the regions of a level under a region, once, against
// `allstats report` run once per region as a script would; for JSON every
// file of the pack is compared with the loop's.
PackLine measurePack(const QString& allstats, const QString& db, const QString& backend,
                     const benchdata::Size& size, const QString& under, const QString& level, int length,
                     const QString& format, bool loop)
{
    PackLine line;
    line.backend = backend;
    line.format = format;
    QHash<QString, QString> names;
    QList<benchdata::Region> regions;
    for (const benchdata::Region& r : benchdata::regions(size)) {
        names.insert(r.code, r.name);
        if (r.code.size() == length && r.code.startsWith(under))
            regions << r;
    }
    line.what =
        QStringLiteral("%1 of %2 %3")
            .arg(level, under.size() == 2 ? QStringLiteral("province") : QStringLiteral("county"), under);
    line.reports = int(regions.size());
    QTemporaryDir dir;
    const QString hooks = dir.filePath(QStringLiteral("hooks"));
    const QString packDir = dir.filePath(QStringLiteral("pack"));
    const QString loopDir = dir.filePath(QStringLiteral("loop"));
    QDir().mkpath(hooks);
    QDir().mkpath(packDir);
    QDir().mkpath(loopDir);

    const QString levelWord = length == 12  ? QStringLiteral("village")
                              : length == 9 ? QStringLiteral("town")
                              : length == 6 ? QStringLiteral("county")
                                            : QStringLiteral("city");
    const QStringList packArgs =
        childArgs(QStringLiteral("pack"), db, size, hooks, format) +
        QStringList{QStringLiteral("--region"), under,  QStringLiteral("--level"), levelWord,
                    QStringLiteral("--out"),    packDir};
    // Pack and loop read the same rows: the pack runs once untimed first, so
    // the timed pack finds the database's caches as warm as the loop after it.
    if (loop) {
        if (const Memory warm = peakMemory(allstats, packArgs, format); !warm.error.isEmpty()) {
            line.error = warm.error;
            return line;
        }
    }
    const Memory packed = peakMemory(allstats, packArgs, format);
    if (!packed.error.isEmpty()) {
        line.error = packed.error;
        return line;
    }
    line.packMs = packed.ms;
    line.packRssKb = packed.maxRssKb;
    if (!loop)
        return line;

    const QString period = benchdata::lastPeriod(size);
    QElapsedTimer clock;
    clock.start();
    for (const benchdata::Region& r : regions) {
        const QString file = packFileName(r.code, r.name, period, format);
        const Memory one = peakMemory(allstats,
                                      childArgs(QStringLiteral("report"), db, size, hooks, format) +
                                          QStringList{QStringLiteral("--region"), r.code,
                                                      QStringLiteral("--out"), QDir(loopDir).filePath(file)},
                                      format);
        if (!one.error.isEmpty()) {
            line.error = one.error;
            return line;
        }
    }
    line.loopMs = double(clock.nsecsElapsed()) / 1e6;
    if (format == u"json") {
        for (const benchdata::Region& r : regions) {
            const QString file = packFileName(r.code, r.name, period, format);
            ++line.compared;
            const QByteArray a = fileBytes(QDir(packDir).filePath(file));
            if (!a.isEmpty() && a == fileBytes(QDir(loopDir).filePath(file)))
                ++line.equal;
        }
    }
    return line;
}

QList<PackLine> measurePacks(const QString& allstats, const QStringList& dbs, const benchdata::Size& size)
{
    QList<PackLine> lines;
    const QList<benchdata::BenchRegion> bench = benchdata::benchRegions(size);
    QString county;
    for (const benchdata::BenchRegion& r : bench)
        if (r.level == u"county")
            county = r.code;
    for (const QString& db : dbs) {
        const QString backend =
            backendName(db.startsWith(QStringLiteral("postgres")) ? Backend::PostgreSQL : Backend::SQLite);
        for (const QString& format : {QStringLiteral("json"), QStringLiteral("pdf")}) {
            out() << "pack: " << backend << " " << format << " ..." << Qt::endl;
            lines << measurePack(allstats, db, backend, size, county, QStringLiteral("villages"), 12, format,
                                 true);
            lines << measurePack(allstats, db, backend, size, benchdata::provinceCode(),
                                 QStringLiteral("counties"), 6, format, true);
        }
    }
    // The whole province at village level, once, for the memory and the rate.
    for (const QString& format : {QStringLiteral("json"), QStringLiteral("pdf")}) {
        out() << "pack: the province's villages, " << format << " ..." << Qt::endl;
        lines << measurePack(allstats, dbs.first(),
                             backendName(dbs.first().startsWith(QStringLiteral("postgres"))
                                             ? Backend::PostgreSQL
                                             : Backend::SQLite),
                             size, benchdata::provinceCode(), QStringLiteral("villages"), 12, format, false);
    }
    return lines;
}

void printPacks(const QList<PackLine>& lines)
{
    out() << Qt::endl
          << cell(QStringLiteral("backend"), 11, false) << cell(QStringLiteral("pack"), 30, false)
          << cell(QStringLiteral("format"), 7, false) << cell(QStringLiteral("reports"), 8)
          << cell(QStringLiteral("pack s"), 9) << cell(QStringLiteral("loop s"), 9)
          << cell(QStringLiteral("pack/loop"), 10) << cell(QStringLiteral("reports/s"), 10)
          << cell(QStringLiteral("peak MB"), 9) << cell(QStringLiteral("same JSON"), 11) << Qt::endl;
    for (const PackLine& l : lines) {
        out() << cell(l.backend, 11, false) << cell(l.what, 30, false) << cell(l.format, 7, false)
              << cell(QString::number(l.reports), 8);
        if (!l.error.isEmpty()) {
            out() << "  failed: " << l.error << Qt::endl;
            continue;
        }
        out() << cell(QString::number(l.packMs / 1000, 'f', 2), 9)
              << cell(l.loopMs > 0 ? QString::number(l.loopMs / 1000, 'f', 2) : QStringLiteral("-"), 9)
              << cell(l.loopMs > 0 ? QString::number(l.ratio(), 'f', 3) : QStringLiteral("-"), 10)
              << cell(QString::number(l.perSecond(), 'f', 1), 10)
              << cell(QString::number(double(l.packRssKb) / 1024.0, 'f', 1), 9)
              << cell(l.compared ? QStringLiteral("%1/%2").arg(l.equal).arg(l.compared) : QStringLiteral("-"),
                      11)
              << Qt::endl;
    }
}

QString ms(const Timing& t)
{
    // median, and half the range as the spread
    return QStringLiteral("%1 ±%2")
        .arg(t.median(), 0, 'f', t.median() < 10 ? 2 : 1)
        .arg((t.max() - t.min()) / 2, 0, 'f', t.median() < 10 ? 2 : 1);
}

void printTable(const QList<Line>& lines)
{
    out() << Qt::endl
          << cell(QStringLiteral("backend"), 11, false) << cell(QStringLiteral("region"), 24, false)
          << cell(QStringLiteral("rows"), 9) << cell(QStringLiteral("run ms"), 17)
          << cell(QStringLiteral("literal ms"), 17) << cell(QStringLiteral("floor ms"), 17)
          << cell(QStringLiteral("1-worker floor"), 16) << cell(QStringLiteral("run/floor"), 10)
          << cell(QStringLiteral("run/literal"), 12) << cell(QStringLiteral("same rows"), 10) << Qt::endl;
    for (const Line& l : lines) {
        out() << cell(l.backend, 11, false) << cell(l.region.level + u' ' + l.region.code, 24, false)
              << cell(QString::number(l.rows), 9) << cell(ms(l.run), 17) << cell(ms(l.literal), 17)
              << cell(ms(l.floor), 17)
              << cell(l.floorSerial.samples.isEmpty() ? QStringLiteral("-") : ms(l.floorSerial), 16)
              << cell(l.rows ? QString::number(l.runPerFloor(), 'f', 2) : QStringLiteral("-"), 10)
              << cell(l.rows ? QString::number(l.runPerLiteral(), 'f', 3) : QStringLiteral("-"), 12)
              << cell(l.sameRows ? QStringLiteral("yes") : QStringLiteral("NO"), 10) << Qt::endl;
    }
}

struct Target
{
    QString what;
    double value;
    double limit;
    QString unit;
    bool atLeast = false; // the limit is a floor, not a ceiling
    bool met() const { return atLeast ? value >= limit : value <= limit; }
};

// Month end: beside province reports, the clerks wait no longer and make no
// fewer reports than a little more than sharing the machine costs.
void loadTargets(const QList<monthend::Result>& results, QList<Target>& t)
{
    for (const monthend::Result& r : results) {
        if (!r.error.isEmpty() || r.phases.isEmpty())
            continue;
        const monthend::Phase& alone = r.phases.first();
        const monthend::Latency* aloneAll = alone.latency(QStringLiteral("all"));
        int errors = 0;
        for (const monthend::Phase& p : r.phases) {
            errors += p.errors;
            if (p.provinceUsers == 0)
                continue;
            const QString who = QStringLiteral("%1 clerks beside %2").arg(r.backend, p.name);
            const monthend::Latency* all = p.latency(QStringLiteral("all"));
            if (aloneAll && all && aloneAll->p95 > 0)
                t << Target{who + QStringLiteral(": p95 / alone"), all->p95 / aloneAll->p95, 1.5, QString()};
            if (alone.clerkPerSecond > 0)
                t << Target{who + QStringLiteral(": reports per second / alone"),
                            p.clerkPerSecond / alone.clerkPerSecond, 0.7, QString(), true};
        }
        t << Target{r.backend + QStringLiteral(" month end: failed reports"), double(errors), 0, QString()};
        t << Target{r.backend +
                        QStringLiteral(" month end: sampled reports differing from the same made alone"),
                    double(r.differing), 0, QString()};
    }
}

QList<Target> targets(const QList<Line>& lines, const QList<Memory>& memory, const QList<PackLine>& packs,
                      const QList<SecurityLine>& security)
{
    QList<Target> t;
    for (const SecurityLine& l : security) {
        t << Target{
            QStringLiteral("PostgreSQL county report of a county user / of the owner (row-level security)"),
            l.ratio(l.countyUser), 1.2, QString()};
        t << Target{
            QStringLiteral("PostgreSQL county report of a province user / of the owner (row-level security)"),
            l.ratio(l.provinceUser), 1.2, QString()};
    }
    for (const PackLine& p : packs) {
        if (!p.error.isEmpty())
            continue;
        const QString who = QStringLiteral("%1 pack of the %2 (%3)").arg(p.backend, p.what, p.format);
        if (p.loopMs > 0)
            t << Target{who + QStringLiteral(" pack/loop"), p.ratio(), p.format == u"json" ? 0.2 : 0.7,
                        QString()};
        else if (p.what.startsWith(QStringLiteral("villages of province")))
            t << Target{who + QStringLiteral(" peak memory"), double(p.packRssKb) / 1024.0, 200,
                        QStringLiteral(" MB")};
        if (p.compared > 0)
            t << Target{who + QStringLiteral(" JSON files differing from the single reports"),
                        double(p.compared - p.equal), 0, QString()};
    }
    for (const Line& l : lines) {
        const QString who = l.backend + u' ' + l.region.level;
        if (l.region.level == u"province" || l.region.level == u"county")
            t << Target{who + QStringLiteral(" run/floor"), l.runPerFloor(), 1.5, QString()};
        if (l.region.level == u"province")
            t << Target{who + QStringLiteral(" run/literal"), l.runPerLiteral(), 0.3, QString()};
        if (l.region.level == u"village")
            t << Target{who + QStringLiteral(" run/literal"), l.runPerLiteral(), 0.05, QString()};
        if (l.region.level == u"village" && l.backend == u"SQLite")
            t << Target{who + QStringLiteral(" run"), l.run.median(), 10, QStringLiteral(" ms")};
    }
    for (const Memory& m : memory)
        if (m.error.isEmpty())
            t << Target{QStringLiteral("peak memory of allstats report --format %1 (province)").arg(m.format),
                        double(m.maxRssKb) / 1024.0, 150, QStringLiteral(" MB")};
    return t;
}

int measure(const QStringList& args)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("size"), QStringLiteral("Data set size."), QStringLiteral("SIZE")});
    parser.addOption(
        {QStringLiteral("db"), QStringLiteral("A loaded database (repeatable)."), QStringLiteral("DB")});
    parser.addOption({QStringLiteral("reps"), QStringLiteral("Repetitions (default 5)."), QStringLiteral("N"),
                      QStringLiteral("5")});
    parser.addOption(
        {QStringLiteral("json"), QStringLiteral("Write the results here."), QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("allstats"),
                      QStringLiteral("The allstats executable, for the peak memory "
                                     "of its batch report on the first database."),
                      QStringLiteral("EXE")});
    parser.addOption({QStringLiteral("label"), QStringLiteral("Recorded in the JSON (e.g. the commit)."),
                      QStringLiteral("TEXT")});
    parser.addOption({QStringLiteral("load-seconds"),
                      QStringLiteral("Seconds per phase of the month-end load (default 0: none)."),
                      QStringLiteral("S"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("clerks"), QStringLiteral("Clerks of the month-end load (default 4)."),
                      QStringLiteral("N"), QStringLiteral("4")});
    parser.addOption(
        {QStringLiteral("only-kept"),
         QStringLiteral("Only the kept per-level figures against the scan (and the first table).")});
    QStringList rest = args;
    rest.removeAt(1);
    if (!parser.parse(rest)) {
        err() << parser.errorText() << Qt::endl;
        return Usage;
    }
    const auto size = benchdata::sizeByName(parser.value(QStringLiteral("size")));
    const QStringList dbs = parser.values(QStringLiteral("db"));
    const int reps = parser.value(QStringLiteral("reps")).toInt();
    const double loadSeconds = parser.value(QStringLiteral("load-seconds")).toDouble();
    const int clerks = parser.value(QStringLiteral("clerks")).toInt();
    if (!size || dbs.isEmpty() || reps < 1 || loadSeconds < 0 || clerks < 1) {
        err() << "measure: --size (" << benchdata::sizeNames().join(u'|')
              << "), --db and --reps >= 1 are needed" << Qt::endl;
        return Usage;
    }
    if (benchdata::isNational(*size)) {
        err() << "measure: the national size is PostgreSQL only and has its own command: allstats_bench "
                 "national --db URL"
              << Qt::endl;
        return Usage;
    }

    out() << "statistics run benchmark: size " << size->name << ", " << size->villages() << " villages x "
          << benchdata::IndicatorCount << " indicators x " << size->months
          << " months = " << size->figureRows() << " H_stat rows; period " << benchdata::lastPeriod(*size)
          << "; " << reps << " repetitions" << Qt::endl;
    QList<Line> lines;
    for (const QString& db : dbs)
        if (!measureBackend(db, *size, reps, lines))
            return Failed;
    // The kept per-level figures against the scan. It changes one village's
    // figure and loads the last month again (the same rows).
    QList<kept::Result> keptResults;
    for (const QString& db : dbs) {
        out() << "kept per-level figures ..." << Qt::endl;
        keptResults << kept::measure(db, *size, reps);
        if (!keptResults.last().error.isEmpty()) {
            err() << "kept figures: " << keptResults.last().error << Qt::endl;
            return Failed;
        }
    }
    const bool onlyKept = parser.isSet(QStringLiteral("only-kept"));

    QList<Memory> memory;
    QList<PackLine> packs;
    if (parser.isSet(QStringLiteral("allstats")) && !onlyKept) {
        memory = measureMemory(parser.value(QStringLiteral("allstats")), dbs.first(), *size);
        packs = measurePacks(parser.value(QStringLiteral("allstats")), dbs, *size);
    }
    // Last: it sets up the users of the database (the owner's runs above see no policy either way).
    QList<SecurityLine> security;
    for (const QString& db : dbs)
        if (!onlyKept && !measureRowSecurity(db, *size, reps, security))
            return Failed;

    // Last: a child started after this process has grown (the clerks' page
    // caches) inherits its peak as its own starting peak memory.
    QList<monthend::Result> monthEnd;
    if (loadSeconds > 0 && !onlyKept) {
        for (const QString& db : dbs) {
            out() << "month end: " << clerks << " clerks, " << loadSeconds << " s a phase ..." << Qt::endl;
            monthEnd << monthend::measure(db, *size, clerks, loadSeconds);
        }
    }

    printTable(lines);
    out() << Qt::endl
          << "kept per-level figures against the scan (reports of the last period, medians of " << reps
          << "):" << Qt::endl;
    for (const kept::Result& k : keptResults)
        for (const QString& line : k.table)
            out() << line << Qt::endl;
    printPacks(packs);
    printSecurity(security);
    if (!monthEnd.isEmpty()) {
        out() << Qt::endl
              << "month end: " << clerks << " clerks making village, town and county reports (70/20/10) for "
              << loadSeconds << " s, alone and beside province reports; latencies of the clerks' reports"
              << Qt::endl;
        for (const QString& line : monthend::table(monthEnd))
            out() << line << Qt::endl;
    }
    out() << Qt::endl;
    for (const Memory& m : memory) {
        if (m.error.isEmpty())
            out() << "peak memory, allstats report --format " << m.format
                  << " on the province: " << QString::number(double(m.maxRssKb) / 1024.0, 'f', 1) << " MB"
                  << Qt::endl;
        else
            out() << "peak memory, allstats report --format " << m.format << ": not measured (" << m.error
                  << ")" << Qt::endl;
    }
    QList<Target> ts = targets(lines, memory, packs, security);
    loadTargets(monthEnd, ts);
    out() << Qt::endl << "targets:" << Qt::endl;
    for (const Target& t : ts)
        out() << "  " << (t.met() ? "met     " : "MISSED  ") << t.what << ": "
              << QString::number(t.value, 'f', 3) << t.unit << " (limit " << (t.atLeast ? "at least " : "")
              << t.limit << t.unit << ")" << Qt::endl;
    for (const kept::Result& k : keptResults)
        for (const QString& line : k.targets)
            out() << "  " << line << Qt::endl;
    bool allSame = true;
    for (const Line& l : lines)
        allSame = allSame && l.sameRows;
    if (!allSame)
        out() << "FAILED: the run and the literal form left different rows in t_stat" << Qt::endl;
    // A pack writes what `allstats report` writes for each region, byte for byte:
    // a pack that differs, or could not be made, fails the benchmark.
    bool packsSame = true;
    for (const PackLine& p : packs) {
        if (!p.error.isEmpty()) {
            out() << "FAILED: the " << p.backend << " " << p.format << " pack of the " << p.what
                  << " could not be made: " << p.error << Qt::endl;
            packsSame = false;
        } else if (p.compared != p.equal) {
            out() << "FAILED: " << p.compared - p.equal << " of " << p.compared << " JSON files of the "
                  << p.backend << " pack of the " << p.what << " differ from the single reports" << Qt::endl;
            packsSame = false;
        }
    }
    // Kept figures give what the scan gives, everywhere compared.
    for (const kept::Result& k : keptResults) {
        if (k.differing > 0) {
            out() << "FAILED: " << k.differing << " of " << k.compared << " " << k.backend
                  << " reports from kept figures differ from the scan" << Qt::endl;
            packsSame = false;
        }
    }
    // Reports made under load give the figures the same reports give alone.
    for (const monthend::Result& r : monthEnd) {
        if (r.differing > 0) {
            out() << "FAILED: " << r.differing << " of " << r.compared << " " << r.backend
                  << " month-end reports differ from the same made alone" << Qt::endl;
            packsSame = false;
        }
    }

    if (parser.isSet(QStringLiteral("json"))) {
        QJsonArray results;
        for (const Line& l : lines)
            results.append(QJsonObject{{QStringLiteral("backend"), l.backend},
                                       {QStringLiteral("level"), l.region.level},
                                       {QStringLiteral("region"), l.region.code},
                                       {QStringLiteral("rows"), double(l.rows)},
                                       {QStringLiteral("run"), l.run.json()},
                                       {QStringLiteral("literal"), l.literal.json()},
                                       {QStringLiteral("floor"), l.floor.json()},
                                       {QStringLiteral("floor_one_worker"), l.floorSerial.json()},
                                       {QStringLiteral("run_per_floor"), l.runPerFloor()},
                                       {QStringLiteral("run_per_literal"), l.runPerLiteral()},
                                       {QStringLiteral("same_rows"), l.sameRows}});
        QJsonArray mem;
        for (const Memory& m : memory)
            mem.append(QJsonObject{{QStringLiteral("format"), m.format},
                                   {QStringLiteral("max_rss_kb"), double(m.maxRssKb)},
                                   {QStringLiteral("exit_code"), m.exitCode},
                                   {QStringLiteral("error"), m.error}});
        QJsonArray pj;
        for (const PackLine& p : packs)
            pj.append(QJsonObject{{QStringLiteral("backend"), p.backend},
                                  {QStringLiteral("pack"), p.what},
                                  {QStringLiteral("format"), p.format},
                                  {QStringLiteral("reports"), p.reports},
                                  {QStringLiteral("pack_ms"), p.packMs},
                                  {QStringLiteral("loop_ms"), p.loopMs},
                                  {QStringLiteral("pack_per_loop"), p.ratio()},
                                  {QStringLiteral("reports_per_second"), p.perSecond()},
                                  {QStringLiteral("pack_max_rss_kb"), double(p.packRssKb)},
                                  {QStringLiteral("json_compared"), p.compared},
                                  {QStringLiteral("json_equal"), p.equal},
                                  {QStringLiteral("error"), p.error}});
        QJsonArray sj;
        for (const SecurityLine& l : security)
            sj.append(QJsonObject{{QStringLiteral("region"), l.region},
                                  {QStringLiteral("rows"), double(l.rows)},
                                  {QStringLiteral("owner"), l.owner.json()},
                                  {QStringLiteral("county_user"), l.countyUser.json()},
                                  {QStringLiteral("province_user"), l.provinceUser.json()},
                                  {QStringLiteral("county_user_per_owner"), l.ratio(l.countyUser)},
                                  {QStringLiteral("province_user_per_owner"), l.ratio(l.provinceUser)}});
        QJsonArray lj;
        for (const monthend::Result& r : monthEnd)
            lj.append(r.json());
        QJsonArray kj;
        for (const kept::Result& k : keptResults)
            kj.append(k.json);
        QJsonArray tj;
        for (const Target& t : ts)
            tj.append(QJsonObject{{QStringLiteral("target"), t.what},
                                  {QStringLiteral("value"), t.value},
                                  {QStringLiteral("limit"), t.limit},
                                  {QStringLiteral("met"), t.met()}});
        const QJsonObject doc{
            {QStringLiteral("label"), parser.value(QStringLiteral("label"))},
            {QStringLiteral("date"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
            {QStringLiteral("size"), size->name},
            {QStringLiteral("generator_version"), benchdata::GeneratorVersion},
            {QStringLiteral("h_stat_rows"), double(size->figureRows())},
            {QStringLiteral("period"), benchdata::lastPeriod(*size)},
            {QStringLiteral("repetitions"), reps},
            {QStringLiteral("cpus"), QThread::idealThreadCount()},
            {QStringLiteral("results"), results},
            {QStringLiteral("peak_memory"), mem},
            {QStringLiteral("packs"), pj},
            {QStringLiteral("row_level_security"), sj},
            {QStringLiteral("month_end"), lj},
            {QStringLiteral("kept_figures"), kj},
            {QStringLiteral("load_seconds"), loadSeconds},
            {QStringLiteral("targets"), tj},
        };
        const QString json = parser.value(QStringLiteral("json"));
        QString error;
        if (!writeFileWhole(json, QJsonDocument(doc).toJson(), &error)) {
            err() << error << Qt::endl;
            return Failed;
        }
        out() << Qt::endl << "results written to " << json << Qt::endl;
    }
    return allSame && packsSame ? Done : Failed;
}

int load(const QStringList& args)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("size"), QStringLiteral("Data set size."), QStringLiteral("SIZE")});
    parser.addOption({QStringLiteral("db"), QStringLiteral("A database whose tables exist and are empty."),
                      QStringLiteral("DB")});
    QStringList rest = args;
    rest.removeAt(1);
    if (!parser.parse(rest)) {
        err() << parser.errorText() << Qt::endl;
        return Usage;
    }
    const auto size = benchdata::sizeByName(parser.value(QStringLiteral("size")));
    if (!size || !parser.isSet(QStringLiteral("db"))) {
        err() << "load: --size (" << benchdata::sizeNames().join(u'|') << ") and --db are needed" << Qt::endl;
        return Usage;
    }
    if (benchdata::isNational(*size)) {
        err() << "load: the national size is PostgreSQL only and loads in its own command: allstats_bench "
                 "national --db URL"
              << Qt::endl;
        return Usage;
    }
    QElapsedTimer t;
    t.start();
    const Status s = benchdata::load(parser.value(QStringLiteral("db")), *size);
    if (!s) {
        err() << "load: " << s.error << Qt::endl;
        return Failed;
    }
    out() << "loaded " << size->figureRows() << " H_stat rows in "
          << QString::number(t.elapsed() / 1000.0, 'f', 1) << " s" << Qt::endl;
    return Done;
}

// The national size on PostgreSQL, into a database `allstats init-db --partitioned` made.
int nationalSize(const QStringList& args)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("db"),
                      QStringLiteral("A PostgreSQL database, made by init-db --partitioned."),
                      QStringLiteral("URL")});
    parser.addOption({QStringLiteral("reps"), QStringLiteral("Repetitions (default 5)."), QStringLiteral("N"),
                      QStringLiteral("5")});
    parser.addOption(
        {QStringLiteral("json"), QStringLiteral("Write the results here."), QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("label"), QStringLiteral("Recorded in the JSON (e.g. the commit)."),
                      QStringLiteral("TEXT")});
    QStringList rest = args;
    rest.removeAt(1);
    if (!parser.parse(rest)) {
        err() << parser.errorText() << Qt::endl;
        return Usage;
    }
    const int reps = parser.value(QStringLiteral("reps")).toInt();
    if (!parser.isSet(QStringLiteral("db")) || reps < 1) {
        err() << "national: --db URL and --reps >= 1 are needed" << Qt::endl;
        return Usage;
    }
    QString error;
    const auto name = parseDatabaseName(parser.value(QStringLiteral("db")), &error);
    if (!name || !name->isPostgres()) {
        err() << "national: the national size is PostgreSQL only; --db takes a PostgreSQL URL" << Qt::endl;
        return Usage;
    }
    out() << "national size benchmark (PostgreSQL); " << reps << " repetitions" << Qt::endl;
    QElapsedTimer t;
    t.start();
    const national::Result r = national::measure(parser.value(QStringLiteral("db")), reps);
    if (!r.error.isEmpty()) {
        err() << "national: " << r.error << Qt::endl;
        return Failed;
    }
    out() << Qt::endl;
    for (const QString& line : r.table)
        out() << line << Qt::endl;
    out() << Qt::endl << "targets:" << Qt::endl;
    for (const QString& line : r.targets)
        out() << "  " << line << Qt::endl;
    out() << "(" << QString::number(t.elapsed() / 1000.0, 'f', 0) << " s in all)" << Qt::endl;
    if (parser.isSet(QStringLiteral("json"))) {
        const QJsonObject doc{
            {QStringLiteral("label"), parser.value(QStringLiteral("label"))},
            {QStringLiteral("date"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
            {QStringLiteral("size"), QStringLiteral("national")},
            {QStringLiteral("generator_version"), benchdata::GeneratorVersion},
            {QStringLiteral("repetitions"), reps},
            {QStringLiteral("cpus"), QThread::idealThreadCount()},
            {QStringLiteral("national"), r.json},
        };
        const QString json = parser.value(QStringLiteral("json"));
        if (!writeFileWhole(json, QJsonDocument(doc).toJson(), &error)) {
            err() << error << Qt::endl;
            return Failed;
        }
        out() << Qt::endl << "results written to " << json << Qt::endl;
    }
    if (r.differing > 0) {
        out() << "FAILED: " << r.differing << " of " << r.compared
              << " national reports from kept figures differ from the scan" << Qt::endl;
        return Failed;
    }
    return Done;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString command = args.value(1);
    if (command == u"version") {
        out() << benchdata::GeneratorVersion << Qt::endl;
        return Done;
    }
    if (command == u"load")
        return load(args);
    if (command == u"measure")
        return measure(args);
    if (command == u"national")
        return nationalSize(args);
    err()
        << "usage: allstats_bench version | load --size SIZE --db DB | measure --size SIZE --db DB [--db DB] "
           "[--reps N] [--json FILE] [--allstats EXE] [--label TEXT] [--load-seconds S] [--clerks N] | "
           "national "
           "--db URL [--reps N] [--json FILE] [--label TEXT]"
        << Qt::endl;
    return Usage;
}

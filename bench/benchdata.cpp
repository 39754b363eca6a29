// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/benchdata.h"

#include "foundation/sqlca.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QUrl>
#include <QUrlQuery>
#include <sqlite3.h>

namespace benchdata {

namespace {

// splitmix64: a cheap, well-mixed hash, so every figure depends only on its
// unit, period and indicator and not on the order rows are produced in.
std::uint64_t mix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

const QStringList& typeNames()
{
    static const QStringList names = {
        QStringLiteral("资金规模"), QStringLiteral("借款发放"), QStringLiteral("还款回收"),
        QStringLiteral("逾期情况"), QStringLiteral("会员结构"), QStringLiteral("收益分配"),
        QStringLiteral("风险准备"), QStringLiteral("项目进度"),
    };
    return names;
}

QString twoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

QString threeDigits(int n)
{
    return QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0'));
}

QStringList villageCodes(const Size& size)
{
    QStringList codes;
    codes.reserve(size.villages());
    for (const QString& province : provinceCodes(size))
        for (int c = 1; c <= size.cities; ++c)
            for (int k = 1; k <= size.countiesPerCity; ++k)
                for (int t = 1; t <= size.townsPerCounty; ++t)
                    for (int v = 1; v <= size.villagesPerTown; ++v)
                        codes << province + twoDigits(c) + twoDigits(k) + threeDigits(t) + threeDigits(v);
    return codes;
}

// The figures of one unit, period and indicator, in hundredths. Ratios lie
// between 0 and 1; amounts up to a million, of the summed ones one in twenty
// all zero (the report blanks those; a zero in every region would leave the
// minima blank too).
void figuresOf(int unit, int period, int indicator, const Indicator& kind, std::int64_t& q, std::int64_t& f,
               std::int64_t& l)
{
    const std::uint64_t h =
        mix((std::uint64_t(unit) << 32) | (std::uint64_t(period) << 12) | std::uint64_t(indicator));
    if (kind.flag2 == 1) {
        q = std::int64_t(h % 101);
        f = std::int64_t((h >> 8) % 101);
        l = std::int64_t((h >> 16) % 101);
        return;
    }
    if (kind.flag1 == 1 && (h >> 50) % 20 == 0) {
        q = f = l = 0;
        return;
    }
    q = std::int64_t(h % 100000000);
    f = std::int64_t((h >> 27) % 5000000);
    l = q + f;
}

Status dbError(Sqlca& sqlca, const QString& what)
{
    return Status::failure(QStringLiteral("%1: %2").arg(what, sqlca.SQLErrText));
}

} // namespace

std::int64_t Size::figureRows() const
{
    return std::int64_t(villages()) * IndicatorCount * months;
}

std::optional<Size> sizeByName(const QString& name)
{
    // Cities, counties per city, towns per county, villages per town, months.
    // tiny keeps every region's village count odd (3, 9, 27), so no exact
    // average lies on a half cent and every backend must agree to the cent.
    if (name == u"tiny")
        return Size{name, 3, 1, 3, 3, 2};
    if (name == u"small")
        return Size{name, 2, 2, 5, 10, 6};
    if (name == u"medium")
        return Size{name, 5, 2, 5, 20, 12};
    if (name == u"full")
        return Size{name, 5, 5, 10, 20, 24};
    if (name == u"national")
        return Size{name, 10, 10, 20, 10, 2, 30};
    return std::nullopt;
}

QStringList sizeNames()
{
    return {QStringLiteral("tiny"), QStringLiteral("small"), QStringLiteral("medium"),
            QStringLiteral("full")};
}

const QString& provinceCode()
{
    static const QString code = QStringLiteral("41");
    return code;
}

QStringList provinceCodes(const Size& size)
{
    if (!isNational(size))
        return {provinceCode()};
    // Thirty codes of two digits, as a country numbers its provinces.
    static const QStringList codes = {
        QStringLiteral("11"), QStringLiteral("12"), QStringLiteral("13"), QStringLiteral("14"),
        QStringLiteral("15"), QStringLiteral("21"), QStringLiteral("22"), QStringLiteral("23"),
        QStringLiteral("31"), QStringLiteral("32"), QStringLiteral("33"), QStringLiteral("34"),
        QStringLiteral("35"), QStringLiteral("36"), QStringLiteral("37"), QStringLiteral("41"),
        QStringLiteral("42"), QStringLiteral("43"), QStringLiteral("44"), QStringLiteral("45"),
        QStringLiteral("46"), QStringLiteral("50"), QStringLiteral("51"), QStringLiteral("52"),
        QStringLiteral("53"), QStringLiteral("54"), QStringLiteral("61"), QStringLiteral("62"),
        QStringLiteral("63"), QStringLiteral("64"),
    };
    return codes.mid(0, size.provinces);
}

QString fullSchemeName()
{
    return QStringLiteral("全省汇总方案");
}

QStringList periods(const Size& size)
{
    QStringList out;
    int year = 2023;
    int month = 1;
    for (int i = 0; i < size.months; ++i) {
        out << QString::number(year) + twoDigits(month);
        if (++month > 12) {
            month = 1;
            ++year;
        }
    }
    return out;
}

QString lastPeriod(const Size& size)
{
    return periods(size).constLast();
}

QList<Indicator> indicators()
{
    QList<Indicator> out;
    for (int i = 0; i < IndicatorCount; ++i) {
        Indicator ind;
        ind.code = QStringLiteral("%1").arg(i + 1, 4, 10, QLatin1Char('0'));
        ind.type = typeNames().at((i / 10) % typeNames().size());
        // Per ten indicators: six sums, one average (a ratio), one maximum,
        // one minimum and one row of zeros.
        switch (i % 10) {
        case 6:
            ind.flag1 = 2;
            ind.flag2 = 1;
            break;
        case 7:
            ind.flag1 = 3;
            break;
        case 8:
            ind.flag1 = 4;
            break;
        case 9:
            ind.flag1 = 0;
            break;
        default:
            ind.flag1 = 1;
        }
        ind.name = QStringLiteral("%1指标%2").arg(ind.type).arg(i % 10 + 1);
        out << ind;
    }
    return out;
}

QList<Region> regions(const Size& size)
{
    QList<Region> out;
    const QStringList provinces = provinceCodes(size);
    for (const QString& province : provinces) {
        out << Region{province,
                      isNational(size) ? QStringLiteral("第%1省").arg(province) : QStringLiteral("示范省")};
        for (int c = 1; c <= size.cities; ++c) {
            const QString city = province + twoDigits(c);
            out << Region{city, QStringLiteral("第%1市").arg(c)};
            for (int k = 1; k <= size.countiesPerCity; ++k) {
                const QString county = city + twoDigits(k);
                out << Region{county, QStringLiteral("第%1市第%2县").arg(c).arg(k)};
                for (int t = 1; t <= size.townsPerCounty; ++t) {
                    const QString town = county + threeDigits(t);
                    out << Region{town, QStringLiteral("第%1县第%2乡").arg(k).arg(t)};
                    for (int v = 1; v <= size.villagesPerTown; ++v)
                        out << Region{town + threeDigits(v), QStringLiteral("第%1乡第%2村").arg(t).arg(v)};
                }
            }
        }
    }
    return out;
}

QList<BenchRegion> benchRegions(const Size& size)
{
    const QString village = villageCodes(size).constFirst();
    QHash<QString, QString> names;
    for (const Region& r : regions(size))
        names.insert(r.code, r.name);
    QList<BenchRegion> out;
    for (const auto& [level, length] :
         {std::pair{QStringLiteral("village"), 12}, std::pair{QStringLiteral("town"), 9},
          std::pair{QStringLiteral("county"), 6}, std::pair{QStringLiteral("province"), 2}}) {
        const QString code = village.left(length);
        out << BenchRegion{level, code, names.value(code)};
    }
    return out;
}

void forEachFigure(const Size& size, const std::function<void(const Figure&)>& visit, int period)
{
    const QStringList units = villageCodes(size);
    const QStringList ps = periods(size);
    const QList<Indicator> inds = indicators();
    Figure f{};
    for (int p = 0; p < ps.size(); ++p) {
        if (period >= 0 && p != period)
            continue;
        f.period = &ps[p];
        for (int u = 0; u < units.size(); ++u) {
            f.unit = &units[u];
            for (int i = 0; i < inds.size(); ++i) {
                f.indicator = &inds[i].code;
                figuresOf(u, p, i, inds[i], f.qichu, f.fasheng, f.leiji);
                visit(f);
            }
        }
    }
}

QString centsText(std::int64_t cents)
{
    const bool negative = cents < 0;
    const std::uint64_t a = negative ? std::uint64_t(-cents) : std::uint64_t(cents);
    return QStringLiteral("%1%2.%3")
        .arg(negative ? QStringLiteral("-") : QString())
        .arg(a / 100)
        .arg(int(a % 100), 2, 10, QLatin1Char('0'));
}

Status fillCatalogue(Sqlca& sqlca, const Size& size, bool withRegions)
{
    TransactionGuard tx(sqlca);
    if (!tx.active())
        return dbError(sqlca, QStringLiteral("begin"));
    for (const Region& r : withRegions ? regions(size) : QList<Region>{})
        if (!sqlca.execute(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES (?, ?)"), {r.code, r.name}))
            return dbError(sqlca, QStringLiteral("s_qybm"));

    const QList<Indicator> inds = indicators();
    for (const Indicator& ind : inds) {
        if (!sqlca.execute(QStringLiteral("INSERT INTO s_zbbm (number, zblx, zbmc, zbms, flag1, flag2) "
                                          "VALUES (?, ?, ?, ?, ?, ?)"),
                           {ind.code, ind.type, ind.name, ind.name + QStringLiteral("（按月统计）"),
                            ind.flag1, ind.flag2}))
            return dbError(sqlca, QStringLiteral("s_zbbm"));
    }
    // Scheme 1 lists everything, a few indicators switched off; scheme 2 (the
    // default) the first twenty in reverse order, so trimming and ordering
    // must look at the chosen scheme only.
    const QString insertScheme =
        QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, zbms, "
                       "deffa, xz, flag2) VALUES (1, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (int i = 0; i < inds.size(); ++i) {
        const Indicator& ind = inds[i];
        if (!sqlca.execute(insertScheme, {1, fullSchemeName(), (i + 1) * 10, ind.code, ind.type, ind.name,
                                          ind.name, 0, i % 20 == 13 || i % 40 == 39 ? 0 : 1, ind.flag2}))
            return dbError(sqlca, QStringLiteral("s_zbfa"));
    }
    for (int i = 0; i < 20; ++i) {
        const Indicator& ind = inds[i];
        if (!sqlca.execute(insertScheme, {2, QStringLiteral("重点指标"), (20 - i) * 10, ind.code, ind.type,
                                          ind.name, ind.name, 1, i % 5 == 0 ? 0 : 1, ind.flag2}))
            return dbError(sqlca, QStringLiteral("s_zbfa"));
    }
    if (!tx.commit())
        return dbError(sqlca, QStringLiteral("commit"));
    return Status::success();
}

Status loadSqliteFigures(const QString& path, const Size& size)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const QString why = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
        sqlite3_close(db);
        return Status::failure(QStringLiteral("cannot open %1: %2").arg(path, why));
    }
    auto fail = [&](const QString& what) {
        const Status s =
            Status::failure(QStringLiteral("%1: %2").arg(what, QString::fromUtf8(sqlite3_errmsg(db))));
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return s;
    };
    sqlite3_busy_timeout(db, 15000);
    // No journal and no syncing while loading a fresh file; WAL again
    // afterwards, as the application keeps its databases. The journal stays
    // as it is when another connection has the file open.
    sqlite3_exec(db, "PRAGMA journal_mode=OFF", nullptr, nullptr, nullptr);
    if (sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA cache_size=-262144; BEGIN", nullptr, nullptr,
                     nullptr) != SQLITE_OK)
        return fail(QStringLiteral("preparing the load"));
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(
            db, "INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES (?, ?, ?, ?, ?, ?)",
            -1, &insert, nullptr) != SQLITE_OK)
        return fail(QStringLiteral("H_stat"));

    // The codes are ASCII; keep their bytes so the loop binds without converting.
    QHash<const QString*, QByteArray> bytes;
    auto utf8 = [&](const QString* s) -> const QByteArray& {
        auto it = bytes.find(s);
        if (it == bytes.end())
            it = bytes.insert(s, s->toUtf8());
        return *it;
    };
    bool ok = true;
    forEachFigure(size, [&](const Figure& f) {
        if (!ok)
            return;
        // Shared copies: a look-up may grow the hash and move its entries.
        const QByteArray unit = utf8(f.unit);
        const QByteArray period = utf8(f.period);
        const QByteArray indicator = utf8(f.indicator);
        sqlite3_bind_text(insert, 1, unit.constData(), int(unit.size()), SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, period.constData(), int(period.size()), SQLITE_STATIC);
        sqlite3_bind_text(insert, 3, indicator.constData(), int(indicator.size()), SQLITE_STATIC);
        sqlite3_bind_double(insert, 4, double(f.qichu) / 100.0);
        sqlite3_bind_double(insert, 5, double(f.fasheng) / 100.0);
        sqlite3_bind_double(insert, 6, double(f.leiji) / 100.0);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    });
    sqlite3_finalize(insert);
    if (!ok)
        return fail(QStringLiteral("H_stat"));
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(QStringLiteral("commit"));
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return Status::success();
}

namespace {

// COPY … FROM STDIN through psql: `produce` appends rows to the chunk and
// calls `rowDone` after each, which sends the chunk on once it is large.
Status copyRows(const QString& url, const QString& statement,
                const std::function<void(QByteArray& chunk, const std::function<void()>& rowDone)>& produce)
{
    // psql does not know the ?schema= of our URLs; the search path goes in PGOPTIONS.
    QUrl u(url);
    const QString schema = QUrlQuery(u).queryItemValue(QStringLiteral("schema"));
    u.setQuery(QString());
    QProcess psql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!schema.isEmpty())
        env.insert(QStringLiteral("PGOPTIONS"), QStringLiteral("-c search_path=%1").arg(schema));
    psql.setProcessEnvironment(env);
    psql.setProcessChannelMode(QProcess::SeparateChannels);
    psql.start(QStringLiteral("psql"), {u.toString(), QStringLiteral("-q"), QStringLiteral("-v"),
                                        QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"), statement});
    if (!psql.waitForStarted(-1))
        return Status::failure(QStringLiteral("cannot start psql: %1").arg(psql.errorString()));

    QByteArray chunk;
    chunk.reserve(1 << 20);
    bool broken = false;
    auto send = [&] {
        if (broken || chunk.isEmpty())
            return;
        if (psql.write(chunk) != chunk.size())
            broken = true;
        chunk.clear();
        // Keep what psql has not read yet small; the whole data set would not fit.
        while (!broken && psql.bytesToWrite() > (4 << 20))
            if (!psql.waitForBytesWritten(-1))
                broken = psql.state() != QProcess::Running;
    };
    produce(chunk, [&] {
        if (chunk.size() > (1 << 20))
            send();
    });
    send();
    while (!broken && psql.bytesToWrite() > 0)
        if (!psql.waitForBytesWritten(-1))
            break;
    psql.closeWriteChannel();
    psql.waitForFinished(-1);
    if (broken || psql.exitStatus() != QProcess::NormalExit || psql.exitCode() != 0)
        return Status::failure(
            QStringLiteral("psql %1 failed: %2")
                .arg(statement.left(40), QString::fromLocal8Bit(psql.readAllStandardError()).trimmed()));
    return Status::success();
}

} // namespace

Status loadPostgresFigures(const QString& url, const Size& size, int period)
{
    QHash<const QString*, QByteArray> bytes;
    auto utf8 = [&](const QString* s) -> const QByteArray& {
        auto it = bytes.find(s);
        if (it == bytes.end())
            it = bytes.insert(s, s->toUtf8());
        return *it;
    };
    auto cents = [](QByteArray& out, std::int64_t v) {
        out += QByteArray::number(v / 100);
        out += '.';
        const int c = int(v % 100);
        out += char('0' + c / 10);
        out += char('0' + c % 10);
    };
    return copyRows(url, QStringLiteral("COPY H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) FROM STDIN"),
                    [&](QByteArray& chunk, const std::function<void()>& rowDone) {
                        forEachFigure(
                            size,
                            [&](const Figure& f) {
                                chunk += utf8(f.unit);
                                chunk += '\t';
                                chunk += utf8(f.period);
                                chunk += '\t';
                                chunk += utf8(f.indicator);
                                chunk += '\t';
                                cents(chunk, f.qichu);
                                chunk += '\t';
                                cents(chunk, f.fasheng);
                                chunk += '\t';
                                cents(chunk, f.leiji);
                                chunk += '\n';
                                rowDone();
                            },
                            period);
                    });
}

Status loadPostgresRegions(const QString& url, const Size& size)
{
    return copyRows(url, QStringLiteral("COPY s_qybm (qybm, qymc) FROM STDIN"),
                    [&](QByteArray& chunk, const std::function<void()>& rowDone) {
                        for (const Region& r : regions(size)) {
                            chunk += r.code.toUtf8();
                            chunk += '\t';
                            chunk += r.name.toUtf8();
                            chunk += '\n';
                            rowDone();
                        }
                    });
}

Status load(const QString& db, const Size& size)
{
    QString error;
    Backend backend = Backend::SQLite;
    {
        auto sqlca = Sqlca::connect(db, &error);
        if (!sqlca)
            return Status::failure(error);
        backend = sqlca->backend();
        if (sqlca->selectRow(QStringLiteral("SELECT 1 FROM s_qybm LIMIT 1")) ||
            sqlca->selectRow(QStringLiteral("SELECT 1 FROM H_stat LIMIT 1")))
            return Status::failure(QStringLiteral("the database already holds data; load into a fresh one"));
        if (sqlca->SQLCode == -1)
            return dbError(*sqlca, QStringLiteral("checking the tables"));
        if (Status s = fillCatalogue(*sqlca, size); !s)
            return s;
    }
    // The bulk loads need the tables to themselves (SQLite leaves WAL mode for a while).
    if (backend == Backend::SQLite)
        return loadSqliteFigures(db, size);
    if (Status s = loadPostgresFigures(db, size); !s)
        return s;
    // What autovacuum would do soon after a load: planner statistics and the
    // visibility map (which index-only scans need).
    auto sqlca = Sqlca::connect(db, &error);
    if (!sqlca)
        return Status::failure(error);
    if (!sqlca->executeImmediate(QStringLiteral("VACUUM ANALYZE H_stat, s_zbbm, s_zbfa, s_qybm")))
        return dbError(*sqlca, QStringLiteral("VACUUM ANALYZE"));
    return Status::success();
}

} // namespace benchdata

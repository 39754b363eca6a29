#include "foundation/sqlca.h"

#include "foundation/dbname.h"
#include "foundation/decimal.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sqlite3.h>

namespace {

QAtomicInt g_connectionCounter;

QString errorText(const QSqlError& e)
{
    QString text = e.databaseText().trimmed();
    if (text.isEmpty())
        text = e.text().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("unknown database error");
    return text;
}

using Units = Decimal::Units;

// t_stat holds 16 integer digits and two decimals, in cents below 10^18.
constexpr Units kCentsLimit = Units(1000000000000000000LL);
// A SQLite figure with cents is a double: exact (read back as typed) up to 15
// significant digits, so cents are exact below 10^13.
constexpr Units kExactDoubleCents = Units(1000000000000000LL);

// Cents into a t_stat column: an integer when whole, else the double that
// reads back as exactly these cents. False when SQLite cannot hold them exactly.
bool resultCents(sqlite3_context* ctx, Units cents)
{
    const Units mag = cents < 0 ? -cents : cents;
    if (cents % 100 == 0 && mag / 100 <= Units(std::numeric_limits<sqlite3_int64>::max())) {
        sqlite3_result_int64(ctx, sqlite3_int64(cents / 100));
        return true;
    }
    const QString text = Decimal::fromUnits(cents * (Decimal::One / 100)).toString(2);
    sqlite3_result_double(ctx, text.toDouble());
    return mag < kExactDoubleCents;
}

// round2(x): two decimals, half away from zero, computed on the decimal form of
// the value so that 1.625 and 2.675 both round up as they do in PostgreSQL.
void sqliteRound2(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL:
        sqlite3_result_null(ctx);
        return;
    case SQLITE_INTEGER:
        sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
        return;
    default:
        break;
    }
    const auto* raw = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    QVariant v = sqlite3_value_type(argv[0]) == SQLITE_FLOAT ? QVariant(sqlite3_value_double(argv[0]))
                                                             : QVariant(QString::fromUtf8(raw));
    const auto d = Decimal::fromVariant(v);
    if (!d) {
        sqlite3_result_null(ctx);
        return;
    }
    resultCents(ctx, d->rounded(2).units() / (Decimal::One / 100));
}

// One figure of H_stat in whole ten-thousandths. SQLite keeps what it is
// given: integers are exact, doubles carry 15 significant digits (read as the
// decimal they were typed as: 12345678901.2345 stays that), and text counts
// only when it is a plain number ('1,000' is not).
enum class FigureRead
{
    Ok,
    NotANumber,
    OutOfRange,
};

FigureRead figureUnits(sqlite3_value* v, Units* out)
{
    constexpr double kLimit = 1e16; // t_stat's 16 integer digits
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: {
        const sqlite3_int64 i = sqlite3_value_int64(v);
        if (i >= sqlite3_int64(kLimit) || i <= -sqlite3_int64(kLimit))
            return FigureRead::OutOfRange;
        *out = Units(i) * Decimal::One;
        return FigureRead::Ok;
    }
    case SQLITE_FLOAT: {
        const double x = sqlite3_value_double(v);
        if (!std::isfinite(x))
            return FigureRead::NotANumber;
        const double mag = std::fabs(x);
        if (mag >= kLimit)
            return FigureRead::OutOfRange;
        if (mag < 1e11) { // four decimals within 15 digits
            *out = std::llround(x * 10000.0);
            return FigureRead::Ok;
        }
        const double whole = std::trunc(x);
        int digits = 0;
        for (double p = 1; p <= std::fabs(whole); p *= 10)
            ++digits;
        const int keep = std::clamp(15 - digits, 0, 4);
        sqlite3_int64 step = 1;
        for (int k = keep; k < Decimal::Scale; ++k)
            step *= 10;
        *out = Units(sqlite3_int64(whole)) * Decimal::One +
               Units(std::llround((x - whole) * double(Decimal::One / step))) * step;
        return FigureRead::Ok;
    }
    case SQLITE_TEXT: {
        const auto d =
            Decimal::parse(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(v))));
        if (!d)
            return FigureRead::NotANumber;
        if (!d->fitsDigits(16))
            return FigureRead::OutOfRange;
        *out = d->units();
        return FigureRead::Ok;
    }
    default:
        return FigureRead::NotANumber;
    }
}

QString argText(sqlite3_value* v)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return text ? QString::fromUtf8(text) : QString();
}

// The running figures of one indicator over a region's units: the exact sum in
// whole ten-thousandths, the count, the largest and the smallest value.
// kind_figures(x, unit, indicator, period, column) gathers them in one step
// per row and stops the statement at a figure that is no number or lies
// beyond what t_stat can hold, naming it; kind_figure(acc, flag1, indicator,
// column) then gives the figure the indicator's aggregation kind asks for
// (1 sum, 2 average, 3 maximum, 4 minimum), rounded to cents half away from
// zero like PostgreSQL's numeric(18,2), or null.
struct KindFigures
{
    Units units;
    Units max;
    Units min;
    sqlite3_int64 count;
};

void kindFiguresStep(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return;
    Units x = 0;
    if (const FigureRead r = figureUnits(argv[0], &x); r != FigureRead::Ok) {
        const QString where = QStringLiteral("unit %1, indicator %2, period %3")
                                  .arg(argText(argv[1]), argText(argv[2]), argText(argv[3]));
        const QString text =
            r == FigureRead::NotANumber
                ? QStringLiteral("H_stat holds a %1 figure that is not a number (%2) for %3")
                      .arg(argText(argv[4]), argText(argv[0]), where)
                : QStringLiteral("H_stat holds a %1 figure (%2) for %3 beyond the 16 integer digits "
                                 "the report can hold")
                      .arg(argText(argv[4]), argText(argv[0]), where);
        const QByteArray utf8 = text.toUtf8();
        sqlite3_result_error(ctx, utf8.constData(), int(utf8.size()));
        return;
    }
    auto* acc = static_cast<KindFigures*>(sqlite3_aggregate_context(ctx, sizeof(KindFigures)));
    if (!acc)
        return;
    acc->units += x;
    if (acc->count == 0 || x > acc->max)
        acc->max = x;
    if (acc->count == 0 || x < acc->min)
        acc->min = x;
    ++acc->count;
}

void kindFiguresFinal(sqlite3_context* ctx)
{
    auto* acc = static_cast<KindFigures*>(sqlite3_aggregate_context(ctx, 0));
    if (!acc || acc->count == 0) {
        sqlite3_result_null(ctx);
        return;
    }
    sqlite3_result_blob(ctx, acc, int(sizeof(KindFigures)), SQLITE_TRANSIENT);
}

void kindFigure(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) != SQLITE_BLOB ||
        sqlite3_value_bytes(argv[0]) != int(sizeof(KindFigures))) {
        sqlite3_result_null(ctx);
        return;
    }
    KindFigures acc;
    std::memcpy(&acc, sqlite3_value_blob(argv[0]), sizeof acc);
    if (acc.count <= 0) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto sign = [](Units v) { return v < 0 ? Units(-1) : Units(1); };
    const auto abs = [](Units v) { return v < 0 ? -v : v; };
    const auto cents = [&](Units units) { return sign(units) * ((abs(units) + 50) / 100); };
    Units result = 0;
    switch (sqlite3_value_int(argv[1])) {
    case 1: // the sum: ten-thousandths to cents, half away from zero
        result = cents(acc.units);
        break;
    case 2: // the average in cents: sign(s) * floor((2|s| + 100n) / (200n))
        result = sign(acc.units) * ((2 * abs(acc.units) + 100 * acc.count) / (200 * Units(acc.count)));
        break;
    case 3:
        result = cents(acc.max);
        break;
    case 4:
        result = cents(acc.min);
        break;
    default:
        sqlite3_result_null(ctx);
        return;
    }
    if (abs(result) >= kCentsLimit) {
        const QByteArray text =
            QStringLiteral("the %1 figure of indicator %2 (%3) is beyond the 16 integer digits the report "
                           "can hold")
                .arg(argText(argv[3]), argText(argv[2]), Decimal::fromUnits(result * 100).toString(2))
                .toUtf8();
        sqlite3_result_error(ctx, text.constData(), int(text.size()));
        return;
    }
    if (!resultCents(ctx, result)) {
        const QByteArray text =
            QStringLiteral("the %1 figure of indicator %2 (%3) has more significant digits than a SQLite "
                           "database holds exactly (15); keep such figures in PostgreSQL")
                .arg(argText(argv[3]), argText(argv[2]), Decimal::fromUnits(result * 100).toString(2))
                .toUtf8();
        sqlite3_result_error(ctx, text.constData(), int(text.size()));
    }
}

bool registerSqliteFunctions(QSqlDatabase& db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3* h = *static_cast<sqlite3* const*>(handle.data());
    if (!h)
        return false;
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    return sqlite3_create_function(h, "round2", 1, flags, nullptr, sqliteRound2, nullptr, nullptr) ==
               SQLITE_OK &&
           sqlite3_create_function(h, "kind_figures", 5, flags, nullptr, nullptr, kindFiguresStep,
                                   kindFiguresFinal) == SQLITE_OK &&
           sqlite3_create_function(h, "kind_figure", 4, flags, nullptr, kindFigure, nullptr, nullptr) ==
               SQLITE_OK;
}

QString quoteIdent(const QString& name)
{
    QString n = name;
    n.replace(u'"', QStringLiteral("\"\""));
    return u'"' + n + u'"';
}

// The URL's client parameters as the driver takes them: "name='value'" joined
// by semicolons, quoted as the client library reads them; a connection that
// does not say otherwise gives up after 10 s.
QString connectOptions(const QStringList& parameters)
{
    QStringList options;
    bool timeout = false;
    for (const QString& p : parameters) {
        const qsizetype eq = p.indexOf(u'=');
        QString value = p.mid(eq + 1);
        value.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
        options << p.left(eq) + QStringLiteral("='") + value + u'\'';
        timeout = timeout || p.startsWith(QStringLiteral("connect_timeout="));
    }
    if (!timeout)
        options << QStringLiteral("connect_timeout=10");
    return options.join(u';');
}

} // namespace

Sqlca::Sqlca(const QString& connectionName, Backend backend)
    : m_connectionName(connectionName), m_dialect(backend)
{}

Sqlca::~Sqlca()
{
    m_kept.clear(); // kept statements go before their connection
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isOpen()) {
            if (m_depth > 0)
                QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase Sqlca::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

QString Sqlca::shownDatabase(const QString& db)
{
    return hidePassword(db);
}

std::unique_ptr<Sqlca> Sqlca::connect(const QString& dbText, QString* error, OpenMode mode)
{
    auto fail = [&](const QString& text) -> std::unique_ptr<Sqlca> {
        if (error)
            *error = text;
        return nullptr;
    };
    const QString name = QStringLiteral("allstats-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1));
    QString why;
    const std::optional<DatabaseName> parsed = parseDatabaseName(dbText, &why);
    if (!parsed)
        return fail(why);

    if (parsed->isPostgres()) {
        std::unique_ptr<Sqlca> s(new Sqlca(name, Backend::PostgreSQL));
        s->m_description =
            QStringLiteral("PostgreSQL %1:%2/%3").arg(parsed->host).arg(parsed->port).arg(parsed->database);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(parsed->host);
        db.setPort(parsed->port);
        db.setDatabaseName(parsed->database);
        db.setUserName(parsed->user);
        db.setPassword(parsed->password);
        db.setConnectOptions(connectOptions(parsed->parameters));
        db.setNumericalPrecisionPolicy(QSql::HighPrecision);
        if (!db.open())
            return fail(QStringLiteral("cannot open the database %1: %2")
                            .arg(s->m_description, errorText(db.lastError())));
        const QString schema = parsed->schema;
        if (!s->rawExec(QStringLiteral("SET client_min_messages TO warning")))
            return fail(s->SQLErrText);
        if (!schema.isEmpty()) {
            if (mode == OpenMode::Create) {
                // Two init-db at once: the second waits for the first instead of
                // colliding with it in the server's catalogue.
                TransactionGuard tx(*s);
                if (!tx.active() || !s->rawExec(s->m_dialect.schemaChangeLock()) ||
                    !s->rawExec(QStringLiteral("CREATE SCHEMA IF NOT EXISTS %1").arg(quoteIdent(schema))) ||
                    !tx.commit())
                    return fail(s->SQLErrText);
            } else if (!s->selectRow(QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = ?"),
                                     {schema})) {
                if (s->SQLCode == -1)
                    return fail(s->SQLErrText);
                return fail(
                    QStringLiteral("the database %1 has no schema \"%2\" (allstats init-db creates it)")
                        .arg(s->m_description, schema));
            }
            if (!s->rawExec(QStringLiteral("SET search_path TO %1").arg(quoteIdent(schema))))
                return fail(s->SQLErrText);
            s->m_description += QStringLiteral(" (schema %1)").arg(schema);
        }
        if (!s->setTimeLimits(kDefaultWaitSeconds, 0))
            return fail(s->SQLErrText);
        s->detectUnitCodes();
        s->setOk();
        return s;
    }

    const QString path = parsed->path;
    const QFileInfo info(path);
    if (!info.absoluteDir().exists())
        return fail(QStringLiteral("cannot open the database %1: the folder %2 does not exist")
                        .arg(path, info.absolutePath()));
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("cannot open the database %1: not a file").arg(path));
    if (!info.exists() && mode == OpenMode::Existing)
        return fail(QStringLiteral("cannot open the database %1: there is no such file (allstats init-db "
                                   "creates one)")
                        .arg(path));
    const bool fresh = !info.exists() || info.size() == 0;
    std::unique_ptr<Sqlca> s(new Sqlca(name, Backend::SQLite));
    s->m_description = QStringLiteral("SQLite %1").arg(info.absoluteFilePath());
    // SQLite counts every allocation of every connection under one mutex of
    // the process; connections in several threads (the benchmark's clerks,
    // the tests' users) then wait for each other at each allocation. The
    // count is only read by a heap limit this program does not set. It can be
    // switched off only before SQLite starts, so the first connection does it.
    static const bool uncounted = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    Q_UNUSED(uncounted);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    if (mode == OpenMode::Existing) {
        // Read-write but never created: a file removed meanwhile stays missing.
        db.setDatabaseName(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded) +
                           QStringLiteral("?mode=rw"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
    } else {
        db.setDatabaseName(path);
    }
    db.setNumericalPrecisionPolicy(QSql::HighPrecision);
    if (!db.open())
        return fail(QStringLiteral("cannot open the database %1: %2").arg(path, errorText(db.lastError())));
    // A file that is not a database only shows itself on the first read.
    if (!s->rawExec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
        return fail(QStringLiteral("cannot open the database %1: %2").arg(path, s->SQLErrText));
    // Only a database made here gets its journal mode chosen; an existing
    // file keeps the one its owner gave it.
    // Several creators at once (two init-db on one new file): the switch needs
    // the file to itself, and SQLite refuses it at once, without waiting, while
    // another connection has it open; so it is tried again until it is made
    // (here or by the other creator) or the wait is over.
    if (mode == OpenMode::Create && fresh) {
        const QDeadlineTimer deadline{std::chrono::seconds(kDefaultWaitSeconds)};
        for (;;) {
            const QVariant journal = s->selectValue(QStringLiteral("PRAGMA journal_mode=WAL"));
            const bool failed = s->SQLCode == -1;
            if (!failed && journal.toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) == 0)
                break;
            if (deadline.hasExpired()) {
                if (failed)
                    return fail(QStringLiteral("cannot open the database %1: %2").arg(path, s->SQLErrText));
                break; // another connection keeps the file open: it stays in its journal mode
            }
            QThread::msleep(20);
        }
    }
    if (!registerSqliteFunctions(db))
        return fail(QStringLiteral("cannot register the SQL functions on %1").arg(path));
    // The connection's own working table lives in SQLite's temporary store,
    // which writes a file in the temporary folder only when its cache
    // overflows: never for t_stat's few rows. The store stays with files: a
    // province's grouping spills there, and kept in memory it ran half as fast.
    s->installSqliteHandlers();
    s->setTimeLimits(kDefaultWaitSeconds, 0);
    s->detectUnitCodes();
    s->setOk();
    return s;
}

namespace {

sqlite3* sqliteHandle(const QSqlDatabase& db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.data());
}

} // namespace

// SQLite calls this while another connection holds the file: wait in short
// steps, tell the host every second (it shows its wait notice), give up at the limit.
int Sqlca::sqliteBusy(void* self, int count)
{
    auto* s = static_cast<Sqlca*>(self);
    if (count == 0)
        s->m_busySince.start();
    const qint64 waited = s->m_busySince.elapsed();
    if (waited >= qint64(s->m_waitSeconds) * 1000) {
        s->m_gaveUpWaiting = true;
        return 0;
    }
    if (s->busyWait && waited / 1000 > s->m_busyShown) {
        s->m_busyShown = int(waited / 1000);
        s->busyWait(s->m_busyShown);
    }
    QThread::msleep(std::min<qint64>(50, qint64(s->m_waitSeconds) * 1000 - waited));
    s->m_statementSince.start(); // the time limit counts the work, not the wait
    return 1;
}

// SQLite's statement time limit: the statement stops at the next check once it has run too long.
int Sqlca::sqliteProgress(void* self)
{
    auto* s = static_cast<Sqlca*>(self);
    if (s->m_timeoutSeconds > 0 && s->m_statementSince.isValid() &&
        s->m_statementSince.elapsed() > qint64(s->m_timeoutSeconds) * 1000) {
        s->m_timedOut = true;
        return 1;
    }
    return 0;
}

void Sqlca::installSqliteHandlers()
{
    if (sqlite3* h = sqliteHandle(database())) {
        sqlite3_busy_handler(h, &Sqlca::sqliteBusy, this);
        sqlite3_progress_handler(h, 10000, &Sqlca::sqliteProgress, this);
    }
}

bool Sqlca::setTimeLimits(int waitSeconds, int statementSeconds)
{
    m_waitSeconds = std::max(0, waitSeconds);
    m_timeoutSeconds = std::max(0, statementSeconds);
    if (backend() == Backend::SQLite)
        return true;
    // The server enforces both; a wait for a lock counts as the wait.
    return rawExec(QStringLiteral("SET lock_timeout = %1").arg(qint64(m_waitSeconds) * 1000)) &&
           rawExec(QStringLiteral("SET statement_timeout = %1").arg(qint64(m_timeoutSeconds) * 1000));
}

qint64 Sqlca::statementRunningMs() const
{
    const qint64 since = m_statementStartMs.loadRelaxed();
    return since == 0 ? 0 : QDateTime::currentMSecsSinceEpoch() - since;
}

void Sqlca::startStatement()
{
    m_gaveUpWaiting = false;
    m_timedOut = false;
    m_busyShown = 0;
    m_statementSince.start();
    m_statementStartMs.storeRelaxed(QDateTime::currentMSecsSinceEpoch());
}

void Sqlca::endStatement()
{
    m_statementStartMs.storeRelaxed(0);
    if (m_busyShown > 0 && busyWait) {
        m_busyShown = 0;
        busyWait(0);
    }
}

void Sqlca::setError(const QSqlError& e)
{
    const QString code = e.nativeErrorCode();
    const QString raw = errorText(e);
    QString text = raw;
    if (backend() == Backend::SQLite) {
        // SQLITE_BUSY (5, extended 261, 517) and SQLITE_INTERRUPT (9).
        if (m_gaveUpWaiting || raw.contains(QStringLiteral("database is locked")))
            text = busyText(raw);
        else if (m_timedOut)
            text = timeoutText(raw);
    } else if (code == u"55P03") {
        text = busyText(raw);
    } else if (code == u"57014" && m_timeoutSeconds > 0) {
        text = timeoutText(raw);
    }
    setError(text);
}

QString Sqlca::busyText(const QString& raw) const
{
    return QStringLiteral("the database is busy: another user or run is working on it, and it did not come "
                          "free within %1 s; try again once the other run has finished (%2)")
        .arg(m_waitSeconds)
        .arg(raw);
}

QString Sqlca::timeoutText(const QString& raw) const
{
    return QStringLiteral("the database did not finish a statement within the time limit of %1 s (%2)")
        .arg(m_timeoutSeconds)
        .arg(raw);
}

void Sqlca::detectUnitCodes()
{
    using Codes = Dialect::UnitCodes;
    if (m_dialect.isSQLite()) {
        // The column's affinity from its declared type: only TEXT affinity keeps
        // codes as text; INTEGER, NUMERIC, REAL and none store digits as numbers.
        const auto row = selectRow(QStringLiteral(
            "SELECT upper(type) FROM pragma_table_info('H_stat') WHERE lower(name) = 'number'"));
        if (!row) {
            // No table yet: the one this program makes holds text.
            m_dialect.setUnitCodes(SQLCode == 100 ? Codes::Bytewise : Codes::NotText);
            return;
        }
        const QString type = row->value(0).toString();
        const bool text = !type.contains(QStringLiteral("INT")) &&
                          (type.contains(QStringLiteral("CHAR")) || type.contains(QStringLiteral("CLOB")) ||
                           type.contains(QStringLiteral("TEXT")));
        m_dialect.setUnitCodes(text ? Codes::Bytewise : Codes::NotText);
        return;
    }
    // PostgreSQL: the column's type category and its collation (the database's
    // own when the column takes the default).
    const auto row = selectRow(QStringLiteral(
        "SELECT t.typcategory, co.collprovider, co.collcollate, d.datcollate, "
        "to_jsonb(d) ->> 'datlocprovider' "
        "FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid "
        "LEFT JOIN pg_collation co ON co.oid = a.attcollation "
        "JOIN pg_database d ON d.datname = current_database() "
        "WHERE a.attrelid = to_regclass('h_stat') AND a.attname = 'number' AND NOT a.attisdropped"));
    if (!row) {
        m_dialect.setUnitCodes(SQLCode == 100 ? Codes::Bytewise : Codes::Linguistic);
        return;
    }
    if (row->value(0).toString() != QStringLiteral("S")) {
        m_dialect.setUnitCodes(Codes::NotText);
        return;
    }
    QString provider = row->value(1).toString();
    QString collate = row->value(2).toString();
    if (provider == QStringLiteral("d")) {
        provider = row->value(4).isNull() ? QStringLiteral("c") : row->value(4).toString();
        collate = row->value(3).toString();
    }
    // libc's (and the built-in provider's) C and POSIX locales compare bytes.
    const bool bytewise = (provider == QStringLiteral("c") || provider == QStringLiteral("b")) &&
                          (collate == QStringLiteral("C") || collate == QStringLiteral("POSIX") ||
                           collate.startsWith(QStringLiteral("C.")));
    m_dialect.setUnitCodes(bytewise ? Codes::Bytewise : Codes::Linguistic);
}

void Sqlca::setError(const QString& text)
{
    SQLCode = -1;
    SQLErrText = text;
    SQLNRows = 0;
}

void Sqlca::setOk(int code)
{
    SQLCode = code;
    SQLErrText.clear();
}

bool Sqlca::rawExec(const QString& sql)
{
    QSqlQuery q(database());
    startStatement();
    const bool ok = q.exec(sql);
    endStatement();
    if (!ok) {
        setError(q.lastError());
        return false;
    }
    setOk();
    SQLNRows = q.numRowsAffected();
    return true;
}

bool Sqlca::run(QSqlQuery& q, const QString& sql, const QVariantList& binds)
{
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        setError(q.lastError());
        return false;
    }
    return bindAndExec(q, binds);
}

bool Sqlca::bindAndExec(QSqlQuery& q, const QVariantList& binds)
{
    for (int i = 0; i < binds.size(); ++i) {
        QVariant v = binds[i];
        if (v.metaType() == QMetaType::fromType<Decimal>())
            v = v.value<Decimal>().toPlainString();
        q.bindValue(i, v);
    }
    startStatement();
    const bool ok = q.exec();
    endStatement();
    if (!ok) {
        setError(q.lastError());
        return false;
    }
    setOk();
    SQLNRows = q.isSelect() ? 0 : q.numRowsAffected();
    return true;
}

QSqlQuery* Sqlca::runKept(const QString& sql, const QVariantList& binds)
{
    auto it = m_kept.find(sql);
    if (it == m_kept.end()) {
        constexpr std::size_t kMostKept = 200;
        if (m_kept.size() >= kMostKept)
            m_kept.clear();
        auto q = std::make_unique<QSqlQuery>(database());
        q->setForwardOnly(true);
        if (!q->prepare(sql)) {
            setError(q->lastError());
            return nullptr;
        }
        it = m_kept.emplace(sql, std::move(q)).first;
    }
    QSqlQuery& q = *it->second;
    if (!bindAndExec(q, binds)) {
        m_kept.erase(it);
        return nullptr;
    }
    return &q;
}

void Sqlca::forgetKeptStatements()
{
    m_kept.clear();
}

bool Sqlca::execute(const QString& sql, const QVariantList& binds)
{
    if (binds.isEmpty())
        return executeImmediate(sql);
    QSqlQuery* q = runKept(sql, binds);
    if (!q)
        return false;
    q->finish();
    return true;
}

bool Sqlca::executeImmediate(const QString& sql)
{
    return rawExec(sql);
}

std::optional<QVariantList> Sqlca::selectRow(const QString& sql, const QVariantList& binds)
{
    QSqlQuery* kept = runKept(sql, binds);
    if (!kept)
        return std::nullopt;
    QSqlQuery& q = *kept;
    const auto done = qScopeGuard([&] { q.finish(); });
    if (!q.next()) {
        if (q.lastError().isValid())
            setError(q.lastError());
        else
            setOk(100);
        return std::nullopt;
    }
    QVariantList row;
    const int n = q.record().count();
    row.reserve(n);
    for (int i = 0; i < n; ++i)
        row.append(q.value(i));
    // A singleton select stands for one row: a second one is an error, not a
    // choice of the first (the callers would go on with an arbitrary row).
    if (q.next()) {
        setError(QStringLiteral("the single-row select returned more than one row"));
        return std::nullopt;
    }
    if (q.lastError().isValid()) {
        setError(errorText(q.lastError()));
        return std::nullopt;
    }
    setOk();
    return row;
}

QVariant Sqlca::selectValue(const QString& sql, const QVariantList& binds)
{
    const auto row = selectRow(sql, binds);
    if (!row || row->isEmpty())
        return {};
    return row->first();
}

std::optional<QList<QVariantList>> Sqlca::selectAll(const QString& sql, const QVariantList& binds)
{
    QSqlQuery* kept = runKept(sql, binds);
    if (!kept)
        return std::nullopt;
    QSqlQuery& q = *kept;
    const auto done = qScopeGuard([&] { q.finish(); });
    QList<QVariantList> rows;
    const int n = q.record().count();
    while (q.next()) {
        QVariantList row;
        row.reserve(n);
        for (int i = 0; i < n; ++i)
            row.append(q.value(i));
        rows.append(std::move(row));
    }
    if (q.lastError().isValid()) {
        setError(q.lastError());
        return std::nullopt;
    }
    setOk();
    return rows;
}

bool Sqlca::begin(bool exclusive)
{
    bool ok;
    if (m_depth == 0) {
        ok = rawExec(exclusive ? m_dialect.beginExclusive() : QStringLiteral("BEGIN"));
    } else {
        ok = rawExec(QStringLiteral("SAVEPOINT sp_%1").arg(m_depth));
    }
    if (ok)
        ++m_depth;
    return ok;
}

bool Sqlca::beginSnapshot()
{
    if (m_depth > 0)
        return begin(false);
    if (!rawExec(m_dialect.beginSnapshot()))
        return false;
    ++m_depth;
    return true;
}

bool Sqlca::beginWrite()
{
    if (m_depth > 0)
        return begin(false);
    if (!rawExec(m_dialect.beginExclusive()))
        return false;
    ++m_depth;
    return true;
}

bool Sqlca::commit()
{
    if (m_depth == 0) {
        setOk();
        return true;
    }
    bool ok;
    if (m_depth == 1)
        ok = rawExec(QStringLiteral("COMMIT"));
    else
        ok = rawExec(QStringLiteral("RELEASE SAVEPOINT sp_%1").arg(m_depth - 1));
    if (ok)
        --m_depth;
    return ok;
}

bool Sqlca::rollback()
{
    if (m_depth == 0) {
        setOk();
        return true;
    }
    bool ok;
    if (m_depth == 1) {
        ok = rawExec(QStringLiteral("ROLLBACK"));
        // Whatever the server said, the transaction is over.
        --m_depth;
        return ok;
    }
    ok = rawExec(QStringLiteral("ROLLBACK TO SAVEPOINT sp_%1").arg(m_depth - 1)) &&
         rawExec(QStringLiteral("RELEASE SAVEPOINT sp_%1").arg(m_depth - 1));
    --m_depth;
    return ok;
}

Cursor::Cursor(Sqlca& sqlca, QString sql, QVariantList binds)
    : m_sqlca(sqlca), m_sql(std::move(sql)), m_binds(std::move(binds))
{}

Cursor::~Cursor() = default;

bool Cursor::open()
{
    m_query = std::make_unique<QSqlQuery>(m_sqlca.database());
    if (!m_sqlca.run(*m_query, m_sql, m_binds)) {
        m_query.reset();
        return false;
    }
    return true;
}

bool Cursor::fetch(QVariantList& row)
{
    row.clear();
    if (!m_query) {
        m_sqlca.setError(QStringLiteral("cursor is not open"));
        return false;
    }
    if (!m_query->next()) {
        if (m_query->lastError().isValid())
            m_sqlca.setError(m_query->lastError());
        else
            m_sqlca.setOk(100);
        return false;
    }
    const int n = m_query->record().count();
    for (int i = 0; i < n; ++i)
        row.append(m_query->value(i));
    m_sqlca.setOk();
    return true;
}

void Cursor::close()
{
    m_query.reset();
}

TransactionGuard::TransactionGuard(Sqlca& sqlca, bool exclusive) : m_sqlca(sqlca)
{
    m_active = m_sqlca.begin(exclusive);
}

TransactionGuard::TransactionGuard(Sqlca& sqlca, Writes) : m_sqlca(sqlca)
{
    m_active = m_sqlca.beginWrite();
}

TransactionGuard::TransactionGuard(Sqlca& sqlca, Reads) : m_sqlca(sqlca)
{
    m_active = m_sqlca.beginSnapshot();
}

TransactionGuard::~TransactionGuard()
{
    if (m_active) {
        // Keep the error of the failed step, not that of the rollback.
        const int code = m_sqlca.SQLCode;
        const QString text = m_sqlca.SQLErrText;
        m_sqlca.rollback();
        m_sqlca.SQLCode = code;
        m_sqlca.SQLErrText = text;
    }
}

bool TransactionGuard::commit()
{
    if (!m_active)
        return false;
    m_active = false;
    if (!m_sqlca.commit()) {
        const QString why = m_sqlca.SQLErrText;
        m_sqlca.rollback();
        m_sqlca.setError(why);
        return false;
    }
    return true;
}

void TransactionGuard::rollback()
{
    if (m_active) {
        m_active = false;
        m_sqlca.rollback();
    }
}

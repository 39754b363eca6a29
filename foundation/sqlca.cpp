#include "foundation/sqlca.h"

#include "foundation/decimal.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QUrlQuery>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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
    const Decimal r = d->rounded(2);
    if (r.units() % Decimal::One == 0)
        sqlite3_result_int64(ctx, r.units() / Decimal::One);
    else
        sqlite3_result_double(ctx, r.toString(2).toDouble());
}

// The running figures of one indicator over a region's units: the exact sum in
// whole ten-thousandths (the figures carry at most four decimals), the count,
// the largest and the smallest value. kind_figures(x) gathers them in one step
// per row; kind_figure(acc, flag1) then gives the figure the indicator's
// aggregation kind asks for (1 sum, 2 average, 3 maximum, 4 minimum), rounded
// to cents half away from zero like PostgreSQL's numeric(18,2), or null.
struct KindFigures
{
    sqlite3_int64 units;
    sqlite3_int64 count;
    double max;
    double min;
};

void kindFiguresStep(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return;
    auto* acc = static_cast<KindFigures*>(sqlite3_aggregate_context(ctx, sizeof(KindFigures)));
    if (!acc)
        return;
    const double x = sqlite3_value_double(argv[0]);
    acc->units += std::llround(x * 10000.0);
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
    char text[128];
    const int n =
        std::snprintf(text, sizeof text, "%lld;%lld;%.17g;%.17g", static_cast<long long>(acc->units),
                      static_cast<long long>(acc->count), acc->max, acc->min);
    sqlite3_result_text(ctx, text, n, SQLITE_TRANSIENT);
}

void resultCents(sqlite3_context* ctx, sqlite3_int64 cents)
{
    if (cents % 100 == 0)
        sqlite3_result_int64(ctx, cents / 100);
    else
        sqlite3_result_double(ctx, Decimal::fromUnits(cents * (Decimal::One / 100)).toString(2).toDouble());
}

void kindFigure(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    long long units = 0, count = 0;
    double max = 0, min = 0;
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    if (!text || std::sscanf(text, "%lld;%lld;%lg;%lg", &units, &count, &max, &min) != 4 || count <= 0) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto sign = [](long long v) { return v < 0 ? -1LL : 1LL; };
    switch (sqlite3_value_int(argv[1])) {
    case 1: // the sum: ten-thousandths to cents, half away from zero
        resultCents(ctx, sign(units) * ((std::llabs(units) + 50) / 100));
        return;
    case 2: // the average in cents: sign(s) * floor((2|s| + 100n) / (200n))
        resultCents(ctx, sign(units) * ((2 * std::llabs(units) + 100 * count) / (200 * count)));
        return;
    case 3:
    case 4: {
        const auto d = Decimal::fromVariant(QVariant(sqlite3_value_int(argv[1]) == 3 ? max : min));
        if (!d) {
            sqlite3_result_null(ctx);
            return;
        }
        resultCents(ctx, d->rounded(2).units() / (Decimal::One / 100));
        return;
    }
    default:
        sqlite3_result_null(ctx);
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
           sqlite3_create_function(h, "kind_figures", 1, flags, nullptr, nullptr, kindFiguresStep,
                                   kindFiguresFinal) == SQLITE_OK &&
           sqlite3_create_function(h, "kind_figure", 2, flags, nullptr, kindFigure, nullptr, nullptr) ==
               SQLITE_OK;
}

QString quoteIdent(const QString& name)
{
    QString n = name;
    n.replace(u'"', QStringLiteral("\"\""));
    return u'"' + n + u'"';
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

std::unique_ptr<Sqlca> Sqlca::connect(const QString& dbText, QString* error)
{
    auto fail = [&](const QString& text) -> std::unique_ptr<Sqlca> {
        if (error)
            *error = text;
        return nullptr;
    };
    const QString name = QStringLiteral("allstats-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1));
    const QString text = dbText.trimmed();
    if (text.isEmpty())
        return fail(QStringLiteral("no database given"));

    if (text.startsWith(QStringLiteral("postgres://")) || text.startsWith(QStringLiteral("postgresql://"))) {
        const QUrl url(text, QUrl::StrictMode);
        const QString dbName = url.path().mid(1);
        if (!url.isValid() || url.host().isEmpty() || dbName.isEmpty())
            return fail(QStringLiteral(
                            "not a valid PostgreSQL URL: %1 (expected postgresql://user@host:port/database)")
                            .arg(text));
        std::unique_ptr<Sqlca> s(new Sqlca(name, Backend::PostgreSQL));
        s->m_description =
            QStringLiteral("PostgreSQL %1:%2/%3").arg(url.host()).arg(url.port(5432)).arg(dbName);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(url.host());
        db.setPort(url.port(5432));
        db.setDatabaseName(dbName);
        db.setUserName(url.userName());
        db.setPassword(url.password());
        db.setConnectOptions(QStringLiteral("connect_timeout=10"));
        db.setNumericalPrecisionPolicy(QSql::HighPrecision);
        if (!db.open())
            return fail(QStringLiteral("cannot open the database %1: %2")
                            .arg(s->m_description, errorText(db.lastError())));
        const QString schema = QUrlQuery(url).queryItemValue(QStringLiteral("schema"));
        if (!s->rawExec(QStringLiteral("SET client_min_messages TO warning")))
            return fail(s->SQLErrText);
        if (!schema.isEmpty()) {
            if (!s->rawExec(QStringLiteral("CREATE SCHEMA IF NOT EXISTS %1").arg(quoteIdent(schema))) ||
                !s->rawExec(QStringLiteral("SET search_path TO %1").arg(quoteIdent(schema))))
                return fail(s->SQLErrText);
        }
        s->detectUnitCodes();
        s->setOk();
        return s;
    }

    QString path = text;
    if (path.startsWith(QStringLiteral("sqlite:")))
        path = path.mid(7);
    const QFileInfo info(path);
    if (!info.absoluteDir().exists())
        return fail(QStringLiteral("cannot open the database %1: the folder %2 does not exist")
                        .arg(path, info.absolutePath()));
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("cannot open the database %1: not a file").arg(path));
    std::unique_ptr<Sqlca> s(new Sqlca(name, Backend::SQLite));
    s->m_description = QStringLiteral("SQLite %1").arg(info.absoluteFilePath());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000"));
    db.setNumericalPrecisionPolicy(QSql::HighPrecision);
    if (!db.open())
        return fail(QStringLiteral("cannot open the database %1: %2").arg(path, errorText(db.lastError())));
    // A file that is not a database only shows itself on the first read.
    if (!s->rawExec(QStringLiteral("PRAGMA journal_mode=WAL")))
        return fail(QStringLiteral("cannot open the database %1: %2").arg(path, s->SQLErrText));
    if (!registerSqliteFunctions(db))
        return fail(QStringLiteral("cannot register the SQL functions on %1").arg(path));
    s->detectUnitCodes();
    s->setOk();
    return s;
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
    if (!q.exec(sql)) {
        setError(errorText(q.lastError()));
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
        setError(errorText(q.lastError()));
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
    if (!q.exec()) {
        setError(errorText(q.lastError()));
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
            setError(errorText(q->lastError()));
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
            setError(errorText(q.lastError()));
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
        setError(errorText(q.lastError()));
        return std::nullopt;
    }
    setOk();
    return rows;
}

bool Sqlca::begin(bool exclusive)
{
    bool ok;
    if (m_depth == 0) {
        const QString lock = exclusive ? m_dialect.lockWorkingTable() : QString();
        if (lock.isEmpty()) {
            ok = rawExec(exclusive ? m_dialect.beginExclusive() : QStringLiteral("BEGIN"));
        } else {
            // The lock travels with the BEGIN: one round trip to the server.
            ok = rawExec(m_dialect.beginExclusive() + QStringLiteral("; ") + lock);
            if (!ok) {
                const QString why = SQLErrText;
                rawExec(QStringLiteral("ROLLBACK"));
                setError(why);
                return false;
            }
        }
    } else {
        ok = rawExec(QStringLiteral("SAVEPOINT sp_%1").arg(m_depth));
    }
    if (ok)
        ++m_depth;
    return ok;
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
            m_sqlca.setError(errorText(m_query->lastError()));
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

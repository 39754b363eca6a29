// SPDX-License-Identifier: GPL-3.0-or-later
// The transaction object's connection: opening a SQLite file or a PostgreSQL
// server, the time limits, SQLite's busy and progress handlers, and how the
// host's unit codes compare.
#include "foundation/dbname.h"
#include "foundation/decimal.h"
#include "foundation/sqlca.h"
#include "foundation/sqlca_p.h"
#include "foundation/sqlitefigures.h"

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
#include <libpq-fe.h>
#include <limits>
#include <sqlite3.h>

namespace {

QAtomicInt g_connectionCounter;

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

sqlite3* sqliteHandle(const QSqlDatabase& db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.data());
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
        if (!db.open()) {
            QString why = errorText(db.lastError());
            // The client library's own words for a sign-in without a password.
            if (why.contains(QStringLiteral("no password supplied")))
                why += QStringLiteral(
                    " (the server asks for a password: give it in the URL, in PGPASSWORD or in "
                    "~/.pgpass)");
            return fail(QStringLiteral("cannot open the database %1: %2").arg(s->m_description, why));
        }
        const QString schema = parsed->schema;
        if (!s->rawExec(QStringLiteral("SET client_min_messages TO warning")))
            return fail(s->SQLErrText);
        if (!schema.isEmpty()) {
            if (mode == OpenMode::Create) {
                // Two init-db at once: the second waits for the first instead of
                // colliding with it in the server's catalogue.
                TransactionGuard tx(*s);
                if (!tx.active() || !s->rawExec(s->m_dialect.schemaChangeLock()) ||
                    !s->rawExec(QStringLiteral("CREATE SCHEMA IF NOT EXISTS %1")
                                    .arg(Dialect::quoteIdentifier(schema))) ||
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
            if (!s->rawExec(QStringLiteral("SET search_path TO %1").arg(Dialect::quoteIdentifier(schema))))
                return fail(s->SQLErrText);
            s->m_description += QStringLiteral(" (schema %1)").arg(schema);
            s->m_schema = schema;
        }
        // Without a user in the URL the client signs in as PGUSER or the login name.
        s->m_role = s->selectValue(QStringLiteral("SELECT CAST(session_user AS text)")).toString();
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
    s->m_sqliteFile = info.absoluteFilePath();
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

Sqlca::SignInProblem Sqlca::signInProblem(const QString& dbText)
{
    QString why;
    const std::optional<DatabaseName> name = parseDatabaseName(dbText, &why);
    if (!name || !name->isPostgres())
        return SignInProblem::None;
    // The same parameters Qt's driver gives the client library.
    QList<QByteArray> keys = {"host", "port", "dbname"};
    QList<QByteArray> values = {name->host.toUtf8(), QByteArray::number(name->port), name->database.toUtf8()};
    if (!name->user.isEmpty()) {
        keys << "user";
        values << name->user.toUtf8();
    }
    if (!name->password.isEmpty()) {
        keys << "password";
        values << name->password.toUtf8();
    }
    bool timeout = false;
    for (const QString& p : name->parameters) {
        const qsizetype eq = p.indexOf(u'=');
        keys << p.left(eq).toUtf8();
        values << p.mid(eq + 1).toUtf8();
        timeout = timeout || p.startsWith(QStringLiteral("connect_timeout="));
    }
    if (!timeout) {
        keys << "connect_timeout";
        values << "10";
    }
    std::vector<const char*> k;
    std::vector<const char*> v;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        k.push_back(keys[i].constData());
        v.push_back(values[i].constData());
    }
    k.push_back(nullptr);
    v.push_back(nullptr);
    PGconn* conn = PQconnectdbParams(k.data(), v.data(), 0);
    SignInProblem problem = SignInProblem::None;
    if (conn && PQstatus(conn) != CONNECTION_OK) {
        if (PQconnectionNeedsPassword(conn))
            problem = SignInProblem::PasswordNeeded;
        else if (PQconnectionUsedPassword(conn))
            problem = SignInProblem::PasswordRefused;
    }
    PQfinish(conn);
    return problem;
}

QString Sqlca::passwordVerifier(const QString& role, const QString& password, QString* error)
{
    const QVariant handle = database().driver()->handle();
    PGconn* conn = nullptr;
    // Qt's driver names the handle's type after the client library's struct.
    if (handle.isValid() &&
        (qstrcmp(handle.typeName(), "PGconn*") == 0 || qstrcmp(handle.typeName(), "pg_conn*") == 0))
        conn = *static_cast<PGconn* const*>(handle.data());
    if (!conn) {
        *error = QStringLiteral("passwords are kept by a PostgreSQL server only");
        return QString();
    }
    // As psql's \password does: the client library prepares the password
    // (SASLprep) and derives the verifier with a fresh salt.
    char* verifier = PQencryptPasswordConn(conn, password.toUtf8().constData(), role.toUtf8().constData(),
                                           "scram-sha-256");
    if (!verifier) {
        *error = QStringLiteral("cannot prepare the password: %1")
                     .arg(QString::fromUtf8(PQerrorMessage(conn)).trimmed());
        return QString();
    }
    const QString text = QString::fromUtf8(verifier);
    PQfreemem(verifier);
    return text;
}

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
    // The time limit counts the work, not the wait; so does the watchdog of
    // the batch commands, for which a wait for the file is a database that answers.
    s->m_statementSince.start();
    s->m_statementStartMs.storeRelaxed(QDateTime::currentMSecsSinceEpoch());
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

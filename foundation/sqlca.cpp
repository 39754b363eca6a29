// SPDX-License-Identifier: GPL-3.0-or-later
// The transaction object: statements with their status bookkeeping, cursors
// and transactions.
#include "foundation/sqlca.h"

#include "foundation/dbname.h"
#include "foundation/decimal.h"
#include "foundation/sqlca_p.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
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

QString errorText(const QSqlError& e)
{
    QString text = e.databaseText().trimmed();
    if (text.isEmpty())
        text = e.text().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("unknown database error");
    return text;
}

qint64 Sqlca::statementRunningMs() const
{
    const qint64 since = m_statementStartMs.loadRelaxed();
    return since == 0 ? 0 : QDateTime::currentMSecsSinceEpoch() - since;
}

Sqlca::Fetching::Fetching(Sqlca& sqlca) : m_sqlca(sqlca)
{
    m_sqlca.m_statementStartMs.storeRelaxed(QDateTime::currentMSecsSinceEpoch());
}

Sqlca::Fetching::~Fetching()
{
    m_sqlca.m_statementStartMs.storeRelaxed(0);
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
    } else if (code == u"42501") {
        // The database's refusal of a role's missing right, in the user's words,
        // with the server's own line (without its severity and code) after them.
        QString line = raw.section(u'\n', 0, 0).trimmed();
        line.remove(QRegularExpression(QStringLiteral("^\\S+:\\s+")));
        text = QStringLiteral("你无权限执行该操作,请询问系统管理员（数据库拒绝：%1）").arg(line);
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
    const Fetching reading(*this);
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
    const Fetching reading(*this);
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
    const Fetching reading(*this);
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

bool Sqlca::beginWriteSeeingCommits(bool waitForWriters)
{
    if (m_depth > 0)
        return begin(false);
    const int wait = m_waitSeconds;
    if (!waitForWriters)
        m_waitSeconds = 0;
    const bool ok = rawExec(m_dialect.beginWriteSeeingCommits());
    m_waitSeconds = wait;
    if (!ok)
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

Cursor::~Cursor()
{
    close();
}

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
    const Sqlca::Fetching reading(m_sqlca);
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
    const Sqlca::Fetching reading(m_sqlca);
    m_query.reset();
}

TransactionGuard::TransactionGuard(Sqlca& sqlca, bool exclusive) : m_sqlca(sqlca)
{
    m_active = m_sqlca.begin(exclusive);
}

TransactionGuard::TransactionGuard(Sqlca& sqlca, Writes writes) : m_sqlca(sqlca)
{
    switch (writes) {
    case Writes::AtOnce:
        m_active = m_sqlca.beginWrite();
        break;
    case Writes::SeeingCommits:
    case Writes::SeeingCommitsIfFreeNow:
        m_active = m_sqlca.beginWriteSeeingCommits(writes == Writes::SeeingCommits);
        break;
    }
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

QString Sqlca::tablesSchema()
{
    if (!m_schema.isEmpty())
        return m_schema;
    return selectValue(QStringLiteral("SELECT CAST(current_schema() AS text)")).toString();
}

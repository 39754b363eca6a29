// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/dialect.h"

QString Dialect::isnull(const QString& expr, const QString& replacement) const
{
    return QStringLiteral("coalesce(%1, %2)").arg(expr, replacement);
}

QString Dialect::left(const QString& expr, const QString& n) const
{
    if (isSQLite())
        return QStringLiteral("substr(%1, 1, %2)").arg(expr, n);
    return QStringLiteral("left(%1, %2)").arg(expr, n);
}

QString Dialect::money(const QString& expr) const
{
    if (isSQLite())
        return QStringLiteral("round2(%1)").arg(expr);
    return expr;
}

QString Dialect::insertSelect(const QString& table, const QString& columns, const QString& select) const
{
    return QStringLiteral("INSERT INTO %1 (%2) %3").arg(table, columns, select);
}

QString Dialect::joinedDelete(const QString& target, const QString& other, const QString& condition) const
{
    // SQLite: the joined rows by rowid, so the join is made once rather than
    // a correlated look-up per row of the target.
    if (isSQLite())
        return QStringLiteral("DELETE FROM %1 WHERE rowid IN (SELECT %1.rowid FROM %1, %2 WHERE %3)")
            .arg(target, other, condition);
    return QStringLiteral("DELETE FROM %1 USING %2 WHERE %3").arg(target, other, condition);
}

QString Dialect::joinedUpdate(const QString& target, const QString& assignments, const QString& other,
                              const QString& condition) const
{
    // Both SQLite (3.33 and later) and PostgreSQL accept UPDATE ... FROM.
    return QStringLiteral("UPDATE %1 SET %2 FROM %3 WHERE %4").arg(target, assignments, other, condition);
}

QString Dialect::unitCodeText(const QString& column) const
{
    switch (m_unitCodes) {
    case UnitCodes::Bytewise:
        break;
    case UnitCodes::Linguistic:
        return isSQLite() ? QStringLiteral("%1 COLLATE BINARY").arg(column)
                          : QStringLiteral("%1 COLLATE \"C\"").arg(column);
    case UnitCodes::NotText:
        // A number compared with text is never within a text range; its text form is.
        return isSQLite() ? QStringLiteral("CAST(%1 AS TEXT) COLLATE BINARY").arg(column)
                          : QStringLiteral("CAST(%1 AS text) COLLATE \"C\"").arg(column);
    }
    return column;
}

QString Dialect::prefixRange(const QString& column) const
{
    return QStringLiteral("%1 >= ? AND %1 < ?").arg(unitCodeText(column));
}

QString Dialect::aboveCodesOf(const QString& expr) const
{
    return isSQLite() ? QStringLiteral("(%1 || char(65535))").arg(expr)
                      : QStringLiteral("(%1 || chr(65535))").arg(expr);
}

QString Dialect::quoteIdentifier(const QString& name)
{
    QString n = name;
    n.replace(u'"', QStringLiteral("\"\""));
    return u'"' + n + u'"';
}

QString Dialect::prefixUpperBound(const QString& prefix)
{
    // Every code that starts with the prefix sorts below prefix + U+FFFF in a
    // binary (C) collation; unit codes are digits, so this is a tight bound.
    return prefix + QChar(0xFFFF);
}

QString Dialect::moneyType() const
{
    return isSQLite() ? QStringLiteral("NUMERIC") : QStringLiteral("NUMERIC(18,2)");
}

QString Dialect::figureType() const
{
    return isSQLite() ? QStringLiteral("NUMERIC") : QStringLiteral("NUMERIC(18,4)");
}

QString Dialect::textType(int length) const
{
    if (isSQLite())
        return QStringLiteral("TEXT");
    return QStringLiteral("VARCHAR(%1)").arg(length);
}

QString Dialect::beginExclusive() const
{
    return isSQLite() ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN");
}

QString Dialect::beginWriteSeeingCommits() const
{
    return isSQLite() ? QStringLiteral("BEGIN IMMEDIATE")
                      : QStringLiteral("BEGIN ISOLATION LEVEL READ COMMITTED");
}

QString Dialect::beginSnapshot() const
{
    return isSQLite() ? QStringLiteral("BEGIN DEFERRED")
                      : QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ");
}

QString Dialect::createTemporaryTable(const QString& name, const QString& columns) const
{
    if (isSQLite())
        return QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS %1 (%2)").arg(name, columns);
    return QStringLiteral("CREATE TEMPORARY TABLE IF NOT EXISTS %1 (%2) ON COMMIT PRESERVE ROWS")
        .arg(name, columns);
}

QString Dialect::emptyOwnTable(const QString& name) const
{
    // Named in the temporary schema: where the table is missing, the statement
    // fails rather than emptying a shared table of the same name.
    return isSQLite() ? QStringLiteral("DELETE FROM temp.%1").arg(name)
                      : QStringLiteral("TRUNCATE pg_temp.%1").arg(name);
}

QString Dialect::schemaChangeLock() const
{
    // A fixed key of this program's own: held to the end of the transaction.
    return isSQLite() ? QStringLiteral("SELECT 1")
                      : QStringLiteral("SELECT pg_advisory_xact_lock(4242170011)");
}

QString Dialect::lockSchemeKind() const
{
    // SQLite: the write transaction (BEGIN IMMEDIATE) already keeps every other writer out.
    return isSQLite() ? QString() : QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('s_zbfa'), ?)");
}

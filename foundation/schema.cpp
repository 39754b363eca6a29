// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/schema.h"

#include "foundation/sqlca.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <optional>

namespace schema {

QStringList tableNames()
{
    return {QStringLiteral("s_zbbm"), QStringLiteral("s_zbfa"), QStringLiteral("t_stat"),
            QStringLiteral("H_stat"), QStringLiteral("s_qybm"), QStringLiteral("s_sysset")};
}

namespace {

bool tableExists(Sqlca& sqlca, const QString& name)
{
    if (sqlca.backend() == Backend::SQLite) {
        return sqlca
                   .selectValue(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' "
                                               "AND lower(name) = lower(?)"),
                                {name})
                   .toInt() > 0;
    }
    // The server's catalogue, not information_schema: that lists only the tables
    // the role holds a right on, and a user who may not read the figures would
    // find H_stat "missing".
    return sqlca
               .selectValue(QStringLiteral("SELECT count(*) FROM pg_catalog.pg_class c "
                                           "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
                                           "WHERE n.nspname = current_schema() AND c.relname = lower(?) "
                                           "AND c.relkind IN ('r', 'p', 'v', 'f')"),
                            {name})
               .toInt() > 0;
}

QString columnList(const QList<Column>& columns)
{
    QStringList parts;
    for (const Column& c : columns)
        parts << c.name + u' ' + c.type;
    return parts.join(QStringLiteral(", "));
}

const QString kWorkingTableIndex = QStringLiteral("CREATE INDEX IF NOT EXISTS t_stat_zbbm ON t_stat (zbbm)");

// The columns of the shared t_stat (lower case); empty when there is no such table.
std::optional<QStringList> sharedWorkingTableColumns(Sqlca& sqlca)
{
    const auto rows = sqlca.selectAll(
        sqlca.backend() == Backend::SQLite
            ? QStringLiteral("SELECT lower(name) FROM pragma_table_info('t_stat', 'main')")
            : QStringLiteral(
                  "SELECT lower(a.attname) FROM pg_attribute a "
                  "JOIN pg_class c ON c.oid = a.attrelid JOIN pg_namespace n ON n.oid = c.relnamespace "
                  "WHERE n.nspname = current_schema() AND c.relname = 't_stat' "
                  "AND a.attnum > 0 AND NOT a.attisdropped"));
    if (!rows)
        return std::nullopt;
    QStringList names;
    for (const QVariantList& r : *rows)
        names << r.value(0).toString();
    return names;
}

} // namespace

QList<Column> workingTableColumns(const Dialect& dialect)
{
    const QString money = dialect.moneyType();
    return {{QStringLiteral("zbbm"), dialect.textType(4)},
            {QStringLiteral("qichu"), money},
            {QStringLiteral("fasheng"), money},
            {QStringLiteral("leiji"), money},
            {QStringLiteral("hh"), QStringLiteral("INTEGER DEFAULT 0")}};
}

bool prepareWorkingTable(Sqlca& sqlca, QString* error)
{
    if (sqlca.hasWorkingTable())
        return true;
    const Dialect& d = sqlca.dialect();
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    const auto shared = sharedWorkingTableColumns(sqlca);
    if (!shared)
        return fail(sqlca.SQLErrText);
    if (shared->isEmpty())
        return fail(QStringLiteral("the database %1 has no table t_stat (allstats init-db creates it)")
                        .arg(sqlca.description()));
    const QList<Column> columns = workingTableColumns(d);
    for (const Column& c : columns) {
        if (!shared->contains(c.name))
            return fail(
                QStringLiteral("the table t_stat of the database %1 has no column %2, which the "
                               "statistics run needs (t_stat holds zbbm, qichu, fasheng, leiji and hh)")
                    .arg(sqlca.description(), c.name));
    }
    // Without the shared table's index: it holds one run's rows, one per
    // indicator, which a scan reads as fast, and on PostgreSQL every run's
    // TRUNCATE gives the table and each of its indexes a new file.
    if (!sqlca.executeImmediate(d.createTemporaryTable(QStringLiteral("t_stat"), columnList(columns)))) {
        QString why = sqlca.SQLErrText;
        if (!d.isSQLite() && why.contains(QStringLiteral("temporary"), Qt::CaseInsensitive))
            why += QStringLiteral(" (the role needs the TEMPORARY privilege on the database: GRANT TEMPORARY "
                                  "ON DATABASE %1 TO %2)")
                       .arg(sqlca.database().databaseName(), sqlca.database().userName());
        return fail(QStringLiteral("cannot make this connection's working table t_stat: %1").arg(why));
    }
    // Statements kept prepared may still name the shared table.
    sqlca.forgetKeptStatements();
    // PostgreSQL searches pg_temp first unless the search path names it later.
    const QVariant own = sqlca.selectValue(QStringLiteral("SELECT ") + workingTableInPlace(d));
    if (sqlca.SQLCode == -1)
        return fail(sqlca.SQLErrText);
    if (own.toInt() != 1)
        return fail(
            QStringLiteral("t_stat does not name this connection's own working table: the search_path "
                           "(%1) lists pg_temp after the tables' schema; leave pg_temp out of it")
                .arg(sqlca.selectValue(QStringLiteral("SHOW search_path")).toString()));
    // Inside a caller's transaction the table goes with a rollback: made again next time.
    sqlca.setWorkingTable(!sqlca.inTransaction());
    return true;
}

QString workingTableInPlace(const Dialect& dialect)
{
    return dialect.isSQLite()
               ? QStringLiteral(
                     "(SELECT count(*) FROM sqlite_temp_master WHERE type = 'table' AND name = 't_stat')")
               : QStringLiteral(
                     "CASE WHEN to_regclass('t_stat') = to_regclass('pg_temp.t_stat') THEN 1 ELSE 0 END");
}

QStringList missingTables(Sqlca& sqlca)
{
    QStringList missing;
    for (const QString& t : tableNames())
        if (!tableExists(sqlca, t))
            missing << t;
    return missing;
}

bool create(Sqlca& sqlca, QString* error, Figures figures)
{
    const Dialect& d = sqlca.dialect();
    const bool pg = !d.isSQLite();
    const bool partitioned = figures == Figures::PartitionedByPeriod;
    if (partitioned && !pg) {
        if (error)
            *error = QStringLiteral("a SQLite file has no partitions");
        return false;
    }
    const QString figure = d.figureType();
    // Unit and region codes compare byte-wise, so a region is a range of the index.
    const QString code = pg ? QStringLiteral("VARCHAR(40) COLLATE \"C\"") : QStringLiteral("TEXT");
    auto text = [&](int n) { return d.textType(n); };

    // One creator at a time: a second init-db waits and then finds the tables there.
    TransactionGuard tx(sqlca, /*exclusive*/ d.isSQLite());
    if (!tx.active() || !sqlca.executeImmediate(d.schemaChangeLock())) {
        if (error)
            *error = sqlca.SQLErrText;
        return false;
    }
    // A figures table made here holds one row per period, unit and indicator;
    // a host's table is left as it is (it may hold what that key refuses).
    const bool newFigures = !tableExists(sqlca, QStringLiteral("H_stat"));
    if (sqlca.SQLCode == -1) {
        if (error)
            *error = sqlca.SQLErrText;
        return false;
    }

    QStringList statements = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS s_zbbm (number %1 NOT NULL PRIMARY KEY, zblx %2, zbmc %2, "
                       "zbms %3, flag1 INTEGER, flag2 INTEGER)")
            .arg(text(4), text(50), text(120)),
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS s_zbfa (falx INTEGER NOT NULL, fabm INTEGER NOT NULL, "
            "famc %1, hh INTEGER, zbbm %2 NOT NULL, zblx %1, zbmc %1, zbms %3, deffa INTEGER DEFAULT 0, "
            "xz INTEGER DEFAULT 1, flag2 INTEGER DEFAULT 0)")
            .arg(text(50), text(4), text(120)),
        QStringLiteral("CREATE INDEX IF NOT EXISTS s_zbfa_kind_code ON s_zbfa (falx, fabm)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS s_zbfa_kind_name ON s_zbfa (falx, famc)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS t_stat (%1)").arg(columnList(workingTableColumns(d))),
        kWorkingTableIndex,
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS H_stat (number %1 NOT NULL, kjqj %2 NOT NULL, zbbm %3 NOT NULL, "
            "qichu %4, fasheng %4, leiji %4)%5")
            .arg(code, text(6), text(4), figure,
                 partitioned ? QStringLiteral(" PARTITION BY LIST (kjqj)") : QString()),
        // Period first, then the unit code: a region of a period is one range of this index.
        QStringLiteral("CREATE %1INDEX IF NOT EXISTS H_stat_period_unit ON H_stat (kjqj, number, zbbm)")
            .arg(newFigures ? QStringLiteral("UNIQUE ") : QString()),
        QStringLiteral("CREATE TABLE IF NOT EXISTS s_qybm (qybm %1 NOT NULL PRIMARY KEY, qymc %2)")
            .arg(code, text(100)),
        QStringLiteral("CREATE TABLE IF NOT EXISTS s_sysset (qybm %1, csname %2, csvalue %3)")
            .arg(code, text(50), text(200)),
        QStringLiteral("CREATE INDEX IF NOT EXISTS s_sysset_region_name ON s_sysset (qybm, csname)"),
    };
    // The periods without a partition of their own; the index above is made
    // on every partition, present and future.
    if (partitioned && newFigures)
        statements << QStringLiteral("CREATE TABLE IF NOT EXISTS H_stat_default PARTITION OF H_stat DEFAULT");

    for (const QString& sql : statements) {
        if (!sqlca.executeImmediate(sql)) {
            if (error)
                *error = QStringLiteral("%1\n(%2)").arg(sqlca.SQLErrText, sql);
            return false;
        }
    }
    if (!tx.commit()) {
        if (error)
            *error = sqlca.SQLErrText;
        return false;
    }
    return true;
}

std::optional<bool> isPartitioned(Sqlca& sqlca, QString* error)
{
    if (sqlca.dialect().isSQLite())
        return false;
    const QVariant n = sqlca.selectValue(
        QStringLiteral("SELECT count(*) FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = "
                       "c.relnamespace WHERE n.nspname = current_schema() AND c.relname = 'h_stat' AND "
                       "c.relkind = 'p'"));
    if (sqlca.SQLCode == -1) {
        if (error)
            *error = sqlca.SQLErrText;
        return std::nullopt;
    }
    return n.toInt() > 0;
}

bool addPeriodPartition(Sqlca& sqlca, const QString& period, QString* error)
{
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    // The period is part of the table's name and of the statement: digits only.
    static const QRegularExpression yyyymm(QStringLiteral("^[0-9]{6}$"));
    if (!yyyymm.match(period).hasMatch())
        return fail(QStringLiteral("a period is six digits, YYYYMM: %1").arg(period));
    QString why;
    const auto partitioned = isPartitioned(sqlca, &why);
    if (!partitioned)
        return fail(why);
    if (!*partitioned)
        return fail(QStringLiteral("H_stat is not partitioned (init-db --partitioned makes it so)"));
    if (!sqlca.executeImmediate(
            QStringLiteral("CREATE TABLE IF NOT EXISTS H_stat_%1 PARTITION OF H_stat FOR VALUES IN ('%1')")
                .arg(period)))
        return fail(QStringLiteral("the partition of %1: %2").arg(period, sqlca.SQLErrText));
    return true;
}

} // namespace schema

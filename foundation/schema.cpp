#include "foundation/schema.h"

#include "foundation/sqlca.h"

#include <QSqlDatabase>

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
    return sqlca
               .selectValue(QStringLiteral("SELECT count(*) FROM information_schema.tables "
                                           "WHERE table_schema = current_schema() AND table_name = lower(?)"),
                            {name})
               .toInt() > 0;
}

} // namespace

QStringList missingTables(Sqlca& sqlca)
{
    QStringList missing;
    for (const QString& t : tableNames())
        if (!tableExists(sqlca, t))
            missing << t;
    return missing;
}

bool create(Sqlca& sqlca, QString* error)
{
    const Dialect& d = sqlca.dialect();
    const bool pg = !d.isSQLite();
    const QString money = d.moneyType();
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

    const QStringList statements = {
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
        QStringLiteral("CREATE TABLE IF NOT EXISTS t_stat (zbbm %1, qichu %2, fasheng %2, leiji %2, "
                       "hh INTEGER DEFAULT 0)")
            .arg(text(4), money),
        QStringLiteral("CREATE INDEX IF NOT EXISTS t_stat_zbbm ON t_stat (zbbm)"),
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS H_stat (number %1 NOT NULL, kjqj %2 NOT NULL, zbbm %3 NOT NULL, "
            "qichu %4, fasheng %4, leiji %4)")
            .arg(code, text(6), text(4), figure),
        // Period first, then the unit code: a region of a period is one range of this index.
        QStringLiteral("CREATE %1INDEX IF NOT EXISTS H_stat_period_unit ON H_stat (kjqj, number, zbbm)")
            .arg(newFigures ? QStringLiteral("UNIQUE ") : QString()),
        QStringLiteral("CREATE TABLE IF NOT EXISTS s_qybm (qybm %1 NOT NULL PRIMARY KEY, qymc %2)")
            .arg(code, text(100)),
        QStringLiteral("CREATE TABLE IF NOT EXISTS s_sysset (qybm %1, csname %2, csvalue %3)")
            .arg(code, text(50), text(200)),
        QStringLiteral("CREATE INDEX IF NOT EXISTS s_sysset_region_name ON s_sysset (qybm, csname)"),
    };

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

} // namespace schema

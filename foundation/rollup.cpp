// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/rollup.h"

#include "foundation/sqlca.h"
#include "foundation/users.h"

#include <QMap>
#include <QSet>
#include <atomic>

namespace rollup {

namespace {

constexpr int kPartLength = 6;
const QList<int> kLevels = {2, 4, 6, 9};
const QStringList kFigures = {QStringLiteral("qichu"), QStringLiteral("fasheng"), QStringLiteral("leiji")};

// A select list of one expression per figure column: `pattern` with %1 the
// table's alias and %2 the column.
QString eachFigure(const QString& pattern, const QString& alias = QString())
{
    QStringList out;
    for (const QString& f : kFigures)
        out << QString(pattern).replace(QStringLiteral("%1"), alias).replace(QStringLiteral("%2"), f);
    return out.join(QStringLiteral(", "));
}

const QString kZeroRows = QStringLiteral("SELECT S_zbbm.number, 0, 0, 0 FROM S_zbbm WHERE S_zbbm.flag1 = 0");

// A unit's code as text (codes a host keeps as numbers included).
QString codeOf(const Dialect& d, const QString& column)
{
    return d.isSQLite() ? QStringLiteral("CAST(%1 AS TEXT)").arg(column)
                        : QStringLiteral("CAST(%1 AS text) COLLATE \"C\"").arg(column);
}

Status failed(Sqlca& sqlca, const QString& what = QString())
{
    return Status::failure(what.isEmpty() ? sqlca.SQLErrText
                                          : what + QStringLiteral(": ") + sqlca.SQLErrText);
}

bool runAll(Sqlca& sqlca, const QStringList& statements, QString* error)
{
    for (const QString& sql : statements) {
        if (!sqlca.executeImmediate(sql)) {
            *error = QStringLiteral("%1\n(%2)").arg(sqlca.SQLErrText, sql.left(300));
            return false;
        }
    }
    return true;
}

const QStringList kSqliteTriggers = {QStringLiteral("h_statbj_insert"), QStringLiteral("h_statbj_update"),
                                     QStringLiteral("h_statbj_delete")};
const QStringList kPostgresTriggers = {QStringLiteral("h_statbj_insert"), QStringLiteral("h_statbj_update"),
                                       QStringLiteral("h_statbj_delete"),
                                       QStringLiteral("h_statbj_truncate")};

// The marks of a period in or over a region: the parts that start with it,
// and the part that holds a town. An empty region: every mark of the period.
QString marksOf(const QString& alias, const QString& region)
{
    if (region.isEmpty())
        return QStringLiteral("%1.kjqj = ?").arg(alias);
    return QStringLiteral("%1.kjqj = ? AND ((%1.qybm >= ? AND %1.qybm < ?) OR %1.qybm = ?)").arg(alias);
}

QVariantList marksBinds(const QString& period, const QString& region)
{
    if (region.isEmpty())
        return {period};
    return {period, region, Dialect::prefixUpperBound(region), region.left(kPartLength)};
}

// ---- SQLite: the triggers mark row by row; the rebuild runs here. ----------

QStringList sqliteTables()
{
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS H_statqy (kjqj TEXT NOT NULL, jb INTEGER NOT NULL, "
                       "qybm TEXT NOT NULL, zbbm TEXT NOT NULL, qichu BLOB, fasheng BLOB, leiji BLOB, "
                       "PRIMARY KEY (kjqj, jb, qybm, zbbm)) WITHOUT ROWID"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS H_statbj (kjqj TEXT NOT NULL, qybm TEXT NOT NULL, "
                       "PRIMARY KEY (kjqj, qybm)) WITHOUT ROWID"),
    };
}

// A row trigger writes the mark of its part once: the next rows of the part
// find it there and write nothing.
QStringList sqliteTriggers()
{
    const auto mark = [](const QString& row) {
        return QStringLiteral(
                   "INSERT OR IGNORE INTO H_statbj (kjqj, qybm) VALUES (%1.kjqj, substr(CAST(%1.number "
                   "AS TEXT), 1, 6));")
            .arg(row);
    };
    QStringList out;
    for (const QString& t : kSqliteTriggers)
        out << QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(t);
    out << QStringLiteral("CREATE TRIGGER h_statbj_insert AFTER INSERT ON H_stat BEGIN %1 END")
               .arg(mark(QStringLiteral("NEW")))
        << QStringLiteral("CREATE TRIGGER h_statbj_update AFTER UPDATE ON H_stat BEGIN %1 %2 END")
               .arg(mark(QStringLiteral("OLD")), mark(QStringLiteral("NEW")))
        << QStringLiteral("CREATE TRIGGER h_statbj_delete AFTER DELETE ON H_stat BEGIN %1 END")
               .arg(mark(QStringLiteral("OLD")));
    return out;
}

QString sqliteFigures(const QString& alias)
{
    return eachFigure(QStringLiteral("kind_figures(%1.%2, %1.number, %1.zbbm, %1.kjqj, '%2')"), alias);
}

QString sqliteMerged()
{
    return eachFigure(QStringLiteral("kind_merge(k.%2)"));
}

const QString kSqliteInsert =
    QStringLiteral("INSERT INTO H_statqy (kjqj, jb, qybm, zbbm, qichu, fasheng, leiji) ");

// The city and province rows of a period over the given areas, from their county rows.
bool sqliteAreas(Sqlca& sqlca, const QString& period, const QSet<QString>& areas)
{
    for (const QString& area : areas) {
        if (!sqlca.execute(QStringLiteral("DELETE FROM H_statqy WHERE kjqj = ? AND jb = ? AND qybm = ?"),
                           {period, int(area.size()), area}) ||
            !sqlca.execute(kSqliteInsert + QStringLiteral("SELECT ?, ?, ?, k.zbbm, %1 FROM H_statqy k "
                                                          "WHERE k.kjqj = ? AND k.jb = 6 AND k.qybm >= ? "
                                                          "AND k.qybm < ? GROUP BY k.zbbm")
                                               .arg(sqliteMerged()),
                           {period, int(area.size()), area, period, area, Dialect::prefixUpperBound(area)}))
            return false;
    }
    return true;
}

// The units are aggregated once, by the first nine characters of their code:
// the town rows (a shorter code is a row of its own, which no town's report
// reads); a county's rows are those rows merged. `where` limits the units (h)
// and `townsWhere` the rows merged (k) to what is built; the binds of each
// follow the period.
bool sqliteCountiesAndTowns(Sqlca& sqlca, const QString& period, const QString& where,
                            const QVariantList& whereBinds, const QString& townsWhere,
                            const QVariantList& townsBinds)
{
    const QString code = codeOf(sqlca.dialect(), QStringLiteral("h.number"));
    const QString towns =
        kSqliteInsert + QStringLiteral("SELECT ?, 9, substr(%1, 1, 9), h.zbbm, %2 FROM H_stat h "
                                       "WHERE h.kjqj = ? %3 GROUP BY substr(%1, 1, 9), h.zbbm")
                            .arg(code, sqliteFigures(QStringLiteral("h")), where);
    const QString counties =
        kSqliteInsert + QStringLiteral("SELECT ?, 6, substr(k.qybm, 1, 6), k.zbbm, %1 FROM "
                                       "H_statqy k WHERE k.kjqj = ? AND k.jb = 9 %2 "
                                       "GROUP BY substr(k.qybm, 1, 6), k.zbbm")
                            .arg(sqliteMerged(), townsWhere);
    return sqlca.execute(towns, QVariantList{period, period} + whereBinds) &&
           sqlca.execute(counties, QVariantList{period, period} + townsBinds);
}

bool sqliteWhole(Sqlca& sqlca, const QString& period, int* parts)
{
    const auto fromCounties = [&](int length) {
        return kSqliteInsert +
               QStringLiteral("SELECT ?, %1, substr(k.qybm, 1, %1), k.zbbm, %2 FROM H_statqy k "
                              "WHERE k.kjqj = ? AND k.jb = 6 AND length(k.qybm) >= %1 "
                              "GROUP BY substr(k.qybm, 1, %1), k.zbbm")
                   .arg(QString::number(length), sqliteMerged());
    };
    const QVariantList twice = {period, period};
    if (!sqlca.execute(QStringLiteral("DELETE FROM H_statbj WHERE kjqj = ?"), {period}) ||
        !sqlca.execute(QStringLiteral("DELETE FROM H_statqy WHERE kjqj = ?"), {period}) ||
        !sqliteCountiesAndTowns(sqlca, period, QString(), {}, QString(), {}) ||
        !sqlca.execute(fromCounties(4), twice) || !sqlca.execute(fromCounties(2), twice))
        return false;
    *parts = sqlca
                 .selectValue(
                     QStringLiteral("SELECT count(DISTINCT qybm) FROM H_statqy WHERE kjqj = ? AND jb = 6"),
                     {period})
                 .toInt();
    return sqlca.SQLCode != -1;
}

bool sqliteParts(Sqlca& sqlca, const QString& period, const QString& region, int* count)
{
    const Dialect& d = sqlca.dialect();
    const auto rows = sqlca.selectAll(QStringLiteral("SELECT b.qybm FROM H_statbj b WHERE ") +
                                          marksOf(QStringLiteral("b"), region),
                                      marksBinds(period, region));
    if (!rows)
        return false;
    const QString code = codeOf(d, QStringLiteral("h.number"));
    const QString inPart = QStringLiteral("AND %1 AND substr(%2, 1, 6) = ?")
                               .arg(d.prefixRange(QStringLiteral("h.number")), code);
    const QString townsInPart = QStringLiteral("AND k.qybm >= ? AND k.qybm < ? AND substr(k.qybm, 1, 6) = ?");
    QSet<QString> areas;
    for (const QVariantList& row : *rows)
        for (const int level : {4, 2})
            if (row.value(0).toString().size() >= level)
                areas.insert(row.value(0).toString().left(level));
    constexpr qsizetype kManyParts = 4;
    if (rows->size() > kManyParts) {
        // Many parts at once (a month's load): one pass over the units in or
        // over the region, those of the marked parts kept.
        const QString lo = region.left(kPartLength);
        const QVariantList range = {lo, Dialect::prefixUpperBound(lo)};
        const QString marked = QStringLiteral("IN (SELECT b.qybm FROM H_statbj b WHERE %1)")
                                   .arg(marksOf(QStringLiteral("b"), region));
        const QVariantList where = range + marksBinds(period, region);
        if (!sqlca.execute(
                QStringLiteral("DELETE FROM H_statqy WHERE kjqj = ? AND jb IN (6, 9) AND qybm >= ? AND "
                               "qybm < ? AND substr(qybm, 1, 6) ") +
                    marked,
                QVariantList{period} + where) ||
            !sqliteCountiesAndTowns(
                sqlca, period,
                QStringLiteral("AND %1 AND substr(%2, 1, 6) %3")
                    .arg(d.prefixRange(QStringLiteral("h.number")), code, marked),
                where, QStringLiteral("AND k.qybm >= ? AND k.qybm < ? AND substr(k.qybm, 1, 6) ") + marked,
                where))
            return false;
    } else {
        for (const QVariantList& row : *rows) {
            const QString part = row.value(0).toString();
            const QString upper = Dialect::prefixUpperBound(part);
            const QVariantList where = {part, upper, part};
            if (!sqlca.execute(
                    QStringLiteral("DELETE FROM H_statqy WHERE kjqj = ? AND ((jb = 6 AND qybm = ?) OR "
                                   "(jb = 9 AND qybm >= ? AND qybm < ? AND substr(qybm, 1, 6) = ?))"),
                    {period, part, part, upper, part}) ||
                !sqliteCountiesAndTowns(sqlca, period, inPart, where, townsInPart, where))
                return false;
        }
    }
    if (!sqliteAreas(sqlca, period, areas) || !sqlca.execute(QStringLiteral("DELETE FROM H_statbj WHERE ") +
                                                                 marksOf(QStringLiteral("H_statbj"), region),
                                                             marksBinds(period, region)))
        return false;
    *count = int(rows->size());
    return true;
}

// ---- PostgreSQL: statement triggers with transition tables; the rebuild is a
// function of the tables' owner, so a user whose row-level security shows
// only its region still builds its region's figures from every unit.

QStringList postgresTables()
{
    QStringList columns;
    for (const QString& f : kFigures)
        columns << QStringLiteral("%1_he numeric, %1_gs bigint, %1_zd numeric, %1_zx numeric").arg(f);
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS h_statqy (kjqj text NOT NULL, jb smallint NOT NULL, "
                       "qybm text COLLATE \"C\" NOT NULL, zbbm text NOT NULL, %1, "
                       "PRIMARY KEY (kjqj, jb, qybm, zbbm))")
            .arg(columns.join(QStringLiteral(", "))),
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS h_statbj (kjqj text NOT NULL, qybm text COLLATE \"C\" NOT NULL, "
            "PRIMARY KEY (kjqj, qybm))"),
    };
}

// Sum, count, maximum and minimum of each figure (the minimum as -max(-x): as
// in the scan, a NaN is passed on rather than stepped over).
QString postgresFigures(const QString& alias)
{
    return eachFigure(QStringLiteral("sum(%1.%2), count(%1.%2), max(%1.%2), -max(-%1.%2)"), alias);
}

QString postgresMerged()
{
    return eachFigure(QStringLiteral("sum(k.%2_he), sum(k.%2_gs), max(k.%2_zd), -max(-k.%2_zx)"));
}

QStringList postgresFunctions(const Dialect& d, const QString& schema)
{
    const QString path =
        QStringLiteral("SET search_path = %1, pg_temp").arg(Dialect::quoteIdentifier(schema));
    const QString code = codeOf(d, QStringLiteral("h.number"));
    const QString range =
        QStringLiteral("%1 >= v_part AND %1 < v_up").arg(d.unitCodeText(QStringLiteral("h.number")));
    const QString units = postgresFigures(QStringLiteral("h"));
    const QString merged = postgresMerged();
    const QString insert = QStringLiteral("INSERT INTO h_statqy ");
    // The units are aggregated once, by the first nine characters of their
    // code (see sqliteCountiesAndTowns); a county is those rows merged. %1
    // limits the units (h), %2 the rows merged (k).
    const QString countiesAndTowns =
        QStringLiteral(
            "    INSERT INTO h_statqy SELECT p_kjqj, 9, substr(%3, 1, 9), h.zbbm, %4 FROM h_stat h\n"
            "      WHERE h.kjqj = p_kjqj %1 GROUP BY substr(%3, 1, 9), h.zbbm;\n"
            "    INSERT INTO h_statqy SELECT p_kjqj, 6, substr(k.qybm, 1, 6), k.zbbm, %5 FROM h_statqy k\n"
            "      WHERE k.kjqj = p_kjqj AND k.jb = 9 %2 GROUP BY substr(k.qybm, 1, 6), k.zbbm;\n")
            .arg(QStringLiteral("%1"), QStringLiteral("%2"), code, units, merged);
    const QString wholePeriod = QString(countiesAndTowns)
                                    .replace(QStringLiteral("%1"), QString())
                                    .replace(QStringLiteral("%2"), QString());
    const QString onePart =
        QString(countiesAndTowns)
            .replace(QStringLiteral("%1"),
                     QStringLiteral("AND %1 AND substr(%2, 1, 6) = v_part").arg(range, code))
            .replace(
                QStringLiteral("%2"),
                QStringLiteral("AND k.qybm >= v_part AND k.qybm < v_up AND substr(k.qybm, 1, 6) = v_part"));
    // Many parts at once (a month's load): one pass over the units in or over
    // the region, those of the claimed parts kept.
    const QString manyParts =
        QString(countiesAndTowns)
            .replace(QStringLiteral("%1"),
                     QStringLiteral("AND %1 >= v_lo AND %1 < v_hi AND substr(%2, 1, 6) = ANY(v_parts)")
                         .arg(d.unitCodeText(QStringLiteral("h.number")), code))
            .replace(QStringLiteral("%2"), QStringLiteral("AND k.qybm >= v_lo AND k.qybm < v_hi "
                                                          "AND substr(k.qybm, 1, 6) = ANY(v_parts)"));
    // The writer locks the marks it finds (DO UPDATE … WHERE false locks and
    // writes nothing): a rebuild claiming them waits for its commit, so it
    // never removes a mark whose change its scan cannot see.
    const QString mark =
        QStringLiteral("CREATE OR REPLACE FUNCTION h_statbj_mark() RETURNS trigger LANGUAGE plpgsql SECURITY "
                       "DEFINER %1 AS $f$\n"
                       "BEGIN\n"
                       "  IF TG_OP = 'TRUNCATE' THEN\n"
                       "    DELETE FROM h_statqy;\n"
                       "    DELETE FROM h_statbj;\n"
                       "    RETURN NULL;\n"
                       "  END IF;\n"
                       "  IF TG_OP <> 'DELETE' THEN\n"
                       "    INSERT INTO h_statbj AS b (kjqj, qybm) SELECT DISTINCT n.kjqj, substr(%2, 1, 6) "
                       "FROM h_statbj_new n\n"
                       "      ON CONFLICT (kjqj, qybm) DO UPDATE SET kjqj = EXCLUDED.kjqj WHERE false;\n"
                       "  END IF;\n"
                       "  IF TG_OP <> 'INSERT' THEN\n"
                       "    INSERT INTO h_statbj AS b (kjqj, qybm) SELECT DISTINCT o.kjqj, substr(%3, 1, 6) "
                       "FROM h_statbj_old o\n"
                       "      ON CONFLICT (kjqj, qybm) DO UPDATE SET kjqj = EXCLUDED.kjqj WHERE false;\n"
                       "  END IF;\n"
                       "  RETURN NULL;\n"
                       "END $f$")
            .arg(path, codeOf(d, QStringLiteral("n.number")), codeOf(d, QStringLiteral("o.number")));
    const QString marks =
        QStringLiteral("b.kjqj = p_kjqj AND (p_region = '' OR (b.qybm >= p_region AND b.qybm < %1) "
                       "OR b.qybm = substr(p_region, 1, 6))")
            .arg(d.aboveCodesOf(QStringLiteral("p_region")));
    // A period's grouping fits in memory (work_mem): hashed, not sorted (the
    // planner underestimates the units of the claimed parts and would sort).
    const QString rebuild =
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION h_statqy_rebuild(p_kjqj text, p_region text, p_whole boolean, p_wait "
            "boolean) RETURNS integer LANGUAGE plpgsql SECURITY DEFINER %1 SET work_mem = '64MB' SET "
            "enable_sort = off SET plan_cache_mode = force_custom_plan AS $f$\n"
            "DECLARE\n"
            "  v_parts text[];\n"
            "  v_part text;\n"
            "  v_up text;\n"
            "  v_area text;\n"
            "  v_lo text;\n"
            "  v_hi text;\n"
            "BEGIN\n"
            "  IF p_wait THEN\n"
            "    PERFORM pg_advisory_xact_lock(hashtext('h_statqy'), hashtext(p_kjqj));\n"
            "  ELSIF NOT pg_try_advisory_xact_lock(hashtext('h_statqy'), hashtext(p_kjqj)) THEN\n"
            "    RETURN -1;\n"
            "  END IF;\n"
            "  IF p_whole THEN\n"
            "    DELETE FROM h_statbj WHERE kjqj = p_kjqj;\n"
            "    DELETE FROM h_statqy WHERE kjqj = p_kjqj;\n"
            "%2"
            "    %3 SELECT p_kjqj, 4, substr(k.qybm, 1, 4), k.zbbm, %4 FROM h_statqy k WHERE k.kjqj = "
            "p_kjqj\n"
            "      AND k.jb = 6 AND length(k.qybm) >= 4 GROUP BY substr(k.qybm, 1, 4), k.zbbm;\n"
            "    %3 SELECT p_kjqj, 2, substr(k.qybm, 1, 2), k.zbbm, %4 FROM h_statqy k WHERE k.kjqj = "
            "p_kjqj\n"
            "      AND k.jb = 6 AND length(k.qybm) >= 2 GROUP BY substr(k.qybm, 1, 2), k.zbbm;\n"
            "    RETURN (SELECT count(DISTINCT qybm) FROM h_statqy WHERE kjqj = p_kjqj AND jb = 6);\n"
            "  END IF;\n"
            // The marks claimed are those locked here; a mark committed after
            // stays for the next rebuild (without waiting: none is waited for).
            "  IF p_wait THEN\n"
            "    SELECT array_agg(x.qybm) INTO v_parts FROM (SELECT b.qybm FROM h_statbj b WHERE %5 FOR "
            "UPDATE) x;\n"
            "  ELSE\n"
            "    BEGIN\n"
            "      SELECT array_agg(x.qybm) INTO v_parts FROM (SELECT b.qybm FROM h_statbj b WHERE %5\n"
            "        FOR UPDATE NOWAIT) x;\n"
            "    EXCEPTION WHEN lock_not_available THEN\n"
            "      RETURN -1;\n"
            "    END;\n"
            "  END IF;\n"
            "  IF v_parts IS NULL THEN\n"
            "    RETURN 0;\n"
            "  END IF;\n"
            "  DELETE FROM h_statbj WHERE kjqj = p_kjqj AND qybm = ANY(v_parts);\n"
            "  IF array_length(v_parts, 1) > 4 THEN\n"
            "    v_lo := substr(p_region, 1, 6);\n"
            "    v_hi := %9;\n"
            "    DELETE FROM h_statqy WHERE kjqj = p_kjqj AND jb IN (6, 9) AND qybm >= v_lo AND qybm < v_hi\n"
            "      AND substr(qybm, 1, 6) = ANY(v_parts);\n"
            "%10"
            "  ELSE\n"
            "  FOREACH v_part IN ARRAY v_parts LOOP\n"
            "    v_up := %6;\n"
            "    DELETE FROM h_statqy WHERE kjqj = p_kjqj AND ((jb = 6 AND qybm = v_part)\n"
            "      OR (jb = 9 AND qybm >= v_part AND qybm < v_up AND substr(qybm, 1, 6) = v_part));\n"
            "%7"
            "  END LOOP;\n"
            "  END IF;\n"
            "  FOR v_area IN SELECT DISTINCT substr(x, 1, 4) FROM unnest(v_parts) x WHERE length(x) >= 4\n"
            "      UNION SELECT DISTINCT substr(x, 1, 2) FROM unnest(v_parts) x WHERE length(x) >= 2 LOOP\n"
            "    DELETE FROM h_statqy WHERE kjqj = p_kjqj AND jb = length(v_area) AND qybm = v_area;\n"
            "    %3 SELECT p_kjqj, length(v_area), v_area, k.zbbm, %4 FROM h_statqy k WHERE k.kjqj = p_kjqj\n"
            "      AND k.jb = 6 AND k.qybm >= v_area AND k.qybm < %8 GROUP BY k.zbbm;\n"
            "  END LOOP;\n"
            "  RETURN array_length(v_parts, 1);\n"
            "END $f$")
            .arg(path, wholePeriod, insert, merged, marks, d.aboveCodesOf(QStringLiteral("v_part")), onePart,
                 d.aboveCodesOf(QStringLiteral("v_area")), d.aboveCodesOf(QStringLiteral("v_lo")))
            .arg(manyParts);
    QStringList out = {mark, rebuild};
    for (const QString& t : kPostgresTriggers)
        out << QStringLiteral("DROP TRIGGER IF EXISTS %1 ON h_stat").arg(t);
    out << QStringLiteral("CREATE TRIGGER h_statbj_insert AFTER INSERT ON h_stat REFERENCING NEW TABLE AS "
                          "h_statbj_new FOR EACH STATEMENT EXECUTE FUNCTION h_statbj_mark()")
        << QStringLiteral(
               "CREATE TRIGGER h_statbj_update AFTER UPDATE ON h_stat REFERENCING OLD TABLE AS "
               "h_statbj_old NEW TABLE AS h_statbj_new FOR EACH STATEMENT EXECUTE FUNCTION h_statbj_mark()")
        << QStringLiteral("CREATE TRIGGER h_statbj_delete AFTER DELETE ON h_stat REFERENCING OLD TABLE AS "
                          "h_statbj_old FOR EACH STATEMENT EXECUTE FUNCTION h_statbj_mark()")
        << QStringLiteral("CREATE TRIGGER h_statbj_truncate AFTER TRUNCATE ON h_stat FOR EACH STATEMENT "
                          "EXECUTE FUNCTION h_statbj_mark()")
        // Every user may see which parts are stale; the kept rows follow the figures' rights.
        << QStringLiteral("GRANT SELECT ON h_statbj TO PUBLIC");
    // A load with session_replication_role = replica (which skips ordinary
    // triggers) still marks what it changes.
    for (const QString& t : kPostgresTriggers)
        out << QStringLiteral("ALTER TABLE h_stat ENABLE ALWAYS TRIGGER %1").arg(t);
    return out;
}

// PostgreSQL: whether the signed-in role may make triggers on H_stat (owns it
// or is a member of its owner); the refusal names the owner.
Status mayCreateTriggers(Sqlca& sqlca)
{
    if (sqlca.dialect().isSQLite())
        return Status::success();
    const auto row = sqlca.selectRow(QStringLiteral(
        "SELECT CAST(pg_get_userbyid(c.relowner) AS text), "
        "CASE WHEN pg_has_role(current_user, c.relowner, 'USAGE') THEN 1 ELSE 0 END, "
        "CAST(current_user AS text) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE n.nspname = current_schema() AND c.relname = 'h_stat'"));
    if (!row)
        return sqlca.SQLCode == 100 ? Status::failure(QStringLiteral("the database has no table H_stat"))
                                    : failed(sqlca);
    if (row->at(1).toInt() != 1)
        return Status::failure(
            QStringLiteral("the role %1 may not create triggers on H_stat: the kept figures are "
                           "enabled by the owner of H_stat (%2)")
                .arg(row->at(2).toString(), row->at(0).toString()));
    return Status::success();
}

} // namespace

bool isKeptLevel(const QString& region)
{
    return kLevels.contains(int(region.size()));
}

std::optional<bool> isEnabled(Sqlca& sqlca, QString* error)
{
    const bool lite = sqlca.dialect().isSQLite();
    const QVariant n =
        lite ? sqlca.selectValue(QStringLiteral(
                   "SELECT count(*) FROM sqlite_master WHERE (type = 'table' AND lower(name) IN ('h_statqy', "
                   "'h_statbj')) OR (type = 'trigger' AND lower(tbl_name) = 'h_stat' AND name IN "
                   "('h_statbj_insert', 'h_statbj_update', 'h_statbj_delete'))"))
             : sqlca.selectValue(QStringLiteral(
                   "SELECT (SELECT count(*) FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON "
                   "n.oid = "
                   "c.relnamespace WHERE n.nspname = current_schema() AND c.relname IN ('h_statqy', "
                   "'h_statbj')) + "
                   "(SELECT count(*) FROM pg_catalog.pg_trigger t JOIN pg_catalog.pg_class c ON c.oid = "
                   "t.tgrelid "
                   "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = "
                   "current_schema() "
                   "AND c.relname = 'h_stat' AND t.tgenabled <> 'D' AND t.tgname IN ('h_statbj_insert', "
                   "'h_statbj_update', 'h_statbj_delete', 'h_statbj_truncate'))"));
    if (sqlca.SQLCode == -1) {
        if (error)
            *error = sqlca.SQLErrText;
        return std::nullopt;
    }
    return n.toInt() == (lite ? 5 : 6);
}

Status enable(Sqlca& sqlca, Enabled* enabled)
{
    const Dialect& d = sqlca.dialect();
    if (const Status s = mayCreateTriggers(sqlca); !s)
        return s;
    TransactionGuard tx(sqlca, TransactionGuard::Writes::AtOnce);
    if (!tx.active())
        return failed(sqlca);
    if (!d.isSQLite() && !sqlca.executeImmediate(d.schemaChangeLock()))
        return failed(sqlca);
    QString error;
    const auto already = isEnabled(sqlca, &error);
    if (!already)
        return Status::failure(error);
    QStringList statements = d.isSQLite() ? sqliteTables() : postgresTables();
    if (d.isSQLite()) {
        statements << sqliteTriggers();
    } else {
        const QString schema = sqlca.tablesSchema();
        statements << postgresFunctions(d, schema);
    }
    if (!runAll(sqlca, statements, &error))
        return Status::failure(error);
    int parts = 0;
    if (!*already) {
        // Kept rows made before (or while the triggers were missing) may be
        // stale anywhere: every part of every period is built again.
        if (!sqlca.execute(QStringLiteral("DELETE FROM H_statqy")) ||
            !sqlca.execute(QStringLiteral("DELETE FROM H_statbj")) ||
            !sqlca.execute(
                QStringLiteral("INSERT INTO H_statbj (kjqj, qybm) SELECT DISTINCT h.kjqj, substr(%1, 1, 6) "
                               "FROM H_stat h")
                    .arg(codeOf(d, QStringLiteral("h.number")))))
            return failed(sqlca);
        parts = int(sqlca.SQLNRows);
    }
    if (!d.isSQLite()) {
        const auto users = users::hasUsersTable(sqlca, &error);
        if (!users)
            return Status::failure(error);
        if (*users &&
            !users::applyRegionPolicy(sqlca, QStringLiteral("h_statqy"), QStringLiteral("qybm"), &error))
            return Status::failure(error);
    }
    if (!tx.commit())
        return failed(sqlca);
    if (enabled)
        *enabled = {*already, parts};
    return Status::success();
}

Status disable(Sqlca& sqlca)
{
    const Dialect& d = sqlca.dialect();
    if (const Status s = mayCreateTriggers(sqlca); !s)
        return s;
    TransactionGuard tx(sqlca, TransactionGuard::Writes::AtOnce);
    if (!tx.active())
        return failed(sqlca);
    QStringList statements;
    if (d.isSQLite()) {
        for (const QString& t : kSqliteTriggers)
            statements << QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(t);
    } else {
        statements << d.schemaChangeLock();
        for (const QString& t : kPostgresTriggers)
            statements << QStringLiteral("DROP TRIGGER IF EXISTS %1 ON h_stat").arg(t);
        statements << QStringLiteral("DROP FUNCTION IF EXISTS h_statbj_mark()")
                   << QStringLiteral(
                          "DROP FUNCTION IF EXISTS h_statqy_rebuild(text, text, boolean, boolean)");
    }
    statements << QStringLiteral("DROP TABLE IF EXISTS H_statqy")
               << QStringLiteral("DROP TABLE IF EXISTS H_statbj");
    QString error;
    if (!runAll(sqlca, statements, &error))
        return Status::failure(error);
    return tx.commit() ? Status::success() : failed(sqlca);
}

std::optional<QList<PeriodState>> status(Sqlca& sqlca, QString* error)
{
    const auto fail = [&]() -> std::optional<QList<PeriodState>> {
        if (error)
            *error = sqlca.SQLErrText;
        return std::nullopt;
    };
    QMap<QString, PeriodState> periods;
    const auto kept =
        sqlca.selectAll(QStringLiteral("SELECT kjqj, count(*), count(DISTINCT CASE WHEN jb = 6 THEN "
                                       "qybm END) FROM H_statqy GROUP BY kjqj"));
    if (!kept)
        return fail();
    for (const QVariantList& r : *kept) {
        PeriodState& p = periods[r[0].toString()];
        p.keptRows = r[1].toLongLong();
        p.builtParts = r[2].toInt();
    }
    const auto marks = sqlca.selectAll(QStringLiteral("SELECT kjqj, count(*) FROM H_statbj GROUP BY kjqj"));
    if (!marks)
        return fail();
    for (const QVariantList& r : *marks)
        periods[r[0].toString()].staleParts = r[1].toInt();
    // The periods of H_stat, one index probe each.
    const auto figures = sqlca.selectAll(
        QStringLiteral("WITH RECURSIVE p (k) AS (SELECT min(kjqj) FROM H_stat UNION ALL "
                       "SELECT (SELECT min(kjqj) FROM H_stat WHERE kjqj > p.k) FROM p WHERE p.k IS NOT NULL) "
                       "SELECT k FROM p WHERE k IS NOT NULL"));
    if (!figures)
        return fail();
    for (const QVariantList& r : *figures)
        periods[r[0].toString()].inFigures = true;
    QList<PeriodState> out;
    for (auto it = periods.begin(); it != periods.end(); ++it) {
        it->period = it.key();
        out << *it;
    }
    return out;
}

namespace {

// Whether H_stat takes one row per period, unit and indicator: a unique key
// on the three columns, as init-db makes it. nullopt on error.
std::optional<bool> hasOneRowKey(Sqlca& sqlca)
{
    const QString sql =
        sqlca.dialect().isSQLite()
            ? QStringLiteral("SELECT count(*) FROM pragma_index_list('H_stat') l WHERE l.\"unique\" = 1 AND "
                             "(SELECT count(*) FROM pragma_index_info(l.name)) = 3 AND "
                             "(SELECT count(*) FROM pragma_index_info(l.name) i "
                             "WHERE lower(i.name) IN ('kjqj', 'number', 'zbbm')) = 3")
            : QStringLiteral(
                  "SELECT count(*) FROM pg_index i WHERE i.indrelid = to_regclass('h_stat') AND "
                  "i.indisunique AND i.indpred IS NULL AND i.indnkeyatts = 3 AND "
                  "(SELECT count(*) FROM pg_attribute a WHERE a.attrelid = i.indrelid AND "
                  "a.attnum = ANY(i.indkey) AND lower(a.attname) IN ('kjqj', 'number', 'zbbm')) = 3");
    const QVariant n = sqlca.selectValue(sql);
    if (sqlca.SQLCode == -1)
        return std::nullopt;
    return n.toInt() > 0;
}

// On a table without that key: the first second row (by unit and indicator)
// among the units the rebuild reads, as the refusal's text; empty where there
// is none. nullopt on error.
std::optional<QString> firstDuplicate(Sqlca& sqlca, const QString& period, const QString& region, bool whole)
{
    const auto keyed = hasOneRowKey(sqlca);
    if (!keyed)
        return std::nullopt;
    if (*keyed)
        return QString();
    const Dialect& d = sqlca.dialect();
    QString where = QStringLiteral("h.kjqj = ?");
    QVariantList binds = {period};
    if (!whole) {
        where += QStringLiteral(" AND substr(%1, 1, %2) IN (SELECT b.qybm FROM H_statbj b WHERE %3)")
                     .arg(codeOf(d, QStringLiteral("h.number")), QString::number(kPartLength),
                          marksOf(QStringLiteral("b"), region));
        binds += marksBinds(period, region);
    }
    const auto rows = sqlca.selectAll(
        QStringLiteral("SELECT %1, CAST(h.zbbm AS %2) FROM H_stat h WHERE %3 GROUP BY h.number, h.zbbm "
                       "HAVING count(*) > 1 ORDER BY 1, 2 LIMIT 1")
            .arg(codeOf(d, QStringLiteral("h.number")),
                 d.isSQLite() ? QStringLiteral("TEXT") : QStringLiteral("text"), where),
        binds);
    if (!rows)
        return std::nullopt;
    if (rows->isEmpty())
        return QString();
    return QStringLiteral(
               "H_stat holds a second row for unit %1, indicator %2, period %3; the figures assume "
               "one row per unit, indicator and period: remove the duplicates (the README says how to "
               "give H_stat that key)")
        .arg(rows->first().value(0).toString(), rows->first().value(1).toString(), period);
}

} // namespace

Rebuilt rebuild(Sqlca& sqlca, const QString& period, const QString& region, bool whole, Wait wait)
{
    const Dialect& d = sqlca.dialect();
    Rebuilt out;
    const auto failure = [&](Rebuilt::Kind kind) {
        out.kind = kind;
        out.error = sqlca.SQLErrText;
        return out;
    };
    TransactionGuard tx(sqlca, wait == Wait::Yes ? TransactionGuard::Writes::SeeingCommits
                                                 : TransactionGuard::Writes::SeeingCommitsIfFreeNow);
    if (!tx.active())
        return failure(wait == Wait::No ? Rebuilt::Busy : Rebuilt::Failed);
    const auto duplicate = firstDuplicate(sqlca, period, region, whole);
    if (!duplicate)
        return failure(Rebuilt::Failed);
    if (!duplicate->isEmpty()) {
        out.kind = Rebuilt::Failed;
        out.duplicate = true;
        out.error = *duplicate;
        return out;
    }
    if (d.isSQLite()) {
        const bool ok =
            whole ? sqliteWhole(sqlca, period, &out.parts) : sqliteParts(sqlca, period, region, &out.parts);
        if (!ok)
            return failure(Rebuilt::Failed);
    } else {
        const QVariant n = sqlca.selectValue(
            QStringLiteral(
                "SELECT h_statqy_rebuild(CAST(? AS text), coalesce(CAST(? AS text), ''), CAST(? AS boolean), "
                "CAST(? AS boolean))"),
            {period, region, whole ? QStringLiteral("true") : QStringLiteral("false"),
             wait == Wait::Yes ? QStringLiteral("true") : QStringLiteral("false")});
        if (sqlca.SQLCode != 0)
            return failure(Rebuilt::Failed);
        if (n.toInt() < 0)
            return failure(Rebuilt::Busy);
        out.parts = n.toInt();
    }
    if (!tx.commit())
        return failure(Rebuilt::Failed);
    return out;
}

std::optional<QStringList> stalePeriods(Sqlca& sqlca, QString* error)
{
    const auto rows = sqlca.selectAll(QStringLiteral("SELECT DISTINCT kjqj FROM H_statbj ORDER BY kjqj"));
    if (!rows) {
        if (error)
            *error = sqlca.SQLErrText;
        return std::nullopt;
    }
    QStringList out;
    for (const QVariantList& r : *rows)
        out << r.value(0).toString();
    return out;
}

namespace {
std::atomic<bool> g_readByReports = true;
} // namespace

void setReadByReports(bool read)
{
    g_readByReports = read;
}

bool prepare(Sqlca& sqlca, const QString& period, const QString& region, QString* refusal)
{
    if (!g_readByReports || !isKeptLevel(region))
        return false;
    const auto enabled = isEnabled(sqlca, nullptr);
    if (!enabled || !*enabled)
        return false;
    // Stale parts are built now where no one else is at it; else the run finds
    // their marks in its snapshot and scans.
    const auto stale = freshInSnapshot(sqlca, period, region);
    if (stale && !*stale) {
        const Rebuilt built = rebuild(sqlca, period, region, false, Wait::No);
        if (built.duplicate) {
            *refusal = built.error;
            return false;
        }
    }
    return true;
}

std::optional<bool> freshInSnapshot(Sqlca& sqlca, const QString& period, const QString& region)
{
    const QVariant n = sqlca.selectValue(
        QStringLiteral("SELECT CASE WHEN EXISTS (SELECT 1 FROM H_statbj b WHERE %1) THEN 1 ELSE 0 END")
            .arg(marksOf(QStringLiteral("b"), region)),
        marksBinds(period, region));
    if (sqlca.SQLCode == -1)
        return std::nullopt;
    return n.toInt() == 0;
}

bool fillWorkingRows(Sqlca& sqlca, const QString& period, const QString& region)
{
    const Dialect& d = sqlca.dialect();
    QStringList figures;
    for (const QString& f : kFigures) {
        figures << (d.isSQLite() ? QStringLiteral("kind_figure(k.%1, S_zbbm.flag1, k.zbbm, '%1')").arg(f)
                                 : d.money(QStringLiteral("CASE S_zbbm.flag1 WHEN 1 THEN k.%1_he WHEN 2 THEN "
                                                          "k.%1_he / NULLIF(k.%1_gs, 0) WHEN 3 THEN k.%1_zd "
                                                          "ELSE k.%1_zx END")
                                               .arg(f)));
    }
    const QString select =
        QStringLiteral("SELECT k.zbbm, %1 FROM H_statqy k, S_zbbm WHERE k.kjqj = ? AND k.jb = ? "
                       "AND k.qybm = ? AND k.zbbm = S_zbbm.number AND S_zbbm.flag1 IN (1, 2, 3, 4)")
            .arg(figures.join(QStringLiteral(", ")));
    return sqlca.execute(d.insertSelect(QStringLiteral("t_stat"),
                                        QStringLiteral("zbbm, qichu, fasheng, leiji"),
                                        select + QStringLiteral(" UNION ALL ") + kZeroRows),
                         {period, int(region.size()), region});
}

} // namespace rollup

// SPDX-License-Identifier: GPL-3.0-or-later
#include "foundation/users.h"

#include "foundation/sqlca.h"

#include <QCryptographicHash>
#include <QMetaType>
#include <QRegularExpression>

namespace users {

namespace {

QString quoteLiteral(const QString& text)
{
    QString t = text;
    t.replace(u'\'', QStringLiteral("''"));
    return u'\'' + t + u'\'';
}

bool fail(Sqlca& sqlca, QString* error, const QString& text = QString())
{
    if (error)
        *error = text.isEmpty() ? sqlca.SQLErrText : text;
    return false;
}

// The functions of the users table, in the order they need each other. Every
// one runs as the tables' owner (SECURITY DEFINER) with a search path that a
// caller cannot plant objects in, names every table with its schema and knows
// the caller as session_user (inside the function current_user is the owner).
// {S} is the quoted schema with its dot, {SL} the schema as a literal, {CAT},
// {REP} and {USR} the group roles as literals.
const char16_t* const kFunctions[] = {
    // The region of the signed-in role, for the row-level security: null (no
    // rows at all) for a role without a row.
    uR"(CREATE OR REPLACE FUNCTION {S}f_userqybm() RETURNS text
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $allstats$
  SELECT CAST(qybm AS text) FROM {S}s_yhqx WHERE yhm = CAST(session_user AS text)
$allstats$)",
    // The signed-in role's own row, for the sign-in.
    uR"(CREATE OR REPLACE FUNCTION {S}f_yhqx(OUT yhm text, OUT yhmc text, OUT qybm text, OUT qx text)
RETURNS SETOF record
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $allstats$
  SELECT CAST(u.yhm AS text), CAST(u.yhmc AS text), CAST(u.qybm AS text), CAST(u.qx AS text)
  FROM {S}s_yhqx u WHERE u.yhm = CAST(session_user AS text)
$allstats$)",
    // Who may manage users, and within what: the tables' owner (or a
    // superuser) everything (nulls); a member of the users group its own region
    // and rights; anyone else nothing.
    uR"(CREATE OR REPLACE FUNCTION {S}f_yh_scope(OUT c_qybm text, OUT c_qx text)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $allstats$
BEGIN
  IF coalesce((SELECT rolsuper FROM pg_roles WHERE rolname = session_user), false)
     OR pg_has_role(session_user, (SELECT c.relowner FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace
                                   WHERE n.nspname = {SL} AND c.relname = 's_yhqx'), 'MEMBER') THEN
    RETURN;
  END IF;
  IF NOT pg_has_role(session_user, {USR}, 'MEMBER') THEN
    RAISE EXCEPTION 'the role % may not manage the users of this database: it is not a member of %',
      session_user, {USR};
  END IF;
  SELECT CAST(u.qybm AS text), CAST(u.qx AS text) INTO c_qybm, c_qx
    FROM {S}s_yhqx u WHERE u.yhm = CAST(session_user AS text);
  IF NOT FOUND THEN
    RAISE EXCEPTION 'the role % is not a user of this database (it has no row in s_yhqx)', session_user;
  END IF;
END
$allstats$)",
    // A role name as the users table takes it.
    uR"(CREATE OR REPLACE FUNCTION {S}f_yh_name(p_yhm text) RETURNS void
LANGUAGE plpgsql IMMUTABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $allstats$
BEGIN
  IF p_yhm IS NULL OR p_yhm = '' THEN
    RAISE EXCEPTION 'a role name is needed';
  END IF;
  IF octet_length(p_yhm) > 63 THEN
    RAISE EXCEPTION 'the role name % is longer than the 63 bytes the server keeps', p_yhm;
  END IF;
  IF p_yhm ~ '[[:space:][:cntrl:]''"\\`]' THEN
    RAISE EXCEPTION 'the role name % may not hold spaces, quotes, backslashes or control characters', p_yhm;
  END IF;
  IF p_yhm LIKE 'pg\_%' THEN
    RAISE EXCEPTION 'role names beginning with pg_ are the server''s own: %', p_yhm;
  END IF;
END
$allstats$)",
    // A region and a rights string as the caller may give them: a region of
    // s_qybm within the caller's own, a rights string of 25 "0" and "1" that
    // gives the catalogue or the report and nothing the caller lacks.
    uR"(CREATE OR REPLACE FUNCTION {S}f_yh_check(p_qybm text, p_qx text, c_qybm text, c_qx text) RETURNS void
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $allstats$
BEGIN
  IF p_qybm IS NOT NULL THEN
    IF NOT EXISTS (SELECT 1 FROM {S}s_qybm q WHERE trim(q.qybm) = p_qybm) THEN
      RAISE EXCEPTION 'unknown region code "%": it is not a region code of s_qybm', p_qybm;
    END IF;
    IF c_qybm IS NOT NULL AND left(p_qybm, length(c_qybm)) <> c_qybm THEN
      RAISE EXCEPTION 'the region % lies outside your own region %', p_qybm, c_qybm;
    END IF;
  END IF;
  IF p_qx IS NOT NULL THEN
    IF p_qx !~ '^[01]{25}$' THEN
      RAISE EXCEPTION 'the rights string must be 25 characters, each 0 or 1: "%"', p_qx;
    END IF;
    IF substr(p_qx, 10, 1) = '0' AND substr(p_qx, 25, 1) = '0' THEN
      RAISE EXCEPTION 'the rights string gives neither the catalogue and schemes (position 10) nor the report '
        '(position 25): the user could not use allstats';
    END IF;
    IF c_qx IS NOT NULL THEN
      FOR i IN 1..25 LOOP
        IF substr(c_qx, i, 1) = '0' AND substr(p_qx, i, 1) <> '0' THEN
          RAISE EXCEPTION 'the rights string gives position %, which your own rights string does not', i;
        END IF;
      END LOOP;
    END IF;
  END IF;
END
$allstats$)",
    // The group roles follow the rights string.
    uR"(CREATE OR REPLACE FUNCTION {S}f_yh_groups(p_yhm text, p_qx text) RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $allstats$
BEGIN
  IF substr(p_qx, 10, 1) <> '0' THEN
    EXECUTE format('GRANT %I TO %I', {CAT}, p_yhm);
  ELSIF pg_has_role(p_yhm, {CAT}, 'MEMBER') THEN
    EXECUTE format('REVOKE %I FROM %I', {CAT}, p_yhm);
  END IF;
  IF substr(p_qx, 25, 1) <> '0' THEN
    EXECUTE format('GRANT %I TO %I', {REP}, p_yhm);
  ELSIF pg_has_role(p_yhm, {REP}, 'MEMBER') THEN
    EXECUTE format('REVOKE %I FROM %I', {REP}, p_yhm);
  END IF;
END
$allstats$)",
    // A user the caller may change or remove: one of s_yhqx, within the
    // caller's region, and not an administrator of the database.
    uR"(CREATE OR REPLACE FUNCTION {S}f_yh_target(p_yhm text, c_qybm text) RETURNS void
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $allstats$
DECLARE
  l_qybm text;
BEGIN
  SELECT CAST(u.qybm AS text) INTO l_qybm FROM {S}s_yhqx u WHERE u.yhm = p_yhm;
  IF NOT FOUND THEN
    RAISE EXCEPTION 'the role % is not a user of this database (it has no row in s_yhqx)', p_yhm;
  END IF;
  IF c_qybm IS NOT NULL AND left(l_qybm, length(c_qybm)) <> c_qybm THEN
    RAISE EXCEPTION 'the user % belongs to the region %, outside your own region %', p_yhm, l_qybm, c_qybm;
  END IF;
  IF EXISTS (SELECT 1 FROM pg_roles r WHERE r.rolname = p_yhm AND (r.rolsuper OR pg_has_role(r.oid,
      (SELECT c.relowner FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace
        WHERE n.nspname = {SL} AND c.relname = 's_yhqx'), 'MEMBER'))) THEN
    RAISE EXCEPTION 'the role % administers this database: change it with the server''s own tools', p_yhm;
  END IF;
END
$allstats$)",
    uR"(CREATE OR REPLACE FUNCTION {S}f_yh_add(p_yhm text, p_verifier text, p_qybm text, p_qx text, p_yhmc text)
RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $allstats$
DECLARE
  c record;
BEGIN
  -- One administrator at a time; readers of the table are not held up.
  LOCK TABLE {S}s_yhqx IN SHARE ROW EXCLUSIVE MODE;
  SELECT * INTO c FROM {S}f_yh_scope();
  PERFORM {S}f_yh_name(p_yhm);
  IF p_qybm IS NULL OR p_qx IS NULL THEN
    RAISE EXCEPTION 'a new user needs a region and a rights string';
  END IF;
  PERFORM {S}f_yh_check(p_qybm, p_qx, c.c_qybm, c.c_qx);
  IF EXISTS (SELECT 1 FROM {S}s_yhqx u WHERE u.yhm = p_yhm) THEN
    RAISE EXCEPTION 'the role % is a user of this database already (allstats user set changes it)', p_yhm;
  END IF;
  IF EXISTS (SELECT 1 FROM pg_roles r WHERE r.rolname = p_yhm) THEN
    RAISE EXCEPTION 'a role named % exists on the server already: choose another name', p_yhm;
  END IF;
  IF p_verifier IS NULL OR p_verifier NOT LIKE 'SCRAM-SHA-256$%' THEN
    RAISE EXCEPTION 'the password must come as its SCRAM-SHA-256 verifier';
  END IF;
  EXECUTE format('CREATE ROLE %I LOGIN PASSWORD %L', p_yhm, p_verifier);
  PERFORM {S}f_yh_groups(p_yhm, p_qx);
  INSERT INTO {S}s_yhqx (yhm, yhmc, qybm, qx) VALUES (p_yhm, coalesce(p_yhmc, ''), p_qybm, p_qx);
END
$allstats$)",
    uR"(CREATE OR REPLACE FUNCTION {S}f_yh_set(p_yhm text, p_verifier text, p_qybm text, p_qx text, p_yhmc text)
RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $allstats$
DECLARE
  c record;
BEGIN
  LOCK TABLE {S}s_yhqx IN SHARE ROW EXCLUSIVE MODE;
  SELECT * INTO c FROM {S}f_yh_scope();
  PERFORM {S}f_yh_target(p_yhm, c.c_qybm);
  PERFORM {S}f_yh_check(p_qybm, p_qx, c.c_qybm, c.c_qx);
  IF NOT EXISTS (SELECT 1 FROM pg_roles r WHERE r.rolname = p_yhm) THEN
    RAISE EXCEPTION 'the role % no longer exists on the server: remove the user and add it again', p_yhm;
  END IF;
  IF p_verifier IS NOT NULL THEN
    IF p_verifier NOT LIKE 'SCRAM-SHA-256$%' THEN
      RAISE EXCEPTION 'the password must come as its SCRAM-SHA-256 verifier';
    END IF;
    EXECUTE format('ALTER ROLE %I PASSWORD %L', p_yhm, p_verifier);
  END IF;
  IF p_qx IS NOT NULL THEN
    PERFORM {S}f_yh_groups(p_yhm, p_qx);
  END IF;
  UPDATE {S}s_yhqx SET qybm = coalesce(p_qybm, qybm), qx = coalesce(p_qx, qx), yhmc = coalesce(p_yhmc, yhmc)
   WHERE yhm = p_yhm;
END
$allstats$)",
    uR"(CREATE OR REPLACE FUNCTION {S}f_yh_remove(p_yhm text) RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $allstats$
DECLARE
  c record;
BEGIN
  LOCK TABLE {S}s_yhqx IN SHARE ROW EXCLUSIVE MODE;
  SELECT * INTO c FROM {S}f_yh_scope();
  PERFORM {S}f_yh_target(p_yhm, c.c_qybm);
  DELETE FROM {S}s_yhqx WHERE yhm = p_yhm;
  -- The role goes with its row; memberships go with the role. A role that
  -- holds anything else (objects, rights in another database) stays, and
  -- so does its row: the server's refusal says what it holds.
  IF EXISTS (SELECT 1 FROM pg_roles r WHERE r.rolname = p_yhm) THEN
    EXECUTE format('DROP ROLE %I', p_yhm);
  END IF;
END
$allstats$)",
    uR"(CREATE OR REPLACE FUNCTION {S}f_yh_list()
RETURNS TABLE (yhm text, yhmc text, qybm text, qx text, dl boolean)
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $allstats$
  SELECT CAST(u.yhm AS text), CAST(u.yhmc AS text), CAST(u.qybm AS text), CAST(u.qx AS text),
         coalesce(r.rolcanlogin, false)
  FROM {S}s_yhqx u CROSS JOIN {S}f_yh_scope() c LEFT JOIN pg_roles r ON r.rolname = u.yhm
  WHERE c.c_qybm IS NULL OR left(u.qybm, length(c.c_qybm)) = c.c_qybm
  ORDER BY u.qybm, u.yhm
$allstats$)",
};

// Who may call which function: the look-ups of the sign-in and the policy
// every group, the administration the users group; the helpers only the owner.
const char16_t* const kEveryGroup[] = {u"f_userqybm()", u"f_yhqx()"};
const char16_t* const kUsersGroup[] = {u"f_yh_add(text, text, text, text, text)",
                                       u"f_yh_set(text, text, text, text, text)", u"f_yh_remove(text)",
                                       u"f_yh_list()"};
const char16_t* const kOwnerOnly[] = {u"f_yh_scope()", u"f_yh_name(text)",
                                      u"f_yh_check(text, text, text, text)", u"f_yh_groups(text, text)",
                                      u"f_yh_target(text, text)"};

// The tables whose rows a role sees by its region, with their code column:
// the figures per unit. (A table of kept per-level figures joins this list
// with its region code column.)
struct ScopedTable
{
    const char16_t* table;
    const char16_t* column;
};
const ScopedTable kScopedTables[] = {{u"h_stat", u"number"}, {u"h_statqy", u"qybm"}};

QString utf8Left(const QString& text, int bytes)
{
    QString out;
    for (const QChar c : text) {
        if ((out + c).toUtf8().size() > bytes)
            break;
        out += c;
    }
    return out;
}

bool runAll(Sqlca& sqlca, const QStringList& statements, QString* error)
{
    for (const QString& sql : statements)
        if (!sqlca.executeImmediate(sql))
            return fail(sqlca, error, QStringLiteral("%1\n(%2)").arg(sqlca.SQLErrText, sql.left(200)));
    return true;
}

Status callFailed(Sqlca& sqlca)
{
    // The first line is what the function said; the context lines after it
    // name the function's inner steps and the code the kind of error.
    QString text = sqlca.SQLErrText.section(u'\n', 0, 0).trimmed();
    static const QRegularExpression code(QStringLiteral("\\s*\\([0-9A-Z]{5}\\)$"));
    static const QRegularExpression severity(QStringLiteral("^\\S+:\\s\\s")); // "ERROR:  "
    text.remove(code).remove(severity);
    return Status::failure(text.isEmpty() ? sqlca.SQLErrText : text);
}

} // namespace

Groups groupNames(const QString& database, const QString& schema)
{
    QString base = database;
    if (!schema.isEmpty() && schema != u"public")
        base += u'_' + schema;
    // The server keeps 63 bytes of a name; a longer one is cut and marked with
    // a digest of the whole, so two long names never meet.
    constexpr int kNameBytes = 63;
    constexpr int kSuffixBytes = 5; // _zbgl
    if (base.toUtf8().size() + kSuffixBytes > kNameBytes) {
        const QString digest = QString::fromLatin1(
            QCryptographicHash::hash(base.toUtf8(), QCryptographicHash::Md5).toHex().left(8));
        base = utf8Left(base, kNameBytes - kSuffixBytes - 9) + u'_' + digest;
    }
    return {base + QStringLiteral("_zbgl"), base + QStringLiteral("_bbcx"), base + QStringLiteral("_yhgl")};
}

std::optional<Groups> groupNames(Sqlca& sqlca)
{
    const QVariant database = sqlca.selectValue(QStringLiteral("SELECT CAST(current_database() AS text)"));
    if (sqlca.SQLCode != 0)
        return std::nullopt;
    const QString schema = sqlca.tablesSchema();
    if (sqlca.SQLCode != 0)
        return std::nullopt;
    return groupNames(database.toString(), schema);
}

std::optional<bool> hasUsersTable(Sqlca& sqlca, QString* error)
{
    if (sqlca.backend() != Backend::PostgreSQL)
        return false;
    // The server's catalogue: a role finds the table whatever it may read.
    const QVariant n = sqlca.selectValue(
        QStringLiteral("SELECT count(*) FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n "
                       "ON n.oid = c.relnamespace WHERE c.relname = 's_yhqx' "
                       "AND n.nspname = coalesce(NULLIF(?, ''), current_schema())"),
        {sqlca.schemaName()});
    if (sqlca.SQLCode != 0) {
        if (error)
            *error = sqlca.SQLErrText;
        return std::nullopt;
    }
    return n.toInt() > 0;
}

SignIn signIn(Sqlca& sqlca)
{
    SignIn result;
    if (sqlca.backend() != Backend::PostgreSQL)
        return result;
    // Whether the database has the users table, and whether the role is its
    // owner (or a superuser), who keeps every region and right.
    const auto row = sqlca.selectRow(
        QStringLiteral(
            "SELECT CAST(n.nspname AS text), r.rolsuper OR pg_has_role(r.oid, c.relowner, 'MEMBER') "
            "FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace, "
            "pg_catalog.pg_roles r WHERE c.relname = 's_yhqx' "
            "AND n.nspname = coalesce(NULLIF(?, ''), current_schema()) AND r.rolname = session_user"),
        {sqlca.schemaName()});
    if (!row) {
        if (sqlca.SQLCode == -1) {
            result.kind = SignIn::Failed;
            result.error = sqlca.SQLErrText;
        }
        return result; // no users table: as before
    }
    if (row->at(1).toBool())
        return result;
    result.user.role = sqlca.signedInRole();
    const auto own = sqlca.selectAll(QStringLiteral("SELECT yhmc, qybm, qx FROM %1.f_yhqx()")
                                         .arg(Dialect::quoteIdentifier(row->at(0).toString())));
    if (!own) {
        result.kind = SignIn::Failed;
        result.error = sqlca.SQLErrText;
        return result;
    }
    if (own->isEmpty()) {
        result.kind = SignIn::NotAUser;
        return result;
    }
    result.kind = SignIn::Scoped;
    result.user.name = own->first().value(0).toString().trimmed();
    result.user.region = own->first().value(1).toString().trimmed();
    result.user.rights = own->first().value(2).toString().trimmed();
    return result;
}

QString authorName(const Sqlca& sqlca, const SignIn& who)
{
    if (sqlca.backend() != Backend::PostgreSQL)
        return {};
    if (who.kind == SignIn::Scoped && !who.user.name.isEmpty())
        return who.user.name;
    return sqlca.signedInRole();
}

Status stillAUser(Sqlca& sqlca, const QString& role)
{
    const QString removed =
        QStringLiteral("当前用户“%1”已被系统管理员删除或停用，请重新登录或询问系统管理员").arg(role);
    const QVariant exists = sqlca.selectValue(
        QStringLiteral("SELECT count(*) FROM pg_catalog.pg_roles WHERE rolname = ?"), {role});
    if (sqlca.SQLCode != 0)
        return Status::failure(sqlca.SQLErrText);
    if (exists.toInt() == 0)
        return Status::failure(removed);
    const SignIn again = signIn(sqlca);
    if (again.kind == SignIn::Failed)
        return Status::failure(again.error);
    if (again.kind == SignIn::NotAUser)
        return Status::failure(removed);
    return Status::success();
}

QString narrowRights(const QString& table, const QString& given)
{
    if (given.isNull())
        return table;
    QString rights = table;
    for (qsizetype i = 0; i < std::min(rights.size(), given.size()); ++i)
        if (given.at(i) == u'0')
            rights[i] = u'0';
    return rights;
}

QString roleNameProblem(const QString& role)
{
    if (role.isEmpty())
        return QStringLiteral("a role name is needed");
    if (role.toUtf8().size() > 63)
        return QStringLiteral("the role name %1 is longer than the 63 bytes the server keeps").arg(role);
    for (const QChar c : role)
        if (c.isSpace() || c.category() == QChar::Other_Control || c == u'\'' || c == u'"' || c == u'\\' ||
            c == u'`')
            return QStringLiteral("the role name %1 may not hold spaces, quotes, backslashes or control "
                                  "characters")
                .arg(role);
    if (role.startsWith(QStringLiteral("pg_")))
        return QStringLiteral("role names beginning with pg_ are the server's own: %1").arg(role);
    return QString();
}

QString rightsProblem(const QString& rights)
{
    static const QRegularExpression valid(QStringLiteral("^[01]{%1}$").arg(kRightsLength));
    if (!valid.match(rights).hasMatch())
        return QStringLiteral(
                   "the rights string must be %1 characters, each 0 or 1 (position %2: the catalogue "
                   "and schemes, %3: the report), not \"%4\" (%5 characters)")
            .arg(kRightsLength)
            .arg(kCatalogueRight)
            .arg(kReportRight)
            .arg(rights)
            .arg(rights.size());
    if (rights.at(kCatalogueRight - 1) == u'0' && rights.at(kReportRight - 1) == u'0')
        return QStringLiteral(
                   "the rights string gives neither the catalogue and schemes (position %1) nor the "
                   "report (position %2): the user could not use allstats")
            .arg(kCatalogueRight)
            .arg(kReportRight);
    return QString();
}

bool applyRegionPolicy(Sqlca& sqlca, const QString& table, const QString& column, QString* error)
{
    const QString schema = sqlca.tablesSchema();
    if (sqlca.SQLCode != 0)
        return fail(sqlca, error);
    const auto groups = groupNames(sqlca);
    if (!groups)
        return fail(sqlca, error);
    // Codes kept as text compare in the C collation, so the range is exactly
    // the codes that start with the region and an index on the code (C
    // collated, as the tables this program makes are) serves it; codes kept as
    // numbers are compared by their text.
    const QVariant category = sqlca.selectValue(
        QStringLiteral("SELECT CAST(t.typcategory AS text) FROM pg_catalog.pg_attribute a "
                       "JOIN pg_catalog.pg_type t ON t.oid = a.atttypid "
                       "JOIN pg_catalog.pg_class c ON c.oid = a.attrelid "
                       "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
                       "WHERE n.nspname = ? AND c.relname = lower(?) AND a.attname = lower(?) "
                       "AND NOT a.attisdropped"),
        {schema, table, column});
    if (sqlca.SQLCode == -1)
        return fail(sqlca, error);
    if (category.isNull())
        return fail(sqlca, error, QStringLiteral("the table %1 has no column %2").arg(table, column));
    const QString s = Dialect::quoteIdentifier(schema) + u'.';
    const QString target = s + Dialect::quoteIdentifier(table.toLower());
    const QString code =
        category.toString() == u"S"
            ? QStringLiteral("%1 COLLATE \"C\"").arg(Dialect::quoteIdentifier(column.toLower()))
            : QStringLiteral("CAST(%1 AS text) COLLATE \"C\"")
                  .arg(Dialect::quoteIdentifier(column.toLower()));
    // The region is looked up once per statement ((SELECT …) is an init plan),
    // and codes are digits, so ':' (after '9') closes the range.
    const QString region = QStringLiteral("(SELECT %1f_userqybm())").arg(s);
    const QString range = QStringLiteral("%1 >= %2 AND %1 < %2 || ':'").arg(code, region);
    const QString policy = Dialect::quoteIdentifier(table.toLower() + QStringLiteral("_qybm"));
    return runAll(
        sqlca,
        {QStringLiteral("ALTER TABLE %1 ENABLE ROW LEVEL SECURITY").arg(target),
         QStringLiteral("DROP POLICY IF EXISTS %1 ON %2").arg(policy, target),
         QStringLiteral("CREATE POLICY %1 ON %2 USING (%3) WITH CHECK (%3)").arg(policy, target, range),
         QStringLiteral("GRANT SELECT ON %1 TO %2").arg(target, Dialect::quoteIdentifier(groups->report))},
        error);
}

bool createRoles(Sqlca& sqlca, QString* error)
{
    if (sqlca.backend() != Backend::PostgreSQL)
        return fail(sqlca, error,
                    QStringLiteral("a SQLite file has no roles: its file permissions decide who may use it"));
    TransactionGuard tx(sqlca);
    // One init-db at a time, as for the tables.
    if (!tx.active() || !sqlca.executeImmediate(sqlca.dialect().schemaChangeLock()))
        return fail(sqlca, error);
    const QString schema = sqlca.tablesSchema();
    if (sqlca.SQLCode != 0 || schema.isEmpty())
        return fail(sqlca, error, sqlca.SQLCode != 0 ? sqlca.SQLErrText : QStringLiteral("no schema"));
    const QVariant database = sqlca.selectValue(QStringLiteral("SELECT CAST(current_database() AS text)"));
    if (sqlca.SQLCode != 0)
        return fail(sqlca, error);

    // Only the tables' owner sets the rules, and it must be able to make roles.
    const auto me = sqlca.selectRow(
        QStringLiteral("SELECT CAST(r.rolname AS text), r.rolsuper, r.rolcreaterole, "
                       "pg_has_role(r.oid, c.relowner, 'MEMBER'), CAST(pg_get_userbyid(c.relowner) AS text) "
                       "FROM pg_catalog.pg_roles r, pg_catalog.pg_class c "
                       "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
                       "WHERE r.rolname = current_user AND n.nspname = ? AND c.relname = 'h_stat'"),
        {schema});
    if (!me)
        return fail(sqlca, error,
                    sqlca.SQLCode == 100 ? QStringLiteral("the schema %1 has no table H_stat").arg(schema)
                                         : sqlca.SQLErrText);
    const QString role = me->at(0).toString();
    if (!me->at(1).toBool() && !me->at(3).toBool())
        return fail(
            sqlca, error,
            QStringLiteral("the role %1 does not own the tables (their owner is %2): init-db --roles is "
                           "run by the tables' owner")
                .arg(role, me->at(4).toString()));
    if (!me->at(1).toBool() && !me->at(2).toBool())
        return fail(sqlca, error,
                    QStringLiteral("the role %1 may not create roles: as a superuser, give it the right with "
                                   "ALTER ROLE %2 CREATEROLE")
                        .arg(role, Dialect::quoteIdentifier(role)));

    const Groups g = groupNames(database.toString(), schema);
    const QString s = Dialect::quoteIdentifier(schema) + u'.';
    for (const QString& text : {s, g.catalogue, g.report, g.users})
        if (text.contains(QStringLiteral("$allstats$")))
            return fail(sqlca, error, QStringLiteral("a name may not hold $allstats$: %1").arg(text));

    QStringList statements;
    statements << QStringLiteral("CREATE TABLE IF NOT EXISTS %1s_yhqx (yhm VARCHAR(63) NOT NULL PRIMARY KEY, "
                                 "yhmc VARCHAR(50), qybm VARCHAR(40) COLLATE \"C\" NOT NULL, "
                                 "qx VARCHAR(%2) NOT NULL CHECK (qx ~ '^[01]{%2}$'))")
                      .arg(s)
                      .arg(kRightsLength);
    statements << QStringLiteral("REVOKE ALL ON %1s_yhqx FROM PUBLIC").arg(s);
    for (const QString& group : {g.catalogue, g.report, g.users}) {
        const QVariant there = sqlca.selectValue(
            QStringLiteral("SELECT count(*) FROM pg_catalog.pg_roles WHERE rolname = ?"), {group});
        if (sqlca.SQLCode != 0)
            return fail(sqlca, error);
        if (there.toInt() == 0)
            statements << QStringLiteral("CREATE ROLE %1 NOLOGIN").arg(Dialect::quoteIdentifier(group));
    }
    for (const char16_t* f : kFunctions) {
        QString sql = QString::fromUtf16(f);
        sql.replace(QStringLiteral("{S}"), s)
            .replace(QStringLiteral("{SL}"), quoteLiteral(schema))
            .replace(QStringLiteral("{CAT}"), quoteLiteral(g.catalogue))
            .replace(QStringLiteral("{REP}"), quoteLiteral(g.report))
            .replace(QStringLiteral("{USR}"), quoteLiteral(g.users));
        statements << sql;
    }
    const QString everyGroup =
        QStringList{Dialect::quoteIdentifier(g.catalogue), Dialect::quoteIdentifier(g.report),
                    Dialect::quoteIdentifier(g.users)}
            .join(QStringLiteral(", "));
    for (const char16_t* f : kEveryGroup) {
        statements << QStringLiteral("REVOKE ALL ON FUNCTION %1%2 FROM PUBLIC").arg(s, QString::fromUtf16(f));
        statements << QStringLiteral("GRANT EXECUTE ON FUNCTION %1%2 TO %3")
                          .arg(s, QString::fromUtf16(f), everyGroup);
    }
    for (const char16_t* f : kUsersGroup) {
        statements << QStringLiteral("REVOKE ALL ON FUNCTION %1%2 FROM PUBLIC").arg(s, QString::fromUtf16(f));
        statements << QStringLiteral("GRANT EXECUTE ON FUNCTION %1%2 TO %3")
                          .arg(s, QString::fromUtf16(f), Dialect::quoteIdentifier(g.users));
    }
    for (const char16_t* f : kOwnerOnly)
        statements << QStringLiteral("REVOKE ALL ON FUNCTION %1%2 FROM PUBLIC").arg(s, QString::fromUtf16(f));

    // Every user reads the region names; the groups get what their screens use.
    // TEMPORARY lets a run keep its working rows in a table of its own.
    statements
        << QStringLiteral("GRANT USAGE ON SCHEMA %1 TO %2").arg(Dialect::quoteIdentifier(schema), everyGroup)
        << QStringLiteral("GRANT TEMPORARY ON DATABASE %1 TO %2")
               .arg(Dialect::quoteIdentifier(database.toString()), everyGroup)
        << QStringLiteral("GRANT SELECT ON %1s_qybm TO %2").arg(s, everyGroup)
        << QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON %1s_zbbm, %1s_zbfa TO %2")
               .arg(s, Dialect::quoteIdentifier(g.catalogue))
        << QStringLiteral("GRANT SELECT ON %1s_zbbm, %1s_zbfa, %1s_sysset TO %2")
               .arg(s, Dialect::quoteIdentifier(g.report))
        // The shared working table: a run works in a t_stat of its connection's
        // own (TEMPORARY above); the shared one is read only to check its
        // columns, and written by nobody but its owner (set-ups made before
        // the runs had their own table gave more: it is taken back).
        << QStringLiteral("REVOKE INSERT, UPDATE, DELETE, TRUNCATE ON %1t_stat FROM %2")
               .arg(s, Dialect::quoteIdentifier(g.report))
        << QStringLiteral("GRANT SELECT ON %1t_stat TO %2").arg(s, Dialect::quoteIdentifier(g.report));
    if (!runAll(sqlca, statements, error))
        return false;
    for (const ScopedTable& t : kScopedTables) {
        const QVariant there = sqlca.selectValue(
            QStringLiteral("SELECT count(*) FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n "
                           "ON n.oid = c.relnamespace WHERE n.nspname = ? AND c.relname = ?"),
            {schema, QString::fromUtf16(t.table)});
        if (sqlca.SQLCode != 0)
            return fail(sqlca, error);
        if (there.toInt() > 0 &&
            !applyRegionPolicy(sqlca, QString::fromUtf16(t.table), QString::fromUtf16(t.column), error))
            return false;
    }
    if (!tx.commit())
        return fail(sqlca, error);
    return true;
}

namespace {

// A call of one of the administration functions, in the tables' schema.
Status callAdmin(Sqlca& sqlca, const QString& function, const QVariantList& binds)
{
    const QString schema = sqlca.tablesSchema();
    if (sqlca.SQLCode != 0)
        return Status::failure(sqlca.SQLErrText);
    QStringList marks;
    for (qsizetype i = 0; i < binds.size(); ++i)
        marks << QStringLiteral("CAST(? AS text)");
    if (!sqlca.execute(QStringLiteral("SELECT %1.%2(%3)")
                           .arg(Dialect::quoteIdentifier(schema), function, marks.join(QStringLiteral(", "))),
                       binds))
        return callFailed(sqlca);
    return Status::success();
}

Status checkTable(Sqlca& sqlca)
{
    QString error;
    const auto has = hasUsersTable(sqlca, &error);
    if (!has)
        return Status::failure(error);
    if (!*has)
        return Status::failure(
            sqlca.backend() == Backend::PostgreSQL
                ? QStringLiteral("the database has no users table s_yhqx: its owner makes it "
                                 "with allstats init-db --roles")
                : QStringLiteral("a SQLite file has no users: its file permissions decide who "
                                 "may use it"));
    return Status::success();
}

// A null QString binds as NULL: "unchanged" for the set function.
QVariant orNull(const std::optional<QString>& value)
{
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<QString>());
}

} // namespace

Status addUser(Sqlca& sqlca, const User& user, const QString& password)
{
    if (const Status s = checkTable(sqlca); !s)
        return s;
    if (const QString p = roleNameProblem(user.role); !p.isEmpty())
        return Status::failure(p);
    if (const QString p = rightsProblem(user.rights); !p.isEmpty())
        return Status::failure(p);
    if (password.isEmpty())
        return Status::failure(QStringLiteral("a new user needs a password"));
    QString error;
    const QString verifier = sqlca.passwordVerifier(user.role, password, &error);
    if (verifier.isEmpty())
        return Status::failure(error);
    return callAdmin(sqlca, QStringLiteral("f_yh_add"),
                     {user.role, verifier, user.region, user.rights, user.name});
}

Status setUser(Sqlca& sqlca, const QString& role, const Change& change)
{
    if (const Status s = checkTable(sqlca); !s)
        return s;
    if (const QString p = roleNameProblem(role); !p.isEmpty())
        return Status::failure(p);
    if (change.rights)
        if (const QString p = rightsProblem(*change.rights); !p.isEmpty())
            return Status::failure(p);
    std::optional<QString> verifier;
    if (change.password) {
        if (change.password->isEmpty())
            return Status::failure(QStringLiteral("the new password is empty"));
        QString error;
        verifier = sqlca.passwordVerifier(role, *change.password, &error);
        if (verifier->isEmpty())
            return Status::failure(error);
    }
    return callAdmin(
        sqlca, QStringLiteral("f_yh_set"),
        {role, orNull(verifier), orNull(change.region), orNull(change.rights), orNull(change.name)});
}

Status removeUser(Sqlca& sqlca, const QString& role)
{
    if (const Status s = checkTable(sqlca); !s)
        return s;
    if (role.isEmpty())
        return Status::failure(QStringLiteral("a role name is needed"));
    return callAdmin(sqlca, QStringLiteral("f_yh_remove"), {role});
}

std::optional<QList<User>> listUsers(Sqlca& sqlca, QString* error)
{
    if (const Status s = checkTable(sqlca); !s) {
        *error = s.error;
        return std::nullopt;
    }
    const QString schema = sqlca.tablesSchema();
    const auto rows = sqlca.selectAll(QStringLiteral("SELECT yhm, yhmc, qybm, qx, dl FROM %1.f_yh_list()")
                                          .arg(Dialect::quoteIdentifier(schema)));
    if (!rows) {
        *error = callFailed(sqlca).error;
        return std::nullopt;
    }
    QList<User> list;
    for (const QVariantList& r : *rows)
        list << User{r.value(0).toString(), r.value(1).toString(), r.value(2).toString(),
                     r.value(3).toString(), r.value(4).toBool()};
    return list;
}

} // namespace users

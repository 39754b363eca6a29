// SPDX-License-Identifier: GPL-3.0-or-later
// What a host routine's SQL file may run: statements on rows. One that changes
// the schema, reaches another file or changes a setting is refused before any
// statement of the file runs, naming file and statement; statements are split
// as the database reads them (quotes, comments, dollar quotes).
#include "foundation/schema.h"
#include "host/hookscript.h"
#include "host/sqlhost.h"
#include "report/batch.h"
#include "support/commandline.h"
#include "support/files.h"
#include "support/seed.h"
#include "support/testdb.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

class HookStatementsTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (!db)
            return;
        seed::monthlyReport(*db);
    }

    CommandLine report(const QString& out) const
    {
        return seed::report(*db, hooks.path()).add(QStringLiteral("--out"), out);
    }
    void writeHook(const QString& routine, const QString& sql)
    {
        writeFile(hooks.filePath(routine + QStringLiteral(".sql")), sql.toUtf8());
    }
    int count(const QString& table)
    {
        return sqlca().selectValue(QStringLiteral("SELECT count(*) FROM %1").arg(table)).toInt();
    }
    Status runUpdateReport()
    {
        SqlHost host(sqlca(), hooks.path());
        TransactionGuard tx(sqlca());
        const Status s =
            host.uf_update_report(QStringLiteral("T_stat"), QStringLiteral("qichu"), QStringLiteral("leiji"));
        tx.rollback();
        return s;
    }

    QTemporaryDir hooks;
};

TEST_P(HookStatementsTest, StatementsBeyondRowsAreRefusedNamingFileAndStatementBeforeAnyRuns)
{
    const bool sqlite = GetParam() == Backend::SQLite;
    const QString other = hooks.filePath(QStringLiteral("other.sqlite"));
    const QString copy = hooks.filePath(QStringLiteral("copy.txt"));
    // The statement, and the word the refusal names.
    const QList<std::pair<QString, QString>> refused = {
        {QStringLiteral("DROP TABLE H_stat"), QStringLiteral("DROP")},
        {QStringLiteral("-- only a comment\ndrop table H_stat"), QStringLiteral("DROP")},
        {QStringLiteral("/* a comment */   Drop Table s_sysset"), QStringLiteral("DROP")},
        {QStringLiteral("  ( CREATE TABLE x (a INTEGER))"), QStringLiteral("CREATE")},
        {QStringLiteral("create index h_unit ON H_stat (number)"), QStringLiteral("CREATE")},
        {QStringLiteral("ALTER TABLE H_stat ADD COLUMN note TEXT"), QStringLiteral("ALTER")},
        {QStringLiteral("ATTACH DATABASE '%1' AS other").arg(other), QStringLiteral("ATTACH")},
        {QStringLiteral("DETACH DATABASE other"), QStringLiteral("DETACH")},
        {QStringLiteral("VACUUM"), QStringLiteral("VACUUM")},
        {QStringLiteral("VACUUM INTO '%1'").arg(other), QStringLiteral("VACUUM")},
        {QStringLiteral("REINDEX"), QStringLiteral("REINDEX")},
        {QStringLiteral("ANALYZE"), QStringLiteral("ANALYZE")},
        {QStringLiteral("TRUNCATE H_stat"), QStringLiteral("TRUNCATE")},
        {QStringLiteral("GRANT SELECT ON H_stat TO PUBLIC"), QStringLiteral("GRANT")},
        {QStringLiteral("REVOKE SELECT ON H_stat FROM PUBLIC"), QStringLiteral("REVOKE")},
        {QStringLiteral("COPY H_stat TO '%1'").arg(copy), QStringLiteral("COPY")},
        {QStringLiteral("PRAGMA journal_mode=DELETE"), QStringLiteral("PRAGMA journal_mode")},
        {QStringLiteral("pragma main.user_version = 7"), QStringLiteral("PRAGMA user_version")},
        {QStringLiteral("PRAGMA foreign_keys(1)"), QStringLiteral("PRAGMA foreign_keys")},
        {QStringLiteral("SET search_path TO public"), QStringLiteral("SET")},
        {QStringLiteral("SELECT * INTO h_copy FROM H_stat"), QStringLiteral("SELECT … INTO")},
        {QStringLiteral("WITH h AS (SELECT * FROM H_stat) SELECT * INTO h_copy FROM h"),
         QStringLiteral("SELECT … INTO")},
        {QStringLiteral("EXPLAIN ANALYZE CREATE TABLE h_copy AS SELECT * FROM H_stat"),
         QStringLiteral("CREATE")},
        {QStringLiteral("DO $$ BEGIN EXECUTE 'DROP TABLE H_stat'; END $$"), QStringLiteral("DO")},
    };
    const int figures = count(QStringLiteral("H_stat"));
    const QVariant attached =
        sqlite ? sqlca().selectValue(QStringLiteral("SELECT count(*) FROM pragma_database_list"))
               : QVariant();
    const QString out = hooks.filePath(QStringLiteral("r.json"));
    for (const auto& [statement, word] : refused) {
        SCOPED_TRACE(statement.toStdString());
        // The first statement empties H_stat: it must not run either.
        writeHook(QStringLiteral("uf_update_report"), QStringLiteral("DELETE FROM H_stat;\n") + statement +
                                                          QStringLiteral(";\nUPDATE t_stat SET hh = 0;"));
        const Status s = runUpdateReport();
        ASSERT_FALSE(s);
        EXPECT_TRUE(s.error.contains(hooks.filePath(QStringLiteral("uf_update_report.sql"))))
            << s.error.toStdString();
        EXPECT_TRUE(s.error.contains(QStringLiteral("statement 2 (\""))) << s.error.toStdString();
        EXPECT_TRUE(s.error.contains(QStringLiteral("may not use ") + word)) << s.error.toStdString();
        EXPECT_FALSE(s.error.contains(QStringLiteral("transaction"))) << s.error.toStdString();
        EXPECT_EQ(count(QStringLiteral("H_stat")), figures);

        // Through the report: a hook error, no report, the tables and figures as they were.
        EXPECT_EQ(runReport(report(out)), ExitDatabase);
        EXPECT_FALSE(QFileInfo::exists(out));
        EXPECT_TRUE(schema::missingTables(sqlca()).isEmpty());
        EXPECT_EQ(count(QStringLiteral("H_stat")), figures);
        EXPECT_FALSE(QFileInfo::exists(other));
        EXPECT_FALSE(QFileInfo::exists(copy));
    }
    if (sqlite) {
        EXPECT_EQ(sqlca().selectValue(QStringLiteral("PRAGMA user_version")).toInt(), 0);
        EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM pragma_database_list")), attached);
    }

    // Statements on rows, and PRAGMAs that read, run as before.
    writeHook(
        QStringLiteral("uf_update_report"),
        QStringLiteral("-- the ratio rows\n"
                       "WITH s AS (SELECT zbbm FROM t_stat) UPDATE t_stat SET hh = 5 WHERE zbbm IN (SELECT "
                       "zbbm FROM s);\n"
                       "/* a note; with a semicolon */ INSERT INTO t_stat (zbbm, qichu, fasheng, leiji) "
                       "SELECT 'x', 0, 0, 0 WHERE 1 = 0;\n"
                       "UPDATE t_stat SET hh = hh WHERE zbbm <> 'DROP TABLE H_stat; ATTACH';\n") +
            (sqlite ? QStringLiteral("PRAGMA table_info(H_stat);\nPRAGMA user_version;\n") : QString()));
    const Status s = runUpdateReport();
    EXPECT_TRUE(s) << s.error.toStdString();
    EXPECT_EQ(runReport(report(out)), ExitDone);
    for (const char* statement :
         {"(SELECT 1) UNION (SELECT 2)", "INSERT OR REPLACE INTO t_stat (zbbm) VALUES ('x')",
          "REPLACE INTO t_stat (zbbm) VALUES ('x')", "EXPLAIN QUERY PLAN SELECT 1",
          "MERGE INTO t_stat USING s ON s.a = t_stat.zbbm WHEN NOT MATCHED THEN INSERT VALUES (1)"})
        EXPECT_FALSE(hookscript::refusal(QString::fromLatin1(statement))) << statement;
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(f.readAll()).contains(QStringLiteral("307.00")));
}

TEST_P(HookStatementsTest, StatementsSplitAsTheDatabaseReadsThemSoADoBlockIsOneStatement)
{
    // Semicolons inside dollar quotes, quotes, quoted names and comments do not end a statement.
    const QStringList split = SqlHost::splitStatements(
        QStringLiteral("UPDATE t_stat SET hh = 1;\n"
                       "DO $$ BEGIN UPDATE t_stat SET hh = 2; UPDATE t_stat SET hh = 3; END $$;\n"
                       "DO $body$ BEGIN PERFORM 'a;b', $x$;$x$; END; $body$ LANGUAGE plpgsql;\n"
                       "SELECT 'it''s; fine', E'it\\'s; fine', \"a;b\" -- c;d\n FROM t_stat; /* e;f */"));
    ASSERT_EQ(split.size(), 4) << split.join(QStringLiteral("\n|")).toStdString();
    EXPECT_EQ(split[1],
              QStringLiteral("DO $$ BEGIN UPDATE t_stat SET hh = 2; UPDATE t_stat SET hh = 3; END $$"));
    EXPECT_TRUE(split[2].endsWith(QStringLiteral("$body$ LANGUAGE plpgsql")));
    EXPECT_EQ(split[3], QStringLiteral("SELECT 'it''s; fine', E'it\\'s; fine', \"a;b\" \n FROM t_stat"));
    // A dollar sign inside a name or before a digit starts no quote.
    EXPECT_EQ(SqlHost::splitStatements(QStringLiteral("SELECT a$$b; SELECT $1; SELECT 2")).size(), 3);

    // The DO block is refused as what it is, not as a statement that ends a transaction at its END.
    const int figures = count(QStringLiteral("H_stat"));
    writeHook(QStringLiteral("uf_update_report"),
              QStringLiteral("DELETE FROM H_stat;\nDO $$ BEGIN DELETE FROM H_stat; END $$;"));
    const Status s = runUpdateReport();
    ASSERT_FALSE(s);
    EXPECT_TRUE(s.error.contains(QStringLiteral("statement 2 (\"DO $$ BEGIN DELETE FROM H_stat; END $$\")")))
        << s.error.toStdString();
    EXPECT_TRUE(s.error.contains(QStringLiteral("may not use DO"))) << s.error.toStdString();
    EXPECT_EQ(count(QStringLiteral("H_stat")), figures);
}

TEST_P(HookStatementsTest, OnTheServerQuotedSemicolonsRunAsOneStatementAndBackslashReadingIsRefused)
{
    if (GetParam() != Backend::PostgreSQL)
        GTEST_SKIP() << "dollar quotes, E'' strings and standard_conforming_strings are the server's";
    // Dollar-quoted and escaped strings with semicolons run as one statement each.
    writeHook(
        QStringLiteral("uf_allstats"),
        QStringLiteral(
            "INSERT INTO s_sysset (qybm, csname, csvalue) VALUES (:region, $q$a;b$q$, E'it\\'s; fine');"));
    SqlHost host(sqlca(), hooks.path());
    const Status inserted = host.uf_allstats(seed::kRegion, seed::kPeriod);
    ASSERT_TRUE(inserted) << inserted.error.toStdString();
    EXPECT_EQ(sqlca()
                  .selectValue(QStringLiteral("SELECT csvalue FROM s_sysset WHERE csname = ?"),
                               {QStringLiteral("a;b")})
                  .toString(),
              QStringLiteral("it's; fine"));

    // A server that reads backslashes in strings (standard_conforming_strings
    // off) would split this file elsewhere and drop H_stat: refused whatever the setting.
    ASSERT_TRUE(sqlca().executeImmediate(QStringLiteral("SET standard_conforming_strings = off")));
    writeHook(QStringLiteral("uf_update_report"),
              QStringLiteral("SELECT 'a\\''; DROP TABLE H_stat; SELECT '';"));
    const Status ambiguous = runUpdateReport();
    ASSERT_FALSE(ambiguous);
    EXPECT_TRUE(ambiguous.error.contains(QStringLiteral("statement 1"))) << ambiguous.error.toStdString();
    EXPECT_TRUE(ambiguous.error.contains(QStringLiteral("standard_conforming_strings")))
        << ambiguous.error.toStdString();
    EXPECT_TRUE(schema::missingTables(sqlca()).isEmpty());
    ASSERT_TRUE(sqlca().executeImmediate(QStringLiteral("SET standard_conforming_strings = on")));
}

ALLSTATS_ON_ALL_BACKENDS(HookStatementsTest);

} // namespace

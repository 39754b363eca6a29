// SPDX-License-Identifier: GPL-3.0-or-later
// The database layer on both backends: schema creation, the dialect's
// statements, rounding of figures, status codes, transactions and the SQL hooks.
#include "foundation/decimal.h"
#include "foundation/schema.h"
#include "host/sqlhost.h"
#include "support/testdb.h"

#include <QDir>
#include <QFile>

namespace {

class DatabaseTest : public BackendTest
{
};

QString money(Sqlca& s, const QString& sql, const QVariantList& binds = {})
{
    const auto d = Decimal::fromVariant(s.selectValue(sql, binds));
    return d ? d->toString(2) : QStringLiteral("null");
}

TEST_P(DatabaseTest, CreatingTheTablesTwiceKeepsTheData)
{
    db->exec(QStringLiteral("INSERT INTO s_zbbm (number, zbmc, flag1, flag2) VALUES (?, ?, ?, ?)"),
             {QStringLiteral("0001"), QStringLiteral("互助金总额"), 1, 0});
    QString error;
    ASSERT_TRUE(schema::create(sqlca(), &error)) << error.toStdString();
    ASSERT_TRUE(schema::create(sqlca(), &error)) << error.toStdString();
    EXPECT_EQ(
        sqlca()
            .selectValue(QStringLiteral("SELECT zbmc FROM S_ZBBM WHERE number = ?"), {QStringLiteral("0001")})
            .toString(),
        QStringLiteral("互助金总额"));
    EXPECT_TRUE(schema::missingTables(sqlca()).isEmpty());
    // The key holds.
    EXPECT_FALSE(
        sqlca().execute(QStringLiteral("INSERT INTO s_zbbm (number) VALUES (?)"), {QStringLiteral("0001")}));
    EXPECT_EQ(sqlca().SQLCode, -1);
    EXPECT_FALSE(sqlca().SQLErrText.isEmpty());
}

TEST_P(DatabaseTest, StatusCodesOfSingletonSelectsAndCursors)
{
    EXPECT_FALSE(
        sqlca().selectRow(QStringLiteral("SELECT zbmc FROM s_zbbm WHERE number = ?"), {QStringLiteral("x")}));
    EXPECT_EQ(sqlca().SQLCode, 100);
    db->exec(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES (?, ?), (?, ?)"),
             {QStringLiteral("11"), QStringLiteral("甲"), QStringLiteral("12"), QStringLiteral("乙")});
    Cursor c(sqlca(), QStringLiteral("SELECT qybm, qymc FROM s_qybm ORDER BY qybm"));
    ASSERT_TRUE(c.open());
    QVariantList row;
    QStringList seen;
    while (c.fetch(row))
        seen << row[1].toString();
    EXPECT_EQ(sqlca().SQLCode, 100);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("甲"), QStringLiteral("乙")}));
    EXPECT_FALSE(sqlca().execute(QStringLiteral("SELECT nothing FROM nowhere")));
    EXPECT_EQ(sqlca().SQLCode, -1);

    // A singleton select that finds two rows is an error, not its first row.
    sqlca().setOk();
    EXPECT_FALSE(sqlca().selectRow(QStringLiteral("SELECT qymc FROM s_qybm WHERE qybm > ? ORDER BY qybm"),
                                   {QStringLiteral("1")}));
    EXPECT_EQ(sqlca().SQLCode, -1);
    EXPECT_FALSE(sqlca().SQLErrText.isEmpty());
    EXPECT_FALSE(sqlca().selectValue(QStringLiteral("SELECT qymc FROM s_qybm")).isValid());
    EXPECT_EQ(sqlca().SQLCode, -1);
    // One row is found as before, and the status is clean again.
    EXPECT_EQ(
        sqlca()
            .selectValue(QStringLiteral("SELECT qymc FROM s_qybm WHERE qybm > ?"), {QStringLiteral("11")})
            .toString(),
        QStringLiteral("乙"));
    EXPECT_EQ(sqlca().SQLCode, 0);
}

TEST_P(DatabaseTest, IsnullOverNoRowsGivesTheReplacement)
{
    const Dialect& d = sqlca().dialect();
    EXPECT_EQ(sqlca()
                  .selectValue(QStringLiteral("SELECT %1 FROM s_zbfa WHERE falx = ?")
                                   .arg(d.isnull(QStringLiteral("max(fabm)"), QStringLiteral("0"))),
                               {7})
                  .toInt(),
              0);
    db->exec(QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm) VALUES (?, ?, ?, ?, ?)"),
             {7, 3, QStringLiteral("方案3"), 10, QStringLiteral("0001")});
    EXPECT_EQ(sqlca()
                  .selectValue(QStringLiteral("SELECT %1 FROM s_zbfa WHERE falx = ?")
                                   .arg(d.isnull(QStringLiteral("max(fabm)"), QStringLiteral("0"))),
                               {7})
                  .toInt(),
              3);
    // max(hh) + 10 over no rows is null.
    EXPECT_TRUE(sqlca()
                    .selectValue(
                        QStringLiteral("SELECT max(hh) + 10 FROM s_zbfa WHERE falx = ? AND fabm = ?"), {7, 9})
                    .isNull());
}

TEST_P(DatabaseTest, LeftAndThePrefixRangeSelectTheSameUnits)
{
    const QStringList units = {
        QStringLiteral("41"),           QStringLiteral("4101"),         QStringLiteral("410102"),
        QStringLiteral("410102003"),    QStringLiteral("410102003004"), QStringLiteral("4101020030045"),
        QStringLiteral("410102003005"), QStringLiteral("42"),           QStringLiteral("4"),
        QStringLiteral("4102")};
    for (const QString& u : units)
        db->exec(
            QStringLiteral(
                "INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES (?, ?, ?, 1, 1, 1)"),
            {u, QStringLiteral("202401"), QStringLiteral("0001")});
    const Dialect& d = sqlca().dialect();
    for (const QString& region :
         {QStringLiteral("41"), QStringLiteral("4101"), QStringLiteral("410102"), QStringLiteral("410102003"),
          QStringLiteral("410102003004"), QStringLiteral("4101020030045"), QStringLiteral("4")}) {
        const int viaLeft =
            sqlca()
                .selectValue(QStringLiteral("SELECT count(*) FROM H_stat WHERE %1 = ?")
                                 .arg(d.left(QStringLiteral("number"), QString::number(region.size()))),
                             {region})
                .toInt();
        const int viaRange = sqlca()
                                 .selectValue(QStringLiteral("SELECT count(*) FROM H_stat WHERE %1")
                                                  .arg(d.prefixRange(QStringLiteral("number"))),
                                              {region, Dialect::prefixUpperBound(region)})
                                 .toInt();
        int expected = 0;
        for (const QString& u : units)
            expected += u.startsWith(region) ? 1 : 0;
        EXPECT_EQ(viaLeft, expected) << region.toStdString();
        EXPECT_EQ(viaRange, expected) << region.toStdString();
    }
}

TEST_P(DatabaseTest, JoinedDeleteUpdateAndInsertSelect)
{
    const Dialect& d = sqlca().dialect();
    for (const char* code : {"0001", "0002", "0003"})
        db->exec(QStringLiteral("INSERT INTO t_stat (zbbm, qichu, fasheng, leiji) VALUES (?, 1, 2, 3)"),
                 {QString::fromLatin1(code)});
    db->exec(
        QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, xz) VALUES (1, 1, ?, 30, '0001', 1), "
                       "(1, 1, ?, 10, '0002', 0), (2, 1, ?, 99, '0003', 0)"),
        {QStringLiteral("甲"), QStringLiteral("甲"), QStringLiteral("甲")});
    const QString cond =
        QStringLiteral("t_stat.zbbm = s_zbfa.zbbm AND s_zbfa.xz = 0 AND s_zbfa.famc = ? AND s_zbfa.falx = 1");
    ASSERT_TRUE(sqlca().execute(d.joinedDelete(QStringLiteral("t_stat"), QStringLiteral("s_zbfa"), cond),
                                {QStringLiteral("甲")}))
        << sqlca().SQLErrText.toStdString();
    ASSERT_TRUE(sqlca().execute(
        d.joinedUpdate(QStringLiteral("t_stat"), QStringLiteral("hh = s_zbfa.hh"), QStringLiteral("s_zbfa"),
                       QStringLiteral("t_stat.zbbm = s_zbfa.zbbm AND s_zbfa.famc = ? AND s_zbfa.falx = 1")),
        {QStringLiteral("甲")}))
        << sqlca().SQLErrText.toStdString();
    const auto rows = sqlca().selectAll(QStringLiteral("SELECT zbbm, hh FROM t_stat ORDER BY zbbm"));
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 2);
    EXPECT_EQ((*rows)[0][0].toString(), QStringLiteral("0001"));
    EXPECT_EQ((*rows)[0][1].toInt(), 30);
    EXPECT_EQ((*rows)[1][0].toString(), QStringLiteral("0003")); // scheme of another kind: untouched
    EXPECT_EQ((*rows)[1][1].toInt(), 0);

    ASSERT_TRUE(sqlca().execute(
        d.insertSelect(QStringLiteral("t_stat"), QStringLiteral("zbbm, qichu, fasheng, leiji"),
                       QStringLiteral("SELECT zbbm, 0, 0, 0 FROM s_zbfa WHERE falx = ?")),
        {2}));
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM t_stat")).toInt(), 3);
}

TEST_P(DatabaseTest, FiguresReachTheWorkingTableRoundedHalfAwayFromZero)
{
    const Dialect& d = sqlca().dialect();
    const QList<std::pair<QString, QString>> cases = {{QStringLiteral("1.625"), QStringLiteral("1.63")},
                                                      {QStringLiteral("2.675"), QStringLiteral("2.68")},
                                                      {QStringLiteral("-1.625"), QStringLiteral("-1.63")},
                                                      {QStringLiteral("0.004"), QStringLiteral("0.00")},
                                                      {QStringLiteral("1.005"), QStringLiteral("1.01")}};
    for (const auto& [in, out] : cases) {
        db->exec(QStringLiteral("DELETE FROM H_stat"));
        db->exec(QStringLiteral("DELETE FROM t_stat"));
        db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES ('1', "
                                "'202401', '0001', ?, 0, 0)"),
                 {Decimal::parse(in).value().toPlainString()});
        db->exec(d.insertSelect(QStringLiteral("t_stat"), QStringLiteral("zbbm, qichu"),
                                QStringLiteral("SELECT zbbm, %1 FROM H_stat GROUP BY zbbm")
                                    .arg(d.money(QStringLiteral("sum(qichu)")))));
        EXPECT_EQ(money(sqlca(), QStringLiteral("SELECT qichu FROM t_stat")), out) << in.toStdString();
    }
    // An average of thirds, over three units.
    db->exec(QStringLiteral("DELETE FROM H_stat"));
    db->exec(QStringLiteral("DELETE FROM t_stat"));
    for (const auto& [unit, v] : {std::pair{"1", "1"}, std::pair{"2", "1"}, std::pair{"3", "2.01"}})
        db->exec(
            QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu) VALUES (?, '202401', '0001', ?)"),
            {QString::fromLatin1(unit), QString::fromLatin1(v)});
    db->exec(d.insertSelect(QStringLiteral("t_stat"), QStringLiteral("zbbm, qichu"),
                            QStringLiteral("SELECT zbbm, %1 FROM H_stat GROUP BY zbbm")
                                .arg(d.money(QStringLiteral("avg(qichu)")))));
    EXPECT_EQ(money(sqlca(), QStringLiteral("SELECT qichu FROM t_stat")), QStringLiteral("1.34"));
}

TEST_P(DatabaseTest, GuardRollsBackUnlessCommittedAndNestsWithSavepoints)
{
    {
        TransactionGuard tx(sqlca());
        db->exec(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('1', 'a')"));
    }
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_qybm")).toInt(), 0);
    {
        TransactionGuard tx(sqlca());
        db->exec(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('1', 'a')"));
        {
            TransactionGuard inner(sqlca());
            db->exec(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('2', 'b')"));
            EXPECT_FALSE(
                sqlca().execute(QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('1', 'dup')")));
        }
        EXPECT_TRUE(tx.commit()) << sqlca().SQLErrText.toStdString();
    }
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_qybm")).toInt(), 1);
    EXPECT_FALSE(sqlca().inTransaction());
}

TEST_P(DatabaseTest, KeptStatementsSurviveFailuresRollbacksAndNewTables)
{
    const QString insert = QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES (?, ?)");
    const QString count = QStringLiteral("SELECT count(*) FROM s_qybm WHERE qymc = ?");
    ASSERT_TRUE(sqlca().execute(insert, {QStringLiteral("1"), QStringLiteral("a")}));
    EXPECT_FALSE(sqlca().execute(insert, {QStringLiteral("1"), QStringLiteral("a")})); // the key holds
    EXPECT_TRUE(sqlca().execute(insert, {QStringLiteral("2"), QStringLiteral("a")}))
        << sqlca().SQLErrText.toStdString();
    {
        TransactionGuard tx(sqlca());
        EXPECT_TRUE(sqlca().execute(insert, {QStringLiteral("3"), QStringLiteral("a")}));
        EXPECT_EQ(sqlca().selectValue(count, {QStringLiteral("a")}).toInt(), 3);
    }
    EXPECT_EQ(sqlca().selectValue(count, {QStringLiteral("a")}).toInt(), 2);
    // A singleton select over several rows leaves nothing open: the table can be written at once.
    EXPECT_FALSE(sqlca().selectRow(QStringLiteral("SELECT qybm FROM s_qybm WHERE qymc = ? ORDER BY qybm"),
                                   {QStringLiteral("a")}));
    EXPECT_EQ(sqlca().SQLCode, -1);
    auto other = db->connectAgain();
    ASSERT_TRUE(other);
    EXPECT_TRUE(other->execute(insert, {QStringLiteral("4"), QStringLiteral("a")}))
        << other->SQLErrText.toStdString();
    // The same text on a table dropped and made again.
    db->exec(QStringLiteral("DROP TABLE s_qybm"));
    EXPECT_FALSE(sqlca().selectValue(count, {QStringLiteral("a")}).isValid());
    QString error;
    ASSERT_TRUE(schema::create(sqlca(), &error)) << error.toStdString();
    EXPECT_EQ(sqlca().selectValue(count, {QStringLiteral("a")}).toInt(), 0)
        << sqlca().SQLErrText.toStdString();
}

class HookTest : public BackendTest
{
protected:
    void writeHook(const QString& name, const QString& text)
    {
        QDir().mkpath(db->dir() + QStringLiteral("/hooks"));
        QFile f(db->dir() + QStringLiteral("/hooks/") + name + QStringLiteral(".sql"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    }
    QString hooks() const { return db->dir() + QStringLiteral("/hooks"); }
};

TEST_P(HookTest, MissingHooksDoNothingAndArgumentsAreBound)
{
    SqlHost host(sqlca(), hooks());
    EXPECT_TRUE(host.uf_zzye(0));
    writeHook(
        QStringLiteral("uf_allstats"),
        QStringLiteral(
            "-- region; period\n"
            "INSERT INTO s_sysset (qybm, csname, csvalue) VALUES (:region, 'period', :period);\n"
            "INSERT INTO s_sysset (qybm, csname, csvalue) VALUES (:region, 'quote;d', 'it''s; fine');"));
    writeHook(QStringLiteral("uf_update_report"),
              QStringLiteral("UPDATE t_stat SET qichu = 5 WHERE zbbm = :table OR :opening = 'qichu'"));
    const QString evil = QStringLiteral("41'; DROP TABLE s_qybm; --");
    ASSERT_TRUE(host.uf_allstats(evil, QStringLiteral("202401")))
        << host.uf_allstats(evil, QStringLiteral("202401")).error.toStdString();
    EXPECT_EQ(
        sqlca()
            .selectValue(QStringLiteral("SELECT csvalue FROM s_sysset WHERE qybm = ? AND csname = 'period'"),
                         {evil})
            .toString(),
        QStringLiteral("202401"));
    EXPECT_EQ(sqlca()
                  .selectValue(QStringLiteral("SELECT csvalue FROM s_sysset WHERE csname = 'quote;d'"))
                  .toString(),
              QStringLiteral("it's; fine"));
    EXPECT_TRUE(schema::missingTables(sqlca()).isEmpty());
    db->exec(QStringLiteral("INSERT INTO t_stat (zbbm, qichu) VALUES ('0001', 1)"));
    EXPECT_TRUE(
        host.uf_update_report(QStringLiteral("T_stat"), QStringLiteral("qichu"), QStringLiteral("leiji")));
    EXPECT_EQ(money(sqlca(), QStringLiteral("SELECT qichu FROM t_stat")), QStringLiteral("5.00"));
}

TEST_P(HookTest, AFailingHookNamesItsFileAndLeavesNothingWritten)
{
    SqlHost host(sqlca(), hooks());
    writeHook(
        QStringLiteral("uf_ysss"),
        QStringLiteral(
            "INSERT INTO s_qybm (qybm, qymc) VALUES ('9', :period);\nINSERT INTO no_such_table VALUES (1);"));
    const Status s = host.uf_ysss(QStringLiteral("202401"));
    EXPECT_FALSE(s.ok);
    EXPECT_TRUE(s.error.contains(QStringLiteral("uf_ysss.sql"))) << s.error.toStdString();
    EXPECT_TRUE(s.error.contains(QStringLiteral("no_such_table"))) << s.error.toStdString();
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_qybm")).toInt(), 0);
    // An argument the routine does not take is an error too.
    writeHook(QStringLiteral("uf_zzye"), QStringLiteral("DELETE FROM s_qybm WHERE qybm = :region"));
    EXPECT_FALSE(host.uf_zzye(0).ok);
}

ALLSTATS_ON_ALL_BACKENDS(DatabaseTest);
ALLSTATS_ON_ALL_BACKENDS(HookTest);

TEST(DatabaseConnect, BadDatabasesAreNamedInTheMessage)
{
    QString error;
    EXPECT_FALSE(Sqlca::connect(QStringLiteral("/no/such/folder/x.sqlite"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("/no/such/folder"))) << error.toStdString();
    EXPECT_FALSE(Sqlca::connect(QStringLiteral("postgresql://"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("PostgreSQL"))) << error.toStdString();
    QTemporaryDir dir;
    QFile junk(dir.filePath(QStringLiteral("junk.sqlite")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    EXPECT_FALSE(Sqlca::connect(junk.fileName(), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("junk.sqlite"))) << error.toStdString();
}

} // namespace

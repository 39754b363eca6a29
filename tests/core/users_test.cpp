// SPDX-License-Identifier: GPL-3.0-or-later
// The users of a shared PostgreSQL database: what a township role reads and
// may change, through the program and through plain SQL; how the options may
// narrow its region and rights but never widen them; the administration and
// its bad input; passwords of every kind of character; and that a SQLite
// file (or a server without `init-db --roles`) keeps the session's own region
// and rights as before.
#include "analysis/packbatch.h"
#include "foundation/dbname.h"
#include "foundation/users.h"
#include "host/sqlhost.h"
#include "host/usercommand.h"
#include "report/batch.h"
#include "support/files.h"
#include "support/testdb.h"
#include "support/testroles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <thread>

namespace {

const QString kTown = QStringLiteral("450121101");
const QString kCounty = QStringLiteral("450121");

struct Outcome
{
    int code = -1;
    QString out;
    QString err;
};

// The built executable, with `input` on its standard input.
Outcome allstats(const QStringList& args, const QString& home, const QByteArray& input = {},
                 const QProcessEnvironment& extra = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(extra);
    p.setProcessEnvironment(env);
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../allstats"), args);
    p.write(input);
    p.closeWriteChannel();
    Outcome r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

class UsersTest : public BackendTest
{
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        if (!db)
            return;
        // A province with two counties; the county 450121 has two towns.
        db->exec(
            QStringLiteral("INSERT INTO s_qybm (qybm, qymc) VALUES ('45', ?), ('4501', ?), ('450121', ?), "
                           "('450121101', ?), ('450121102', ?), ('450121101001', ?), ('450121101002', ?), "
                           "('450121102001', ?), ('450122', ?), ('450122101', ?), ('450122101001', ?)"),
            {QStringLiteral("青禾省"), QStringLiteral("石桥市"), QStringLiteral("云溪县"),
             QStringLiteral("白沙镇"), QStringLiteral("清水乡"), QStringLiteral("金塬村"),
             QStringLiteral("银塬村"), QStringLiteral("柳村"), QStringLiteral("安平县"),
             QStringLiteral("双河镇"), QStringLiteral("桂村")});
        db->exec(QStringLiteral(
                     "INSERT INTO s_zbbm (number, zblx, zbmc, flag1, flag2) VALUES ('0001', ?, ?, 1, 0)"),
                 {QStringLiteral("资金"), QStringLiteral("互助金总额")});
        db->exec(
            QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm, zblx, zbmc, xz, flag2) VALUES "
                           "(1, 1, ?, 10, '0001', ?, ?, 1, 0)"),
            {QStringLiteral("月报"), QStringLiteral("资金"), QStringLiteral("互助金总额")});
        // The town 300, the county 700, the province 1500.
        db->exec(QStringLiteral("INSERT INTO H_stat (number, kjqj, zbbm, qichu, fasheng, leiji) VALUES "
                                "('450121101001', '202409', '0001', 0, 0, 100), "
                                "('450121101002', '202409', '0001', 0, 0, 200), "
                                "('450121102001', '202409', '0001', 0, 0, 400), "
                                "('450122101001', '202409', '0001', 0, 0, 800)"));
    }
    void TearDown() override
    {
        roles.reset();
        BackendTest::TearDown();
    }
    // The rest of the test runs on PostgreSQL only, with the users made.
    bool onServerWithRoles()
    {
        if (GetParam() != Backend::PostgreSQL)
            return false;
        roles = std::make_unique<TestRoles>(*db);
        return true;
    }
    QStringList report(const QString& url, const QString& region, const QStringList& more = {}) const
    {
        return QStringList{QStringLiteral("allstats"), QStringLiteral("report"),
                           QStringLiteral("--db"),     url,
                           QStringLiteral("--hooks"),  hooks.path(),
                           QStringLiteral("--scheme"), QStringLiteral("月报"),
                           QStringLiteral("--year"),   QStringLiteral("2024"),
                           QStringLiteral("--month"),  QStringLiteral("9"),
                           QStringLiteral("--region"), region,
                           QStringLiteral("--period"), QStringLiteral("202409"),
                           QStringLiteral("--format"), QStringLiteral("csv"),
                           QStringLiteral("--out"),    out()} +
               more;
    }
    QString out() const { return hooks.filePath(QStringLiteral("r.csv")); }
    QString written() const
    {
        QFile f(out());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    int roleCount(const QString& role)
    {
        return sqlca()
            .selectValue(QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname = ?"), {role})
            .toInt();
    }

    QTemporaryDir hooks;
    std::unique_ptr<TestRoles> roles;
};

// SQLite, and a server where init-db --roles never ran: the options say
// region and rights, as before, and there are no users to manage.
TEST_P(UsersTest, WithoutUsersTheSessionKeepsItsOwnRegionAndRights)
{
    EXPECT_EQ(users::signIn(sqlca()).kind, users::SignIn::Unscoped);
    // A village's user reports the province, as the session says.
    ASSERT_EQ(runReport(report(db->url(), QStringLiteral("45"),
                               {QStringLiteral("--user-region"), QStringLiteral("450121101001")})),
              ExitDone);
    EXPECT_TRUE(written().contains(QStringLiteral("1500.00"))) << written().toStdString();
    EXPECT_EQ(runReport(report(db->url(), QStringLiteral("45"),
                               {QStringLiteral("--grant"), QString(24, u'1') + u'0'})),
              ExitRefused);

    const Outcome list = allstats(
        {QStringLiteral("user"), QStringLiteral("list"), QStringLiteral("--db"), db->url()}, hooks.path());
    if (GetParam() == Backend::SQLite) {
        // A SQLite file has no roles: refused as wrong usage, and the file stays as it was.
        const Outcome init = allstats(
            {QStringLiteral("init-db"), QStringLiteral("--db"), db->url(), QStringLiteral("--roles")},
            hooks.path());
        EXPECT_EQ(init.code, ExitUsage) << init.err.toStdString();
        EXPECT_TRUE(init.err.contains(QStringLiteral("file permissions"))) << init.err.toStdString();
        EXPECT_EQ(list.code, ExitUsage) << list.err.toStdString();
        EXPECT_EQ(sqlca()
                      .selectValue(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 's_yhqx'"))
                      .toInt(),
                  0);
    } else {
        EXPECT_EQ(list.code, ExitDatabase) << list.err.toStdString();
        EXPECT_TRUE(list.err.contains(QStringLiteral("init-db --roles"))) << list.err.toStdString();
    }
}

// Through plain SQL a township role reads its town's figures and every
// region name, and changes neither the catalogue, the schemes, the figures
// nor the users; switching to its group role does not widen what it sees.
TEST_P(UsersTest, ATownshipRoleReadsOnlyItsTownAndChangesNothing)
{
    if (!onServerWithRoles())
        GTEST_SKIP() << "roles are a PostgreSQL server's";
    // init-db --roles twice is harmless.
    QString error;
    ASSERT_TRUE(users::createRoles(sqlca(), &error)) << error.toStdString();
    const QString town = roles->add(QStringLiteral("town"), kTown, TestRoles::reportOnly());
    auto s = roles->connect(town);
    ASSERT_NE(s, nullptr);

    EXPECT_EQ(s->selectValue(QStringLiteral("SELECT count(*) FROM H_stat")).toInt(), 2);
    EXPECT_EQ(s->selectValue(QStringLiteral("SELECT sum(leiji) FROM H_stat")).toDouble(), 300);
    EXPECT_EQ(
        s->selectValue(QStringLiteral("SELECT count(*) FROM H_stat WHERE number LIKE '450122%'")).toInt(), 0);
    EXPECT_EQ(s->selectValue(QStringLiteral("SELECT count(*) FROM s_qybm")).toInt(), 11);
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM H_stat")).toInt(), 4)
        << "the tables' owner sees every figure";

    for (const QString& sql :
         {QStringLiteral("UPDATE s_zbbm SET zbmc = 'x'"),
          QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm) VALUES (1, 9, 'x', 10, '0001')"),
          QStringLiteral("DELETE FROM s_zbfa"), QStringLiteral("DELETE FROM H_stat"),
          QStringLiteral("TRUNCATE H_stat"), QStringLiteral("UPDATE H_stat SET leiji = 0"),
          QStringLiteral("SELECT count(*) FROM s_yhqx"), QStringLiteral("TRUNCATE t_stat"),
          // The shared working table is nobody's to write: each run has its own.
          QStringLiteral("DELETE FROM t_stat"),
          QStringLiteral("INSERT INTO t_stat (zbbm) VALUES ('0001')")}) {
        EXPECT_FALSE(s->execute(sql)) << sql.toStdString();
        // The database's refusal in the user's words.
        EXPECT_TRUE(s->SQLErrText.startsWith(QStringLiteral("你无权限执行该操作")))
            << s->SQLErrText.toStdString();
    }
    // Nor may it add users, nor read them.
    EXPECT_FALSE(users::addUser(*s, {roles->name(QStringLiteral("more")), QString(), kTown, TestRoles::all()},
                                QStringLiteral("pw")));
    QString listError;
    EXPECT_FALSE(users::listUsers(*s, &listError));

    // Its group role gives no other region: the region follows the signed-in role.
    ASSERT_TRUE(
        s->executeImmediate(QStringLiteral("SET ROLE %1").arg(TestRoles::quote(roles->groups().report))));
    EXPECT_EQ(s->selectValue(QStringLiteral("SELECT count(*) FROM H_stat")).toInt(), 2);
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM H_stat")).toInt(), 4);
}

// Through the program the users table bounds the session: its own town
// reports, anything wider is refused with exit 1; the options narrow, never
// widen; a role without a row is refused; the owner works as before.
TEST_P(UsersTest, TheCommandsKeepARoleWithinItsRegionAndRights)
{
    if (!onServerWithRoles())
        GTEST_SKIP() << "roles are a PostgreSQL server's";
    const QString town = roles->add(QStringLiteral("town"), kTown, TestRoles::reportOnly());
    const QString county = roles->add(QStringLiteral("county"), kCounty, TestRoles::all());
    const QString editor = roles->add(QStringLiteral("editor"), kCounty, TestRoles::catalogueOnly());
    const QString stranger = roles->name(QStringLiteral("stranger"));
    db->exec(QStringLiteral("CREATE ROLE %1 LOGIN IN ROLE %2")
                 .arg(TestRoles::quote(stranger), TestRoles::quote(roles->groups().report)));

    ASSERT_EQ(runReport(report(roles->url(town), kTown)), ExitDone);
    EXPECT_TRUE(written().contains(QStringLiteral("300.00"))) << written().toStdString();
    ASSERT_EQ(runReport(report(roles->url(county), kCounty)), ExitDone);
    EXPECT_TRUE(written().contains(QStringLiteral("700.00"))) << written().toStdString();
    // The files name the user by the name the users table gives, not by the role or the login.
    QStringList asXlsx = report(roles->url(town), kTown);
    const QString book = hooks.filePath(QStringLiteral("r.xlsx"));
    asXlsx[asXlsx.indexOf(QStringLiteral("--format")) + 1] = QStringLiteral("xlsx");
    asXlsx[asXlsx.indexOf(QStringLiteral("--out")) + 1] = book;
    ASSERT_EQ(runReport(asXlsx), ExitDone);
    EXPECT_TRUE(zipPart(book, QStringLiteral("docProps/core.xml")).contains("<dc:creator>town</dc:creator>"))
        << zipPart(book, QStringLiteral("docProps/core.xml")).toStdString();

    // Outside its region: refused before any run.
    QFile::remove(out());
    EXPECT_EQ(runReport(report(roles->url(town), kCounty)), ExitRefused);
    EXPECT_EQ(runReport(report(roles->url(town), QStringLiteral("450122101"))), ExitRefused);
    EXPECT_EQ(runReport(report(roles->url(county), QStringLiteral("45"))), ExitRefused);
    EXPECT_FALSE(QFile::exists(out()));
    // The session's options may not widen the region or the rights ...
    EXPECT_EQ(
        runReport(report(roles->url(town), kTown, {QStringLiteral("--user-region"), QStringLiteral("45")})),
        ExitRefused);
    EXPECT_EQ(runReport(report(roles->url(editor), kCounty, {QStringLiteral("--grant"), TestRoles::all()})),
              ExitRefused);
    // ... but narrow them.
    EXPECT_EQ(runReport(report(roles->url(county), kTown, {QStringLiteral("--user-region"), kTown})),
              ExitDone);
    EXPECT_EQ(
        runReport(report(roles->url(county), kTown, {QStringLiteral("--grant"), TestRoles::catalogueOnly()})),
        ExitRefused);
    // The pack of the towns of a county its user may not see.
    const QString packDir = hooks.filePath(QStringLiteral("pack"));
    QDir().mkpath(packDir);
    QStringList pack = report(roles->url(town), kCounty, {QStringLiteral("--level"), QStringLiteral("town")});
    pack[1] = QStringLiteral("pack");
    pack[pack.indexOf(QStringLiteral("--out")) + 1] = packDir;
    EXPECT_EQ(runPack(pack), ExitRefused);
    EXPECT_TRUE(QDir(packDir).isEmpty());

    // A role the users table does not know.
    EXPECT_EQ(runReport(report(roles->url(stranger), kTown)), ExitRefused);
    // The tables' owner: every region, as before.
    ASSERT_EQ(runReport(report(db->url(), QStringLiteral("45"))), ExitDone);
    EXPECT_TRUE(written().contains(QStringLiteral("1500.00"))) << written().toStdString();
}

// An editor's role changes the catalogue and the schemes with plain SQL and
// reads no figure; the grants follow its rights string when it changes.
TEST_P(UsersTest, AnEditorChangesTheCatalogueUntilItsRightIsTaken)
{
    if (!onServerWithRoles())
        GTEST_SKIP() << "roles are a PostgreSQL server's";
    const QString editor = roles->add(QStringLiteral("editor"), kCounty, TestRoles::catalogueOnly());
    auto s = roles->connect(editor);
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(s->execute(QStringLiteral("UPDATE s_zbbm SET zbmc = ? WHERE number = '0001'"),
                           {QStringLiteral("互助金规模")}))
        << s->SQLErrText.toStdString();
    EXPECT_EQ(s->SQLNRows, 1);
    EXPECT_TRUE(
        s->execute(QStringLiteral("INSERT INTO s_zbfa (falx, fabm, famc, hh, zbbm) VALUES (1, 2, ?, 10, "
                                  "'0001')"),
                   {QStringLiteral("简表")}))
        << s->SQLErrText.toStdString();
    EXPECT_FALSE(s->execute(QStringLiteral("SELECT count(*) FROM H_stat")));

    ASSERT_TRUE(
        users::setUser(sqlca(), editor, {std::nullopt, TestRoles::reportOnly(), std::nullopt, std::nullopt}));
    EXPECT_FALSE(s->execute(QStringLiteral("UPDATE s_zbbm SET zbmc = 'x'")));
    EXPECT_EQ(s->selectValue(QStringLiteral("SELECT count(*) FROM H_stat")).toInt(), 3)
        << "the county's figures";
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT zbmc FROM s_zbbm")).toString(),
              QStringLiteral("互助金规模"));
}

// Bad input is refused with a message that says what is wrong, and nothing of
// it is made: no role, no row. A manager of a county manages its county's
// users only and gives no right it lacks itself.
TEST_P(UsersTest, AdministrationRefusesBadInputAndLeavesNothingHalfMade)
{
    if (!onServerWithRoles())
        GTEST_SKIP() << "roles are a PostgreSQL server's";
    struct Bad
    {
        QString role;
        QString region;
        QString rights;
        QString says;
    };
    const QString good = roles->name(QStringLiteral("good"));
    const QList<Bad> bad = {
        {roles->name(QStringLiteral("o\"brien")), kTown, TestRoles::all(), QStringLiteral("quotes")},
        {roles->name(QStringLiteral("o'brien")), kTown, TestRoles::all(), QStringLiteral("quotes")},
        {good, kTown, QStringLiteral("111"), QStringLiteral("25 characters")},
        {good, kTown, TestRoles::all() + u'1', QStringLiteral("25 characters")},
        {good, kTown, QString(25, u'0'), QStringLiteral("neither")},
        {good, QStringLiteral("450121'; DROP TABLE s_zbbm; --"), TestRoles::all(),
         QStringLiteral("unknown region")},
        {sqlca().signedInRole(), kTown, TestRoles::all(), QStringLiteral("exists on the server")},
    };
    for (const Bad& b : bad) {
        const Status s =
            users::addUser(sqlca(), {b.role, QString(), b.region, b.rights}, QStringLiteral("pw"));
        EXPECT_FALSE(s) << b.role.toStdString();
        EXPECT_TRUE(s.error.contains(b.says)) << s.error.toStdString();
    }
    EXPECT_EQ(roleCount(good), 0);
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_yhqx")).toInt(), 0);
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_zbbm")).toInt(), 1);

    // The command: the password twice on standard input, never printed.
    const QString secret = QStringLiteral("Zq'9\"x y\\密");
    const QStringList add = {QStringLiteral("user"),
                             QStringLiteral("add"),
                             good,
                             QStringLiteral("--db"),
                             db->url(),
                             QStringLiteral("--region"),
                             kTown,
                             QStringLiteral("--rights"),
                             TestRoles::reportOnly(),
                             QStringLiteral("--name"),
                             QStringLiteral("张三")};
    Outcome r = allstats(add, hooks.path(), (secret + u'\n' + secret + QStringLiteral("x\n")).toUtf8());
    EXPECT_EQ(r.code, ExitRefused) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("differ"))) << r.err.toStdString();
    EXPECT_EQ(roleCount(good), 0);
    r = allstats(add, hooks.path(), (secret + u'\n' + secret + u'\n').toUtf8());
    EXPECT_EQ(r.code, ExitDone) << r.err.toStdString();
    EXPECT_EQ(roleCount(good), 1);
    r = allstats({QStringLiteral("user"), QStringLiteral("list"), QStringLiteral("--db"), db->url()},
                 hooks.path());
    EXPECT_EQ(r.code, ExitDone) << r.err.toStdString();
    EXPECT_TRUE(
        r.out.contains(good + u'\t' + kTown + u'\t' + TestRoles::reportOnly() + QStringLiteral("\t张三")))
        << r.out.toStdString();
    EXPECT_FALSE((r.out + r.err).contains(QStringLiteral("Zq'9")));
    // Wrong usage before anything is asked: a password is no option, a rights string has its length.
    r = allstats(add + QStringList{QStringLiteral("--password"), secret}, hooks.path());
    EXPECT_EQ(r.code, ExitUsage) << r.err.toStdString();
    r = allstats({QStringLiteral("user"), QStringLiteral("set"), good, QStringLiteral("--db"), db->url(),
                  QStringLiteral("--rights"), QStringLiteral("10")},
                 hooks.path());
    EXPECT_EQ(r.code, ExitUsage) << r.err.toStdString();

    // A county's manager: its own county only, its own rights only.
    const QString manager = roles->add(QStringLiteral("manager"), kCounty, TestRoles::reportOnly());
    db->exec(QStringLiteral("GRANT %1 TO %2")
                 .arg(TestRoles::quote(roles->groups().users), TestRoles::quote(manager)));
    auto m = roles->connect(manager);
    ASSERT_NE(m, nullptr);
    const QString mine = roles->name(QStringLiteral("mine"));
    EXPECT_TRUE(users::addUser(*m, {mine, QString(), kTown, TestRoles::reportOnly()}, QStringLiteral("pw")));
    Status s = users::addUser(
        *m,
        {roles->name(QStringLiteral("far")), QString(), QStringLiteral("450122101"), TestRoles::reportOnly()},
        QStringLiteral("pw"));
    EXPECT_TRUE(s.error.contains(QStringLiteral("outside your own region"))) << s.error.toStdString();
    s = users::addUser(*m, {roles->name(QStringLiteral("wide")), QString(), kTown, TestRoles::all()},
                       QStringLiteral("pw"));
    EXPECT_TRUE(s.error.contains(QStringLiteral("your own rights"))) << s.error.toStdString();
    s = users::setUser(*m, mine, {QStringLiteral("45"), std::nullopt, std::nullopt, std::nullopt});
    EXPECT_TRUE(s.error.contains(QStringLiteral("outside your own region"))) << s.error.toStdString();
    s = users::removeUser(*m, sqlca().signedInRole());
    EXPECT_FALSE(s);
    const auto listed = users::listUsers(*m, &s.error);
    ASSERT_TRUE(listed) << s.error.toStdString();
    EXPECT_EQ(listed->size(), 3) << "the county's users: good, the manager, mine";
    EXPECT_TRUE(users::removeUser(*m, mine));
    EXPECT_EQ(roleCount(mine), 0);
}

// A user removed while signed in is told so before the next query instead of
// seeing an empty report; the batch commands cannot sign in as it any more.
TEST_P(UsersTest, ARemovedUserStillSignedInIsToldSo)
{
    if (!onServerWithRoles())
        GTEST_SKIP() << "roles are a PostgreSQL server's";
    const QString town = roles->add(QStringLiteral("town"), kTown, TestRoles::reportOnly());
    auto s = roles->connect(town);
    ASSERT_NE(s, nullptr);
    SqlHost host(*s, hooks.path());
    host.signedInRole = town;
    host.regionScope = kTown;
    EXPECT_TRUE(host.mayQuery(kTown));
    EXPECT_FALSE(host.mayQuery(kCounty));
    ASSERT_TRUE(users::removeUser(sqlca(), town));
    const Status after = host.mayQuery(kTown);
    EXPECT_FALSE(after);
    EXPECT_TRUE(after.error.contains(QStringLiteral("已被系统管理员删除"))) << after.error.toStdString();
    EXPECT_EQ(runReport(report(roles->url(town), kTown)), ExitDatabase);
}

// Two administrators adding the same user at one moment: the second waits for
// the first and is then told the role exists; one role, one row.
TEST_P(UsersTest, TwoAdministratorsAtOnceWaitForEachOther)
{
    if (!onServerWithRoles())
        GTEST_SKIP() << "roles are a PostgreSQL server's";
    const QString twin = roles->name(QStringLiteral("twin"));
    auto first = db->connectAgain();
    ASSERT_TRUE(first->begin());
    ASSERT_TRUE(users::addUser(*first, {twin, QString(), kTown, TestRoles::all()}, QStringLiteral("pw")));
    Status second;
    std::thread other([&] {
        QString error;
        auto s = Sqlca::connect(db->url(), &error);
        second = s ? users::addUser(*s, {twin, QString(), kCounty, TestRoles::all()}, QStringLiteral("pw"))
                   : Status::failure(error);
    });
    QThread::msleep(500);
    ASSERT_TRUE(first->commit());
    other.join();
    EXPECT_FALSE(second);
    EXPECT_TRUE(second.error.contains(QStringLiteral("a user of this database already")))
        << second.error.toStdString();
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT qybm FROM s_yhqx WHERE yhm = ?"), {twin}).toString(),
              kTown);
}

// A password of any characters signs in through the URL, PGPASSWORD and
// ~/.pgpass, on a server that asks for it; a missing or wrong one is told
// apart; the command line never prints it.
TEST_P(UsersTest, PasswordsOfEveryCharacterSignIn)
{
    if (!onServerWithRoles())
        GTEST_SKIP() << "roles are a PostgreSQL server's";
    // The test server asks members of allstats_scram for a password (scripts/pg-test-server.sh).
    if (sqlca()
            .selectValue(QStringLiteral("SELECT count(*) FROM pg_hba_file_rules WHERE 'allstats_scram' = ANY "
                                        "(user_name) OR '+allstats_scram' = ANY (user_name)"))
            .toInt() == 0)
        GTEST_SKIP() << "the server signs everyone in without a password";
    sqlca().executeImmediate(QStringLiteral("CREATE ROLE allstats_scram NOLOGIN")); // made once per server
    const QString password = QStringLiteral("p@ss:w/rd %'\"\\ 密码&?#");
    const QString town = roles->add(QStringLiteral("town"), kTown, TestRoles::reportOnly(), password);
    db->exec(QStringLiteral("GRANT allstats_scram TO %1").arg(TestRoles::quote(town)));

    QString error;
    EXPECT_NE(Sqlca::connect(roles->url(town, password), &error), nullptr) << error.toStdString();
    EXPECT_EQ(Sqlca::connect(roles->url(town), &error), nullptr);
    EXPECT_EQ(Sqlca::signInProblem(roles->url(town)), Sqlca::SignInProblem::PasswordNeeded);
    EXPECT_EQ(Sqlca::signInProblem(roles->url(town, QStringLiteral("wrong"))),
              Sqlca::SignInProblem::PasswordRefused);
    EXPECT_EQ(Sqlca::signInProblem(roles->url(town, password)), Sqlca::SignInProblem::None);

    // The batch commands: PGPASSWORD, ~/.pgpass (PGPASSFILE here).
    QProcessEnvironment env;
    env.insert(QStringLiteral("PGPASSWORD"), password);
    Outcome r = allstats(report(roles->url(town), kTown).mid(1), hooks.path(), {}, env);
    EXPECT_EQ(r.code, ExitDone) << r.err.toStdString();
    const QString pgpass = hooks.filePath(QStringLiteral("pgpass"));
    {
        QFile f(pgpass);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QString escaped = password;
        escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u':', QStringLiteral("\\:"));
        f.write(QStringLiteral("*:*:*:%1:%2\n").arg(town, escaped).toUtf8());
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    QProcessEnvironment passfile;
    passfile.insert(QStringLiteral("PGPASSFILE"), pgpass);
    r = allstats(report(roles->url(town), kTown).mid(1), hooks.path(), {}, passfile);
    EXPECT_EQ(r.code, ExitDone) << r.err.toStdString();
    // A wrong password: the server's refusal, without the password.
    r = allstats(report(roles->url(town, password + u'x'), kTown).mid(1), hooks.path());
    EXPECT_EQ(r.code, ExitDatabase);
    EXPECT_FALSE(r.err.contains(QStringLiteral("p@ss"))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("p%40ss"))) << r.err.toStdString();

    // user set --password: the new one signs in, the old one no more.
    const QString next = QStringLiteral("新的 pw:2");
    r = allstats({QStringLiteral("user"), QStringLiteral("set"), town, QStringLiteral("--db"), db->url(),
                  QStringLiteral("--password")},
                 hooks.path(), (next + u'\n' + next + u'\n').toUtf8());
    EXPECT_EQ(r.code, ExitDone) << r.err.toStdString();
    EXPECT_NE(Sqlca::connect(roles->url(town, next), &error), nullptr) << error.toStdString();
    EXPECT_EQ(Sqlca::connect(roles->url(town, password), &error), nullptr);
}

ALLSTATS_ON_ALL_BACKENDS(UsersTest);

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
// What the command line does with what it is given: a database text that
// carries a password, the client's connection parameters, an option given
// twice, help without a display, two fillers of the demo at once.
#include "foundation/dbname.h"
#include "support/commandline.h"
#include "support/testdb.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

namespace {

const QString kSecret = QStringLiteral("s3kr1t-pw");

// The built executable in `dir` (its home too), with a display or without one.
Outcome allstats(const QStringList& args, const QString& dir, bool display = true)
{
    RunOptions options;
    options.workingDir = dir;
    options.display = display;
    return runAllstats(args, options);
}

QStringList reportArgs(const QString& db)
{
    return batchCommand(QStringLiteral("report"), db)
        .add(QStringLiteral("--scheme"), QStringLiteral("预设方案"))
        .add(QStringLiteral("--year"), QStringLiteral("2024"))
        .add(QStringLiteral("--month"), QStringLiteral("9"))
        .add(QStringLiteral("--region"), QStringLiteral("45"))
        .arguments();
}

TEST(CommandLineTest, APasswordIsNeverPrintedNorMadeIntoAFile)
{
    QTemporaryDir dir;
    // Mistyped URLs: refused as no database name, never created as a file.
    for (const QString& typed :
         {QStringLiteral("postgresql:/u:%1@localhost/x"), QStringLiteral("pgsql://u:%1@localhost/x"),
          QStringLiteral("postgresql:user:%1@localhost"), QStringLiteral("postgres//u:%1@localhost/x"),
          QStringLiteral("postgresql://u:%1@/x")}) {
        const QString db = typed.arg(kSecret);
        for (const QStringList& args :
             {QStringList{QStringLiteral("init-db"), QStringLiteral("--db"), db}, reportArgs(db)}) {
            const Outcome r = allstats(args, dir.path());
            EXPECT_EQ(r.code, 2) << db.toStdString() << ": " << r.err.toStdString();
            EXPECT_FALSE(r.error().contains(kSecret)) << r.err.toStdString();
            EXPECT_FALSE(r.output().contains(kSecret)) << r.out.toStdString();
        }
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{})
            << "nothing is made for " << db.toStdString();
    }
    // A well-formed URL whose server is not there: the message names it without the password.
    const Outcome down =
        allstats(reportArgs(QStringLiteral("PostgreSQL://u:%1@127.0.0.1:1/x").arg(kSecret)), dir.path());
    EXPECT_EQ(down.code, 3) << down.err.toStdString();
    EXPECT_TRUE(down.error().contains(QStringLiteral("127.0.0.1:1/x"))) << down.err.toStdString();
    EXPECT_FALSE(down.error().contains(kSecret));
    // An empty name is wrong usage, not a database that failed.
    EXPECT_EQ(allstats({QStringLiteral("init-db"), QStringLiteral("--db"), QString()}, dir.path()).code, 2);

    // How the texts show: the password goes, whatever the form; a folder's '@' stays.
    EXPECT_EQ(hidePassword(QStringLiteral("u:secret@h")), QStringLiteral("u@h"));
    EXPECT_EQ(hidePassword(QStringLiteral("/home/me@corp/demo.sqlite")),
              QStringLiteral("/home/me@corp/demo.sqlite"));
    EXPECT_EQ(withPassword(QStringLiteral("postgresql://u@h/d"), QStringLiteral("a b@c")),
              QStringLiteral("postgresql://u:a%20b%40c@h/d"));
    EXPECT_EQ(passwordOf(withPassword(QStringLiteral("postgresql://u@h/d"), QStringLiteral("a b@c"))),
              QStringLiteral("a b@c"));
    // A home folder with an '@' in its name still holds databases.
    QDir(dir.path()).mkdir(QStringLiteral("me@corp"));
    QString why;
    EXPECT_TRUE(parseDatabaseName(dir.filePath(QStringLiteral("me@corp/new.sqlite")), &why))
        << why.toStdString();
}

TEST(CommandLineTest, OptionsGivenTwiceAndHelpWithoutADisplay)
{
    QTemporaryDir dir;
    const Outcome initTwice =
        allstats({QStringLiteral("init-db"), QStringLiteral("--db"), QStringLiteral("a.sqlite"),
                  QStringLiteral("--db"), QStringLiteral("b.sqlite")},
                 dir.path());
    EXPECT_EQ(initTwice.code, 2);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("a.sqlite"))));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("b.sqlite"))));

    // The program's own help and version need no display, and the help names every command.
    const Outcome help = allstats({QStringLiteral("--help")}, dir.path(), false);
    EXPECT_EQ(help.code, 0) << help.err.toStdString();
    for (const char* command : {"init-db", "report", "pack", "trend", "rank"})
        EXPECT_TRUE(help.output().contains(QLatin1String(command))) << command << " in\n"
                                                                    << help.out.toStdString();
    const Outcome version = allstats({QStringLiteral("--version")}, dir.path(), false);
    EXPECT_EQ(version.code, 0);
    EXPECT_TRUE(version.output().startsWith(QStringLiteral("allstats "))) << version.out.toStdString();
}

class CommandLineDbTest : public BackendTest
{
};

TEST_P(CommandLineDbTest, TheServerSeesTheUrlsParametersAndUnknownOnesAreRefused)
{
    if (GetParam() != Backend::PostgreSQL)
        GTEST_SKIP() << "URL parameters are the server's";
    QTemporaryDir dir;
    const QString base = db->url();
    const QString sep = base.contains(u'?') ? QStringLiteral("&") : QStringLiteral("?");
    const Outcome unknown =
        allstats({QStringLiteral("init-db"), QStringLiteral("--db"), base + sep + QStringLiteral("foo=bar")},
                 dir.path());
    EXPECT_EQ(unknown.code, 2);
    EXPECT_TRUE(unknown.error().contains(QStringLiteral("foo"))) << unknown.err.toStdString();
    // The test server speaks no TLS: a URL that demands it is refused with the server's reason.
    const Outcome tls = allstats(
        {QStringLiteral("init-db"), QStringLiteral("--db"), base + sep + QStringLiteral("sslmode=require")},
        dir.path());
    EXPECT_EQ(tls.code, 3);
    EXPECT_TRUE(tls.error().contains(QStringLiteral("SSL"))) << tls.err.toStdString();
    // The parameters the client knows reach it: the server sees the connection's name.
    QString error;
    auto named = Sqlca::connect(
        base + sep + QStringLiteral("application_name=allstats%20test&connect_timeout=5"), &error);
    ASSERT_TRUE(named) << error.toStdString();
    EXPECT_EQ(named->selectValue(QStringLiteral("SELECT current_setting('application_name')")).toString(),
              QStringLiteral("allstats test"));
}

TEST_P(CommandLineDbTest, TwoDemoFillersAtOnceBothSucceedAndTheDemoIsThereOnce)
{
    QTemporaryDir dir;
    const QStringList args = {
        QStringLiteral("init-db"), QStringLiteral("--db"),     db->url(),
        QStringLiteral("--demo"),  QStringLiteral("--period"), QStringLiteral("202409")};
    QProcess first, second;
    for (QProcess* p : {&first, &second}) {
        p->setWorkingDirectory(dir.path());
        p->start(allstatsExecutable(), args);
    }
    for (QProcess* p : {&first, &second}) {
        ASSERT_TRUE(p->waitForFinished(180000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }
    const QString said = QString::fromUtf8(first.readAllStandardOutput() + second.readAllStandardOutput());
    EXPECT_TRUE(said.contains(QStringLiteral("already"))) << said.toStdString();
    EXPECT_EQ(sqlca().selectValue(QStringLiteral("SELECT count(*) FROM s_qybm WHERE qybm = '45'")).toInt(),
              1);
    EXPECT_EQ(
        sqlca().selectValue(QStringLiteral("SELECT count(*) FROM H_stat WHERE length(kjqj) <> 6")).toInt(),
        0);
}

ALLSTATS_ON_ALL_BACKENDS(CommandLineDbTest);

} // namespace

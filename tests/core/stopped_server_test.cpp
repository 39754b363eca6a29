// SPDX-License-Identifier: GPL-3.0-or-later
// A database that stops answering in the middle of a pack: the command gives
// up within --timeout + 15 s with exit status 3 and says how many reports it
// wrote whole; a database that is only busy (a lock another run holds) is
// waited for as --wait says and named as busy.
#include "foundation/sqlca.h"
#include "host/exitcode.h"
#include "support/commandline.h"
#include "support/files.h"
#include "support/testdb.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <sys/types.h>

namespace {

QString serverScript()
{
    return QStringLiteral(ALLSTATS_TEST_DATA "/../../scripts/pg-test-server.sh");
}

// A PostgreSQL server of this test's own (the shared test server serves the
// other tests meanwhile), started by the project's script and stopped again
// whatever happens. Its processes can be stopped and continued.
class OwnServer final
{
public:
    OwnServer()
    {
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("ALLSTATS_PGDIR_FILE"), m_dir.filePath(QStringLiteral("pgdir")));
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(QStringLiteral("bash"), {serverScript(), QStringLiteral("start")});
        if (p.waitForFinished(120000) && p.exitCode() == 0)
            m_url = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        else
            m_error = QString::fromUtf8(p.readAllStandardError());
    }
    ~OwnServer()
    {
        signalAll(SIGCONT);
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(QStringLiteral("bash"), {serverScript(), QStringLiteral("stop")});
        p.waitForFinished(60000);
    }
    OwnServer(const OwnServer&) = delete;
    OwnServer& operator=(const OwnServer&) = delete;

    QString url() const { return m_url; }
    QString error() const { return m_error; }

    // The postmaster and every process it started (the backends among them).
    QList<pid_t> processes() const
    {
        QFile state(m_dir.filePath(QStringLiteral("pgdir")));
        if (!state.open(QIODevice::ReadOnly))
            return {};
        const QString data = QString::fromUtf8(state.readAll()).split(u' ').value(0);
        QFile pidFile(data + QStringLiteral("/data/postmaster.pid"));
        if (!pidFile.open(QIODevice::ReadOnly))
            return {};
        const pid_t postmaster = pid_t(pidFile.readLine().trimmed().toLongLong());
        QList<pid_t> out{postmaster};
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool number = false;
            const pid_t pid = pid_t(entry.toLongLong(&number));
            if (!number)
                continue;
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            // pid (name) state ppid …; the name may hold blanks, so read after its ')'.
            const QByteArray line = stat.readAll();
            const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
            if (rest.size() > 1 && rest[1].toLongLong() == postmaster)
                out << pid;
        }
        return out;
    }
    void signalAll(int signal) const
    {
        for (const pid_t pid : processes())
            ::kill(pid, signal);
    }

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    QString m_url;
    QString m_error;
};

class StoppedServerTest : public BackendTest
{
};

TEST_P(StoppedServerTest, APackGivesUpOnAServerThatStopsAnsweringAndSaysWhatItWroteWhole)
{
    if (!QFile::exists(allstatsExecutable()))
        GTEST_SKIP() << "the allstats executable is not built";
    const bool pg = GetParam() == Backend::PostgreSQL;
    std::unique_ptr<OwnServer> server;
    QString dbText = db->url();
    if (pg) {
        server = std::make_unique<OwnServer>();
        ASSERT_FALSE(server->url().isEmpty()) << server->error().toStdString();
        dbText = server->url();
    }
    RunOptions demo;
    demo.timeoutMs = 300000;
    const Outcome init =
        runAllstats({QStringLiteral("init-db"), QStringLiteral("--db"), dbText, QStringLiteral("--demo"),
                     QStringLiteral("--period"), QStringLiteral("202409")},
                    demo);
    ASSERT_EQ(init.code, ExitDone) << init.err.toStdString();
    if (!pg) // a writer locks a file outside WAL mode wholly; a report in WAL mode would not wait
        db->exec(QStringLiteral("PRAGMA journal_mode=DELETE"));

    // PostgreSQL stops answering: 2 s of --timeout and 15 s for the server to
    // stop the statement, whatever --wait says. SQLite is only busy (another
    // connection writes): it is waited for as --wait says, past --timeout + 15 s.
    const QString wait = pg ? QStringLiteral("120") : QStringLiteral("17");
    QTemporaryDir out;
    QProcess pack;
    pack.setReadChannel(QProcess::StandardError);
    pack.start(allstatsExecutable(),
               batchCommand(QStringLiteral("pack"), dbText)
                   .add(QStringLiteral("--scheme"), QStringLiteral("预设方案"))
                   .add(QStringLiteral("--year"), QStringLiteral("2024"))
                   .add(QStringLiteral("--month"), QStringLiteral("9"))
                   .add(QStringLiteral("--region"), QStringLiteral("45"))
                   .add(QStringLiteral("--level"), QStringLiteral("village"))
                   .add(QStringLiteral("--format"), QStringLiteral("pdf"))
                   .add(QStringLiteral("--out"), out.path())
                   .add(QStringLiteral("--wait"), wait)
                   .add(QStringLiteral("--timeout"), pg ? QStringLiteral("2") : QStringLiteral("1"))
                   .arguments());
    ASSERT_TRUE(pack.waitForStarted());
    // Three reports made, then the database goes away from under the pack.
    static const QRegularExpression progress(QStringLiteral("^(\\d+)/97 "),
                                             QRegularExpression::MultilineOption);
    QByteArray seen;
    int made = 0;
    while (made < 3 && pack.state() == QProcess::Running && pack.waitForReadyRead(60000)) {
        seen += pack.readAllStandardError();
        for (auto it = progress.globalMatch(QString::fromUtf8(seen)); it.hasNext();)
            made = std::max(made, it.next().captured(1).toInt());
    }
    ASSERT_GE(made, 3) << seen.toStdString();
    std::unique_ptr<Sqlca> other;
    if (pg) {
        server->signalAll(SIGSTOP);
    } else {
        other = db->connectAgain();
        ASSERT_TRUE(other);
        ASSERT_TRUE(other->executeImmediate(QStringLiteral("BEGIN EXCLUSIVE")))
            << other->SQLErrText.toStdString();
    }
    // A generous bound: the command gives up well within a minute of it.
    const bool ended = pack.waitForFinished(60000);
    if (pg)
        server->signalAll(SIGCONT);
    else
        other->executeImmediate(QStringLiteral("ROLLBACK"));
    if (!ended) {
        pack.kill();
        pack.waitForFinished();
    }
    ASSERT_TRUE(ended) << "the pack was still waiting a minute after the database went away";
    seen += pack.readAllStandardError();
    const QString message = QString::fromUtf8(seen);
    EXPECT_EQ(pack.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(pack.exitCode(), ExitDatabase) << message.toStdString();
    if (pg) {
        EXPECT_TRUE(message.contains(QStringLiteral("did not answer within 17 s"))) << message.toStdString();
    } else {
        EXPECT_TRUE(message.contains(QStringLiteral("the database is busy"))) << message.toStdString();
        EXPECT_FALSE(message.contains(QStringLiteral("did not answer"))) << message.toStdString();
    }
    EXPECT_FALSE(message.contains(QStringLiteral("nothing was written"))) << message.toStdString();

    // What it says it wrote is there, whole; the rest and the combined file are not.
    static const QRegularExpression written(
        QStringLiteral("(\\d+) of 97 reports were written whole in (.*?);"));
    const auto m = written.match(message);
    ASSERT_TRUE(m.hasMatch()) << message.toStdString();
    EXPECT_EQ(m.captured(2), QDir(out.path()).absolutePath());
    const QStringList files = QDir(out.path()).entryList(QDir::Files);
    EXPECT_EQ(files.size(), m.captured(1).toInt()) << files.join(QStringLiteral(" ")).toStdString();
    EXPECT_GE(files.size(), 3);
    for (const QString& f : files) {
        EXPECT_TRUE(f.endsWith(QStringLiteral("-202409.pdf"))) << f.toStdString();
        const QByteArray bytes = readFile(QDir(out.path()).filePath(f));
        EXPECT_TRUE(bytes.startsWith("%PDF") && bytes.trimmed().endsWith("%%EOF")) << f.toStdString();
    }
    EXPECT_TRUE(message.contains(QStringLiteral("全部.pdf was not written"))) << message.toStdString();
}

ALLSTATS_ON_ALL_BACKENDS(StoppedServerTest);

} // namespace

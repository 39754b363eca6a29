#include "host/batchrun.h"

#include "foundation/sqlca.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace batch {

namespace {

// A whole number of seconds, 0 or more.
bool seconds(const QCommandLineParser& parser, const QString& option, int* value, QString* error)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const int v = parser.value(option).trimmed().toInt(&ok);
    if (!ok || v < 0) {
        *error =
            QStringLiteral("--%1 must be a whole number of seconds: %2").arg(option, parser.value(option));
        return false;
    }
    *value = v;
    return true;
}

bool sameFile(const QString& a, const QString& b)
{
    if (QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath())
        return true;
    struct stat sa = {}, sb = {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace

void addLimitOptions(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("wait"),
                      QStringLiteral("Seconds to wait for a database another run is using (default %1).")
                          .arg(Sqlca::kDefaultWaitSeconds),
                      QStringLiteral("SECONDS")});
    parser.addOption({QStringLiteral("timeout"),
                      QStringLiteral("Seconds a statement may run, 0 for no limit (default %1).")
                          .arg(kDefaultTimeoutSeconds),
                      QStringLiteral("SECONDS")});
}

bool readLimits(const QCommandLineParser& parser, Limits* limits, QString* error)
{
    limits->waitSeconds = Sqlca::kDefaultWaitSeconds;
    limits->timeoutSeconds = kDefaultTimeoutSeconds;
    return seconds(parser, QStringLiteral("wait"), &limits->waitSeconds, error) &&
           seconds(parser, QStringLiteral("timeout"), &limits->timeoutSeconds, error);
}

QString outputRefusal(const QString& out, const QString& db)
{
    if (out == u"-")
        return QString();
    QString path = db.trimmed();
    if (path.startsWith(QStringLiteral("postgres")))
        return QString();
    if (path.startsWith(QStringLiteral("sqlite:")))
        path = path.mid(7);
    for (const QString& suffix :
         {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")}) {
        if (sameFile(out, path + suffix))
            return QStringLiteral("--out names the database file %1; write the report to another file")
                .arg(path + suffix);
    }
    return QString();
}

bool writeOutput(const QString& out, const QByteArray& bytes, QString* error)
{
    if (out == u"-") {
        QFile f;
        if (!f.open(stdout, QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.flush()) {
            *error = QStringLiteral("cannot write to standard output");
            return false;
        }
        return true;
    }
    const QFileInfo info(out);
    const QString absolute = info.absoluteFilePath();
    const bool special = info.exists() && (!info.isFile() || absolute.startsWith(QStringLiteral("/dev/")) ||
                                           absolute.startsWith(QStringLiteral("/proc/")));
    if (special) {
        // A device, a pipe, or a stream the caller opened: it is written into,
        // never replaced by a file of the same name.
        QFile f(out);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || f.write(bytes) != bytes.size()) {
            *error = QStringLiteral("cannot write %1: %2").arg(out, f.errorString());
            return false;
        }
        return true;
    }
    // Written whole or not at all: a failed write leaves no truncated report.
    QSaveFile f(out);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(out, f.errorString());
        return false;
    }
    return true;
}

Watchdog::Watchdog(Sqlca& sqlca, const Limits& limits, QString command)
    : m_sqlca(sqlca), m_command(std::move(command))
{
    m_sqlca.setTimeLimits(limits.waitSeconds, limits.timeoutSeconds);
    if (limits.timeoutSeconds <= 0)
        return;
    // The server (or SQLite's own check) stops a statement at its limit; this
    // is for a server that no longer answers at all.
    m_deadlineMs = (qint64(limits.timeoutSeconds) + kGraceSeconds) * 1000;
    m_thread = std::thread([this, timeout = limits.timeoutSeconds] {
        std::unique_lock lock(m_mutex);
        while (!m_wake.wait_for(lock, std::chrono::milliseconds(500), [this] { return m_stop; })) {
            if (m_sqlca.statementRunningMs() > m_deadlineMs) {
                const QString written = m_progress ? m_progress() : QStringLiteral("nothing was written");
                const QByteArray text =
                    QStringLiteral("%1: the database did not answer within %2 s, the time limit of %3 s "
                                   "(--timeout SECONDS) and %4 s for the server to stop the statement; "
                                   "the run is abandoned: %5\n")
                        .arg(m_command)
                        .arg(timeout + kGraceSeconds)
                        .arg(timeout)
                        .arg(kGraceSeconds)
                        .arg(written)
                        .toLocal8Bit();
                std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
                std::fflush(stderr);
                std::_Exit(ExitDatabase);
            }
        }
    });
}

void Watchdog::setProgress(std::function<QString()> progress)
{
    std::lock_guard lock(m_mutex);
    m_progress = std::move(progress);
}

Watchdog::~Watchdog()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

} // namespace batch

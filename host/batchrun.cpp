// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/batchrun.h"

#include "foundation/dbname.h"
#include "foundation/safefile.h"
#include "foundation/sqlca.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A path and, when links lead elsewhere, where they lead (also to a file that
// is not there yet: a journal file SQLite makes later).
QStringList namesOf(const QString& path)
{
    QStringList names{QFileInfo(path).absoluteFilePath()};
    const QString resolved = resolvedFilePath(path);
    if (!resolved.isEmpty() && !names.contains(resolved))
        names << resolved;
    return names;
}

// Writes all bytes to an open descriptor, again after an interruption or a short write.
bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
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
    const QString file = databaseFileAt(out, db);
    return file.isEmpty()
               ? QString()
               : QStringLiteral("--out names the database file %1; write the report to another file")
                     .arg(file);
}

QString databaseFileAt(const QString& out, const QString& db)
{
    if (out == u"-")
        return QString();
    // A server's database has no file here (and a file named postgres.sqlite is a file).
    QString why;
    const std::optional<DatabaseName> name = parseDatabaseName(db, &why);
    if (!name || name->isPostgres())
        return QString();
    const QString path = name->path;
    // Links are followed on both sides, dangling ones too: a link to the
    // journal file SQLite makes and removes later is the journal file.
    const QStringList targets = namesOf(out);
    for (const QString& base : namesOf(path)) {
        for (const QString& suffix :
             {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")}) {
            for (const QString& journal : namesOf(base + suffix)) {
                for (const QString& target : targets) {
                    if (sameFile(target, journal))
                        return path + suffix;
                }
            }
        }
    }
    return QString();
}

bool writeOutput(const QString& out, const QByteArray& bytes, QString* error)
{
    if (out == u"-") {
        std::fflush(stdout);
        if (!writeAll(STDOUT_FILENO, bytes)) {
            *error = QStringLiteral("cannot write to standard output: %1").arg(systemErrorText(errno));
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
        const int fd = ::open(QFile::encodeName(out).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0 || !writeAll(fd, bytes)) {
            *error = QStringLiteral("cannot write %1: %2").arg(out, systemErrorText(errno));
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        if (::close(fd) != 0 && errno != EINTR) {
            *error = QStringLiteral("cannot write %1: %2").arg(out, systemErrorText(errno));
            return false;
        }
        return true;
    }
    // Written whole or not at all: a failed write leaves the earlier file as it was.
    return writeFileWhole(out, bytes, error);
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

// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/commandline.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

CommandLine::CommandLine(const QString& command) : m_words{command} {}

CommandLine& CommandLine::add(const QString& option, const QString& value)
{
    m_words << option << value;
    return *this;
}

CommandLine& CommandLine::add(const QString& word)
{
    m_words << word;
    return *this;
}

CommandLine& CommandLine::set(const QString& option, const QString& value)
{
    const qsizetype i = m_words.indexOf(option);
    if (i < 1 || i + 1 >= m_words.size())
        return add(option, value);
    m_words[i + 1] = value;
    return *this;
}

CommandLine& CommandLine::drop(const QString& option)
{
    const qsizetype i = m_words.indexOf(option);
    if (i >= 1)
        m_words.remove(i, i + 1 < m_words.size() ? 2 : 1);
    return *this;
}

CommandLine batchCommand(const QString& command, const QString& db, const QString& hooks,
                         const QString& period)
{
    CommandLine c(command);
    c.add(QStringLiteral("--db"), db);
    if (!hooks.isEmpty())
        c.add(QStringLiteral("--hooks"), hooks);
    if (!period.isEmpty())
        c.add(QStringLiteral("--period"), period);
    return c;
}

QString allstatsExecutable()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../allstats"));
}

QString Outcome::said() const
{
    const QList<QByteArray> lines = err.trimmed().split('\n');
    return QString::fromUtf8(lines.last()).trimmed();
}

Outcome runAllstats(const QStringList& arguments, const RunOptions& options)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!options.workingDir.isEmpty()) {
        p.setWorkingDirectory(options.workingDir);
        env.insert(QStringLiteral("HOME"), options.workingDir);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), options.workingDir + QStringLiteral("/.config"));
    }
    if (!options.display) {
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    }
    p.setProcessEnvironment(env);
    if (const qint64 limit = options.fileSizeLimit; limit >= 0)
        p.setChildProcessModifier([limit] {
            const rlimit r{rlim_t(limit), rlim_t(limit)};
            ::setrlimit(RLIMIT_FSIZE, &r);
            std::signal(SIGXFSZ, SIG_IGN);
        });
    p.start(allstatsExecutable(), arguments);
    Outcome r;
    if (!p.waitForFinished(options.timeoutMs)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << "allstats " << arguments.join(u' ').toStdString() << " did not finish";
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

CapturedStandardError::CapturedStandardError()
{
    QByteArray name = QFile::encodeName(QDir::tempPath() + QStringLiteral("/allstats-stderr-XXXXXX"));
    m_file = ::mkstemp(name.data());
    if (m_file < 0) {
        ADD_FAILURE() << "cannot make a file for standard error";
        return;
    }
    ::unlink(name.constData());
    std::fflush(stderr);
    m_saved = ::dup(STDERR_FILENO);
    ::dup2(m_file, STDERR_FILENO);
}

CapturedStandardError::~CapturedStandardError()
{
    std::fflush(stderr);
    if (m_saved >= 0) {
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
    }
    if (m_file >= 0)
        ::close(m_file);
}

QString CapturedStandardError::text()
{
    std::fflush(stderr);
    if (m_file < 0)
        return {};
    QByteArray bytes;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(m_file, buffer, sizeof buffer, at);
        if (n <= 0)
            break;
        bytes.append(buffer, n);
        at += n;
    }
    return QString::fromUtf8(bytes);
}

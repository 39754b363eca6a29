// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Command lines of `allstats` as the tests give them, and the built executable
// run as a user runs it.

#include <QByteArray>
#include <QString>
#include <QStringList>

// A command and its options in the order given: `CommandLine(u"report").add(u"--db", url)`.
// args() is what runReport, runPack, runTrend and runRank take (it starts with
// the program's name); arguments() is what the executable is given.
class CommandLine final
{
public:
    explicit CommandLine(const QString& command);

    // Adds an option with its value (again, when it is there already).
    CommandLine& add(const QString& option, const QString& value);
    // Adds an option without a value (--landscape) or a bare word.
    CommandLine& add(const QString& word);
    // Gives an option another value; adds it when it is not there.
    CommandLine& set(const QString& option, const QString& value);
    // Takes an option and its value away.
    CommandLine& drop(const QString& option);

    QStringList args() const { return QStringList{QStringLiteral("allstats")} + arguments(); }
    QStringList arguments() const { return m_words; }
    operator QStringList() const { return args(); }

private:
    QStringList m_words;
};

// A batch command on a database: `allstats <command> --db DB [--hooks DIR] [--period YYYYMM]`.
CommandLine batchCommand(const QString& command, const QString& db, const QString& hooks = {},
                         const QString& period = {});

// The built executable, beside the test programs' folder.
QString allstatsExecutable();

struct Outcome
{
    int code = -1; // the exit status; -1 when it crashed or did not finish
    QByteArray out;
    QByteArray err;
    QString output() const { return QString::fromUtf8(out); }
    QString error() const { return QString::fromUtf8(err); }
    // The last line of standard error: what the command says (the platform
    // plugin may warn about its environment first).
    QString said() const;
};

struct RunOptions
{
    QString workingDir;  // also HOME and XDG_CONFIG_HOME (below it), when given
    bool display = true; // false: no QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY
    int timeoutMs = 120000;
    // A file-size limit in bytes for the process (SIGXFSZ ignored, so a write
    // past it fails with EFBIG); -1: none.
    qint64 fileSizeLimit = -1;
};

// Runs `allstats` with the arguments (without the program's name) and waits.
Outcome runAllstats(const QStringList& arguments, const RunOptions& options = {});

// What the process writes to its standard error while the object lives, for
// the batch commands called in the test's own process.
class CapturedStandardError final
{
public:
    CapturedStandardError();
    ~CapturedStandardError();
    CapturedStandardError(const CapturedStandardError&) = delete;
    CapturedStandardError& operator=(const CapturedStandardError&) = delete;

    // What was written so far.
    QString text();

private:
    int m_saved = -1;
    int m_file = -1;
};

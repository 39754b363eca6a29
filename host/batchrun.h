// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host/exitcode.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class QCommandLineParser;
class Sqlca;

// What the batch commands share: how long they wait for a busy database and
// how long a statement may run, and where a report may be written.
namespace batch {

// The statement time limit when --timeout is not given.
constexpr int kDefaultTimeoutSeconds = 600;

struct Limits
{
    int waitSeconds = 0;
    int timeoutSeconds = kDefaultTimeoutSeconds;
};

// --wait SECONDS and --timeout SECONDS.
void addLimitOptions(QCommandLineParser& parser);
// The two limits, or false with *error when a value is not a whole number of seconds.
bool readLimits(const QCommandLineParser& parser, Limits* limits, QString* error);

// Empty when OUT may be written; else why not (it names the database file or
// one of its journal files). "-" is standard output.
QString outputRefusal(const QString& out, const QString& db);
// The database file or journal file of DB that writing OUT would replace, or
// empty. Links are followed on both sides, also links to a journal file that
// does not exist yet.
QString databaseFileAt(const QString& out, const QString& db);
// Writes the bytes to OUT: standard output for "-"; a device, a named pipe or
// /dev/stdout directly; a regular file whole or not at all (write and rename).
bool writeOutput(const QString& out, const QByteArray& bytes, QString* error);

// How long past --timeout a statement may go unanswered before the command
// gives up on the server: the time the server takes to stop it.
constexpr int kGraceSeconds = 15;

// Applies the limits to the connection and, while alive, watches its
// statements: one that has neither answered nor been cancelled by the server
// within --timeout + 15 s (a stopped or unreachable server) ends the process
// with a message on standard error and ExitDatabase; the server rolls back the
// open transaction. A wait for a lock is a server that answers: PostgreSQL
// counts it within --timeout, and SQLite's own wait restarts the clock.
// --timeout 0 lifts the limit and this bound with it.
class Watchdog final
{
public:
    Watchdog(Sqlca& sqlca, const Limits& limits, QString command);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // What the command has written so far, for the message when it gives up
    // ("nothing was written" without one). Called on the watchdog's own
    // thread while the command waits for the server.
    void setProgress(std::function<QString()> progress);

private:
    Sqlca& m_sqlca;
    qint64 m_deadlineMs = 0;
    QString m_command;
    std::function<QString()> m_progress;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace batch

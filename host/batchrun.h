#pragma once

#include "host/exitcode.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
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

// Applies the limits to the connection and, while alive, watches its
// statements: a server that does not answer at all, not even to cancel a
// statement past its time limit, ends the process with a message on
// standard error and ExitDatabase (the server rolls back the open transaction).
class Watchdog final
{
public:
    Watchdog(Sqlca& sqlca, const Limits& limits, QString command);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    Sqlca& m_sqlca;
    qint64 m_deadlineMs = 0;
    QString m_command;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace batch

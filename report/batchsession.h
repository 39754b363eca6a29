// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host/batchrun.h"
#include "host/sqlhost.h"

#include <QCommandLineParser>
#include <QString>
#include <initializer_list>
#include <memory>

class Sqlca;

// What the batch commands built on the statistics run share (report, pack,
// trend, rank): the options, their checks, the database and the region, the host.
struct ReportSession
{
    QCommandLineParser parser;
    QString command;
    QString year;
    int month = 0;
    QString period;
    std::unique_ptr<Sqlca> sqlca;
    std::unique_ptr<SqlHost> host;
    batch::Limits limits;
    std::unique_ptr<batch::Watchdog> watchdog; // goes before the connection it watches
    QString regionName;

    ReportSession();
    ~ReportSession();
    ReportSession(const ReportSession&) = delete;
    ReportSession& operator=(const ReportSession&) = delete;

    QString value(const char* name) const { return parser.value(QString::fromLatin1(name)); }
    bool isSet(const char* name) const { return parser.isSet(QString::fromLatin1(name)); }
};

// --help, the session options, --scheme, --region, --wait and --timeout.
void addSessionCommandOptions(QCommandLineParser& parser);
// --year and --month (a number, or "previous" without --year).
void addMonthOptions(QCommandLineParser& parser);
// The above and --year, --month, --format (json, csv, xlsx, pdf) and --landscape.
void addReportOptions(QCommandLineParser& parser);

// Parses the arguments and checks what every command takes: no stray
// argument, the required options, --period, the limits. ExitDone to go on;
// -1 when the help was shown; an exit code otherwise.
int parseCommandOptions(ReportSession& s, const QStringList& args,
                        std::initializer_list<const char*> required);
// The same with --db and --month required, and --year unless the month is
// "previous" (the month before s.period); checked into s.year and s.month.
int parseReportOptions(ReportSession& s, const QStringList& args);

// The hooks folder, the rights gate, the database, the region (when given),
// the scheme (when given) and the host, in this order. ExitDone to go on, an
// exit code otherwise.
int openReportSession(ReportSession& s);

// While alive, Ctrl-C does not end the process but is noted, so a command
// stepping through runs stops after the run being made.
class InterruptCatcher final
{
public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;
    bool interrupted() const;

private:
    void (*m_previous)(int) = nullptr;
};

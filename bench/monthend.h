// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bench/benchdata.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// Month end: clerks, each a thread with a connection of its own as a desktop
// holds one, make village, town and county reports (70/20/10, regions drawn
// at random) without pause for a fixed time; first alone, then beside one and
// two users making province reports one after another, and once beside two
// threads that only burn CPU (what sharing two cores costs without any
// waiting). Every result of a sample is compared with the same report made
// alone afterwards.
namespace monthend {

struct Latency
{
    QString level; // village, town, county, province, or "all" (the clerks' reports together)
    int reports = 0;
    double p50 = 0;
    double p95 = 0;
    double max = 0;
    QJsonObject json() const;
};

struct Phase
{
    QString name;          // "alone", "1 province user", "2 province users", "2 CPU burners"
    int provinceUsers = 0; // threads making province reports without pause
    int burners = 0;       // threads that only burn CPU
    double seconds = 0;    // how long the clerks ran
    int clerkReports = 0;
    double clerkPerSecond = 0;
    QList<Latency> latencies; // the clerks' levels, "all", then the province users' reports
    int errors = 0;
    QStringList errorTexts; // the first few
    // The clerks' threads, per report: CPU time, and how often the thread
    // went to sleep (a lock, a busy file, the server's answer) or was put
    // aside for another thread. On SQLite the thread does all of a report's
    // work; on PostgreSQL the server's process does most of it.
    double cpuMsPerReport = 0;
    double sleepsPerReport = 0;
    double preemptionsPerReport = 0;
    // PostgreSQL: samples of the clerks' server processes, how many were
    // active and how many of those waited for a lock.
    int activeSamples = 0;
    int lockWaitSamples = 0;
    const Latency* latency(const QString& level) const;
    QJsonObject json() const;
};

struct Result
{
    QString backend;
    int clerks = 0;
    QList<Phase> phases;
    int compared = 0; // sampled results made again alone
    int differing = 0;
    QStringList differences; // the first few
    QString error;           // a failure that stopped the measurement
    QJsonObject json() const;
};

// One backend; DB as Sqlca::connect takes it.
Result measure(const QString& db, const benchdata::Size& size, int clerks, double secondsPerPhase);

// The table the bench prints, one line per backend and phase.
QStringList table(const QList<Result>& results);

} // namespace monthend

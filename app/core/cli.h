#pragma once

#include <QStringList>

// Exit codes of the batch commands.
enum ExitCode
{
    ExitDone = 0,
    ExitRefused = 1,
    ExitUsage = 2,
    ExitDatabase = 3,
};

bool isBatchCommand(const QString& word);
// Runs `allstats <command> ...`; args as QCoreApplication::arguments().
int runBatch(const QStringList& args);

int runInitDb(const QStringList& args);
int runReport(const QStringList& args);

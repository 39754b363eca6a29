#pragma once

#include "host/exitcode.h"

#include <QStringList>

bool isBatchCommand(const QString& word);
// Runs `allstats <command> ...`; args as QCoreApplication::arguments().
int runBatch(const QStringList& args);

int runInitDb(const QStringList& args);

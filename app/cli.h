// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host/exitcode.h"

#include <QStringList>

bool isBatchCommand(const QString& word);
// A first argument that is no option names a command (known or not): the desktop never starts on it.
bool isCommandWord(const QString& word);
// --help or --version for the program itself (no command before them): they need no display.
bool isInformationRequest(const QStringList& args);
int runInformation(const QStringList& args);
// Runs `allstats <command> ...`; args as QCoreApplication::arguments().
int runBatch(const QStringList& args);

int runInitDb(const QStringList& args);

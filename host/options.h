// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "foundation/host.h" // isValidPeriod
#include "foundation/places.h"

#include <QString>

class QCommandLineParser;

// The session a user works in: the database and the host globals. Read from the
// settings file and overridden by command-line options.
struct SessionOptions
{
    QString db;
    QString userRegion; // gs_userqybm
    QString period;     // gs_kjqj
    QString grant;      // gs_usergrant; null when not given (lets the user in)
    QString hooksDir;
    QString open; // a screen to open at start (desktop only)
};

void addSessionOptions(QCommandLineParser& parser);
// The main window's options: the session options and --open.
void addDesktopOptions(QCommandLineParser& parser);
// The first option that takes one value but was given more than once ("--region"),
// empty when there is none; the options in `several` may repeat.
QString repeatedOption(const QCommandLineParser& parser, const QStringList& several = {});
// Whether the database option names a database (or is not given); else *error says why.
bool checkDatabaseOption(const QCommandLineParser& parser, QString* error);
// Settings first, then the options given on the command line.
SessionOptions readSessionOptions(const QCommandLineParser& parser);
void saveSessionOptions(const SessionOptions& options);
// Only the database (without its password): a sign-in under another user name is offered next time.
void saveSessionDatabase(const QString& db);

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
// Settings first, then the options given on the command line.
SessionOptions readSessionOptions(const QCommandLineParser& parser);
void saveSessionOptions(const SessionOptions& options);

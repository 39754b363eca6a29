#pragma once

#include <QStringList>

// Opens the host's main window on the session given by the settings and the
// command line; returns the application's exit code.
int runDesktop(const QStringList& args);

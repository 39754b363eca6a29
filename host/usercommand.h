// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// `allstats user add|set|remove|list`: the users of a shared PostgreSQL
// database (the users table s_yhqx and the roles it names). A password is
// asked for on the terminal without echo, or read as two lines from standard
// input when that is not a terminal; it is never an option.
int runUser(const QStringList& args);

// Reads a new password twice: from the terminal without echo, else two lines
// of standard input. False with *error when they differ or are empty.
bool readNewPassword(const QString& role, QString* password, QString* error);

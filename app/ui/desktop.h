// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// The desktop's language and look: the Chinese locale, Qt's own dialogs and
// buttons in Chinese, and the screens' font. The picture program uses it too.
void installChinese();

// Opens the host's main window on the session given by the settings and the
// command line; returns the application's exit code.
int runDesktop(const QStringList& args);

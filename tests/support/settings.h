// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Settings and the user's folders in a temporary folder, never the developer's own.

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

class IsolatedSettings final
{
public:
    IsolatedSettings()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        qputenv("XDG_DATA_HOME", m_dir.path().toUtf8());
        // The user's documents folder, named as a Chinese desktop names it.
        qputenv("XDG_CONFIG_HOME", m_dir.path().toUtf8());
        QFile dirs(m_dir.filePath(QStringLiteral("user-dirs.dirs")));
        if (dirs.open(QIODevice::WriteOnly))
            dirs.write(QStringLiteral("XDG_DOCUMENTS_DIR=\"%1\"\n").arg(documents()).toUtf8());
    }
    QString dir() const { return m_dir.path(); }
    QString documents() const { return m_dir.filePath(QStringLiteral("文档")); }

private:
    QTemporaryDir m_dir;
};

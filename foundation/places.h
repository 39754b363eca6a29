// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>
#include <QString>

// Where the program keeps and finds its files.

// The user's settings file (~/.config/allstats/allstats.ini), readable by the
// user only; made when it is written to first.
enum class SettingsUse
{
    Read,
    Write,
};
QSettings userSettings(SettingsUse use);

// The demo database in the user's data folder.
QString demoDatabasePath();
// A folder of the program's own data (hooks, pic, translations): beside the
// executable, as in the build folder, or where the package puts it,
// share/allstats/ next to the bin/ folder of the executable. Empty when neither exists.
QString dataDir(const QString& name);
// The hooks folder beside the executable (or installed with it).
QString defaultHooksDir();
// The toolbar and window pictures, beside the executable or installed with it.
QString pictureDir();
// A folder for files the application writes without asking (the batch report of `make run`).
QString outputDir();

// The user's documents folder (XDG_DOCUMENTS_DIR, else ~/Documents), made when missing.
QString documentsDir();
// The folder the user last saved a spreadsheet or printout in, while it exists;
// else the documents folder.
QString lastFileFolder();
void rememberFileFolder(const QString& folder);

// A file name that says what the file holds: "项目进度及借款质量表-青禾省-2026年12月".
// Parts left empty are left out; characters file systems refuse become "_".
QString reportFileStem(const QString& title, const QString& regionName = {}, const QString& period = {});
// `path` when no such file exists, else the first free "name(2).ext", "name(3).ext", …
QString freeFilePath(const QString& path);
